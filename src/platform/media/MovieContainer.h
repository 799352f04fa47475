// The file formats a movie can be written in, chosen by the output's
// extension. QuickTime stays the default for any other name, as it always was.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumivane {

struct MovieContainer {
    const char* name;        // as users know it, e.g. "MP4"
    const char* muxer;       // FFmpeg's muxer, e.g. "mp4"
    const char* extensions;  // as shown, e.g. ".mp4, .m4v"
    // Written as fragments while rendering and rewritten as an ordinary file
    // at the finish (QuickTime, MP4); the others are ordinary files as they
    // are written and only need their trailer.
    bool fragmented;
};

// QuickTime first; then in the order users are shown them.
const std::vector<MovieContainer>& movieContainers();
// The container the path's extension (in any case) names; QuickTime for
// every other name.
const MovieContainer& containerForPath(const std::string& path);
const MovieContainer* containerForMuxer(const std::string& muxer);

// Why the codec cannot be written at `path`, naming the containers that take
// it; nothing when it can, or when no container knows the codec (that is
// reported as an unknown codec).
std::optional<std::string> containerRefusal(const std::string& path, const std::string& fourcc);

}  // namespace lumivane
