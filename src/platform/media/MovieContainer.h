// The file formats a movie can be written in, chosen by the output's
// extension. QuickTime stays the default for a name FFmpeg knows no format
// by, as it always was; a name of a format we do not write is refused.
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
    // Animated pictures (GIF, WebP) hold one codec, named here, and are built
    // at the finish from frames kept aside; nullptr for movies.
    const char* animation = nullptr;
};

// QuickTime first; then in the order users are shown them.
const std::vector<MovieContainer>& movieContainers();
// The container the path's extension (in any case) names; QuickTime for
// every other name.
const MovieContainer& containerForPath(const std::string& path);
const MovieContainer* containerForMuxer(const std::string& muxer);

// Why nothing can be written at `path`: its extension names a format FFmpeg
// knows that is none of ours (".avi", ".png"). Nothing for our own extensions
// and for names FFmpeg knows no format by.
std::optional<std::string> unwrittenFormat(const std::string& path);

// Why the codec cannot be written at `path` (unwrittenFormat(), or a codec
// the container cannot hold, naming the containers that take it); nothing
// when it can, or when no container knows the codec (that is reported as an
// unknown codec).
std::optional<std::string> containerRefusal(const std::string& path, const std::string& fourcc);

// Every container, as "QuickTime (.mov), MP4 (.mp4, .m4v), ...".
std::string containerList();

}  // namespace lumivane
