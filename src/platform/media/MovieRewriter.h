// Rewrites a finished fragmented movie as an ordinary one with its index in
// front, without re-encoding. The new file is built beside the old one and
// renamed over it, so a process killed meanwhile leaves the old file intact.
#pragma once

#include <functional>
#include <string>

#include "base/Result.h"

struct AVCodecParameters;

namespace lumivane {

class MovieRewriter {
public:
    // The video track keeps its time scale; every frame gets frameDuration (in
    // that scale), which FFmpeg's reader can lose on one-frame fragments.
    // `known`: the stream's parameters as the writer had them; they fill in
    // what the file's header leaves open (pixel format, range) instead of
    // probing the file, which decodes frames.
    static Result<void> rewrite(const std::string& path, int timescale, int frameDuration,
                                const AVCodecParameters* known = nullptr);

    // Called with the number of packets copied so far, after each packet;
    // fault-injection tests stop the process there. Empty by default.
    static void setCopyObserver(std::function<void(int)> observer);

    // Where the new file is built: a hidden name in the movie's own directory,
    // so the final rename stays on one file system.
    static std::string temporaryPattern(const std::string& path);
};

}  // namespace lumivane
