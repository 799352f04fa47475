// What a chunk of a split render writes beside its image files: which frames
// of how many, and the origin of the render (MovieChunk's), so the check of
// the shared directory tells frames of different renders apart as the join
// of movies does. A hidden file per chunk, ".lumivane-chunk-FIRST-LAST.txt".
#pragma once

#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/media/MovieChunk.h"

namespace lumivane {

class SequenceManifest {
public:
    static std::string fileName(int first, int last);
    // Replaces the chunk's manifest whole (a rerun of the chunk writes it again).
    static Result<void> write(const std::string& directory, const MovieChunk& chunk);

    struct Found {
        std::string name;
        MovieChunk chunk;  // with its origin
    };
    // Every manifest in `directory`, sorted by name; fails naming one that is
    // no regular file or not in the form write() gives.
    static Result<std::vector<Found>> readAll(const std::string& directory);
};

}  // namespace lumivane
