// Independent looks at a movie the renderer wrote: what ffprobe decodes, and
// the QuickTime file's top-level boxes.
#pragma once

#include <string>
#include <vector>

namespace lumivane::test {

// Frames ffprobe decodes from the movie's video track; -1 when it cannot read it.
int decodedFrames(const std::string& movie);

// The top-level boxes of a QuickTime file, in order.
std::vector<std::string> topLevelBoxes(const std::string& path);

// A movie finished as an ordinary one: its index ahead of the media and no
// fragments left, as a render that ended normally or by a signal leaves it.
bool isFinishedMovie(const std::string& path);

}  // namespace lumivane::test
