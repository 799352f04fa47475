// Arbitrary bytes as what a peer sends over the render link, both as a stream
// of frames cut anywhere and as the body of one frame: decoding must never
// crash, and every message it hands out must encode into a frame that decodes
// (text that is not UTF-8 may come back changed, so values are not compared).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/link/FrameDecoder.h"

namespace {

using namespace lumivane;

void checkMessages(FrameDecoder& decoder) {
    while (auto message = decoder.take()) {
        auto frame = encodeFrame(*message);
        if (!frame) continue;  // over the size limit once encoded
        FrameDecoder again;
        again.append(frame.value());
        if (again.failed() || !again.take()) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    FrameDecoder stream;
    const size_t cut = size ? data[0] % size : 0;
    stream.append(bytes.subspan(0, cut));
    stream.append(bytes.subspan(cut));
    checkMessages(stream);

    std::vector<uint8_t> framed{uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                                uint8_t(size)};
    framed.insert(framed.end(), bytes.begin(), bytes.end());
    FrameDecoder single;
    single.append(framed);
    checkMessages(single);
    return 0;
}
