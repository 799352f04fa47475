// Rewrites a finished fragmented movie as an ordinary one with its index in
// front, without re-encoding. The new file is built beside the old one and
// renamed over it, so a process killed meanwhile leaves the old file intact.
//
// A movie reached through symbolic links is written where they lead, and the
// links stay. A movie with other hard links, or an owner the new file cannot
// have, keeps its file: the finished movie is copied back into it.
#pragma once

#include <functional>
#include <string>

#include "base/Result.h"
#include "platform/media/FFmpegHandles.h"

namespace lumivane {

class MovieRewriter {
public:
    // The video track keeps its time scale; every frame gets frameDuration (in
    // that scale), which FFmpeg's reader can lose on one-frame fragments.
    // `known`: the stream's parameters as the writer had them; they fill in
    // what the file's header leaves open (pixel format, range) instead of
    // probing the file, which decodes frames.
    // `muxer`: the movie's container, QuickTime ("mov") or MP4 ("mp4").
    static Result<void> rewrite(const std::string& path, int timescale, int frameDuration,
                                const AVCodecParameters* known = nullptr,
                                const char* muxer = "mov");

    // Called with the number of packets copied so far, after each packet;
    // fault-injection tests stop the process there. Empty by default.
    static void setCopyObserver(std::function<void(int)> observer);

    // Where the new file is built: a hidden name in the movie's own directory,
    // so the final rename stays on one file system. `path` is the movie's
    // file itself, not a link to it.
    static std::string temporaryPattern(const std::string& path);
    // The file `path` names once every symbolic link on the way is followed;
    // `path` itself when it is no link. The file need not exist.
    static std::string finalTarget(const std::string& path);
    // Removes what killed rewrites of the movie at `path` left: regular files
    // named as temporaryPattern() makes them, in the movie's directory and in
    // its final target's.
    static void removeStaleTemporaries(const std::string& path);

    // What a join shares with the rewrite.
    //
    // Builds the movie at `path` anew: `build` writes it into a temporary file
    // (its path given) beside the movie's final target, which then replaces
    // the movie as rewrite() places it. A movie that does not exist yet gets
    // the mode a new file gets. On failure the movie is as it was.
    static Result<void> replace(const std::string& path,
                                const std::function<Result<void>(const std::string&)>& build);
    // The movie's header as the file has it; `probe` decodes a few frames for
    // what the header leaves open.
    static Result<AVInputFormatContextUPtr> openInput(const std::string& path, bool probe);
    // An ordinary movie with `input`'s streams, as rewrite() writes it;
    // `keepChunk`: `input`'s chunk of frames goes with it. `addSound`, when
    // given, adds the soundtrack instead of `input`'s, before the header.
    static Result<AVOutputFormatContextUPtr> openOutput(
        const std::string& path, const AVFormatContext& input, int timescale,
        const AVCodecParameters* known, bool keepChunk, const char* muxer = "mov",
        const std::function<Result<void>(AVFormatContext&)>& addSound = {});
    // Writes the trailer of an output openOutput() made and closes its file.
    static Result<void> finishOutput(AVFormatContext& output, const std::string& built);
};

}  // namespace lumivane
