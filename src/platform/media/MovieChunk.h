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

    int frames() const { return last - first + 1; }
    bool operator==(const MovieChunk&) const = default;
};

// The metadata key a chunk's movie carries its text under.
inline constexpr const char* kMovieChunkKey = "com.lumivane.chunk";

// "FIRST-LAST/TOTAL", e.g. "121-180/300".
std::string movieChunkText(const MovieChunk& chunk);
// Reads movieChunkText()'s form; fails on anything else, and on ranges that
// are not 1 <= first <= last <= total.
Result<MovieChunk> parseMovieChunk(const std::string& text);
// What is wrong with a chunk, or nothing.
std::optional<std::string> movieChunkProblem(const MovieChunk& chunk);

}  // namespace lumivane
