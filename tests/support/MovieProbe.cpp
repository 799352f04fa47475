#include "MovieProbe.h"

#include <algorithm>
#include <cstdint>

#include "ProcessRunner.h"

namespace lumivane::test {

int decodedFrames(const std::string& movie) {
    auto probe =
        runProcess({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                    "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", movie});
    if (probe.status != 0 || probe.out.empty()) return -1;
    return std::stoi(probe.out);
}

std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::string bytes = readFile(path);
    std::vector<std::string> boxes;
    size_t offset = 0;
    while (offset + 8 <= bytes.size()) {
        auto byteAt = [&](size_t i) {
            return static_cast<uint64_t>(static_cast<uint8_t>(bytes[i]));
        };
        uint64_t size = byteAt(offset) << 24 | byteAt(offset + 1) << 16 | byteAt(offset + 2) << 8 |
                        byteAt(offset + 3);
        boxes.push_back(bytes.substr(offset + 4, 4));
        if (size == 1 && offset + 16 <= bytes.size()) {
            size = 0;
            for (int i = 0; i < 8; ++i) size = size << 8 | byteAt(offset + 8 + i);
        }
        if (size < 8) break;
        offset += size;
    }
    return boxes;
}

bool isFinishedMovie(const std::string& path) {
    std::vector<std::string> boxes = topLevelBoxes(path);
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    return moov != boxes.end() && moov < mdat &&
           std::find(boxes.begin(), boxes.end(), "moof") == boxes.end();
}

}  // namespace lumivane::test
