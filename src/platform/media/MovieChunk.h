// Which frames of a render split across machines a movie holds. A chunk's
// movie carries it as text in its metadata, so the join finds the order and
// the gaps from the files alone.
#pragma once

#include <optional>
#include <string>

#include "base/Result.h"

namespace lumivane {

// Frames `first`..`last` (counted from 1, both included) of a render of
// `total` frames.
struct MovieChunk {
    int first;
    int last;
    int total;
    // What determined the frames (renderOriginText()'s form); empty for a
    // chunk written before pieces carried it.
    std::string origin = {};

    int frames() const { return last - first + 1; }
    bool operator==(const MovieChunk&) const = default;
};

// The metadata key a chunk's movie carries its text under.
inline constexpr const char* kMovieChunkKey = "com.lumivane.chunk";
// The key beside it for the chunk's origin: chunks of one render carry the
// same text, so pieces of different renders are told apart.
inline constexpr const char* kMovieOriginKey = "com.lumivane.origin";

// "FIRST-LAST/TOTAL", e.g. "121-180/300".
std::string movieChunkText(const MovieChunk& chunk);
// Reads movieChunkText()'s form; fails on anything else, and on ranges that
// are not 1 <= first <= last <= total.
Result<MovieChunk> parseMovieChunk(const std::string& text);
// What is wrong with a chunk, or nothing.
std::optional<std::string> movieChunkProblem(const MovieChunk& chunk);

// An origin is one "name=value" line per thing that decides the frames.
// Escapes what would break a line ('%', line ends; '=' in names).
std::string originLine(const std::string& name, const std::string& value);
// The first thing `origin` differs in from `other`, the origin of what
// `otherName` names: "motion_blur=4 where \"a.mov\" has 1"; nothing when
// they are the same.
std::optional<std::string> originDifference(const std::string& origin, const std::string& other,
                                            const std::string& otherName);

}  // namespace lumivane
