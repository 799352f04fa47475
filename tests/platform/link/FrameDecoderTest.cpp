#include "platform/link/FrameDecoder.h"

#include <gtest/gtest.h>

#include "../../support/HostileDocuments.h"

namespace lumivane {
namespace {

std::vector<uint8_t> frameOf(const PlistValue& message) {
    Result<std::vector<uint8_t>> frame = encodeFrame(message);
    EXPECT_TRUE(frame.ok());
    return frame ? frame.value() : std::vector<uint8_t>{};
}

std::vector<uint8_t> rawFrame(uint32_t length, std::vector<uint8_t> body) {
    std::vector<uint8_t> frame{static_cast<uint8_t>(length >> 24),
                               static_cast<uint8_t>(length >> 16),
                               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

TEST(FrameDecoder, FrameIsBigEndianLengthThenBinaryPropertyList) {
    PlistValue message = PlistDict{{"id", 1}, {"op", "class"}, {"object", "root"}};
    std::vector<uint8_t> frame = frameOf(message);
    ASSERT_GT(frame.size(), 12u);
    uint32_t length = (uint32_t{frame[0]} << 24) | (uint32_t{frame[1]} << 16) |
                      (uint32_t{frame[2]} << 8) | frame[3];
    EXPECT_EQ(length, frame.size() - 4);
    EXPECT_EQ(std::string(frame.begin() + 4, frame.begin() + 12), "bplist00");
}

TEST(FrameDecoder, MessagesSplitAtEveryByteAndJoinedInOneChunkComeOutWhole) {
    PlistValue first = PlistDict{{"id", 1}, {"result", "RenderSettings"}};
    PlistValue second = PlistDict{{"id", 2}, {"result", PlistArray{1.5, "x", PlistDict{}}}};
    std::vector<uint8_t> stream = frameOf(first);
    std::vector<uint8_t> more = frameOf(second);
    stream.insert(stream.end(), more.begin(), more.end());

    FrameDecoder byteByByte;
    std::vector<PlistValue> seen;
    for (uint8_t byte : stream) {
        byteByByte.append(std::span<const uint8_t>(&byte, 1));
        while (auto message = byteByByte.take()) seen.push_back(*message);
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], first);
    EXPECT_EQ(seen[1], second);
    EXPECT_FALSE(byteByByte.hasPartialMessage());

    FrameDecoder whole;
    whole.append(stream);
    EXPECT_EQ(whole.take(), first);
    EXPECT_EQ(whole.take(), second);
    EXPECT_FALSE(whole.take().has_value());
}

TEST(FrameDecoder, TruncatedMessageWaitsAndIsReportedAsPartial) {
    std::vector<uint8_t> frame = frameOf(PlistDict{{"id", 3}});
    frame.pop_back();
    FrameDecoder decoder;
    decoder.append(frame);
    EXPECT_FALSE(decoder.take().has_value());
    EXPECT_FALSE(decoder.failed());
    EXPECT_TRUE(decoder.hasPartialMessage());
}

TEST(FrameDecoder, LengthOver64MiBFailsAtOnceWithoutWaitingForTheBody) {
    FrameDecoder decoder;
    decoder.append(rawFrame(static_cast<uint32_t>(kMaxLinkMessageSize + 1), {}));
    EXPECT_TRUE(decoder.failed());
    EXPECT_NE(decoder.failure().find("64 MiB"), std::string::npos);
    // Nothing after the fault is taken, not even a good message.
    decoder.append(frameOf(PlistDict{{"id", 1}}));
    EXPECT_FALSE(decoder.take().has_value());
}

TEST(FrameDecoder, GarbageXmlAndEmptyBodiesFail) {
    std::string xml = *xmlPropertyList(PlistDict{{"id", 1}});
    std::vector<std::vector<uint8_t>> bodies{
        {'h', 'e', 'l', 'l', 'o'},
        {},
        std::vector<uint8_t>(xml.begin(), xml.end()),
        {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xff, 0xff, 0xff},
    };
    for (const auto& body : bodies) {
        FrameDecoder decoder;
        decoder.append(rawFrame(static_cast<uint32_t>(body.size()), body));
        EXPECT_TRUE(decoder.failed()) << "body of " << body.size() << " bytes";
        EXPECT_FALSE(decoder.take().has_value());
    }
}

// A peer that sends lists nested past any real message is cut off, whether
// the nesting is deep, circular or unfolds into billions of values.
TEST(FrameDecoder, HostileNestingFailsTheStream) {
    const std::vector<uint8_t> bodies[] = {
        test::deepBinaryPropertyList(100000),
        test::doublingBinaryPropertyList(60),
        test::binaryArrayList(2, [](uint64_t i) { return std::vector<uint32_t>{uint32_t(1 - i)}; }),
    };
    for (const auto& body : bodies) {
        FrameDecoder decoder;
        decoder.append(rawFrame(static_cast<uint32_t>(body.size()), body));
        EXPECT_TRUE(decoder.failed()) << "body of " << body.size() << " bytes";
        EXPECT_FALSE(decoder.take().has_value());
    }
    FrameDecoder decoder;
    const auto shallow = test::deepBinaryPropertyList(100);
    decoder.append(rawFrame(static_cast<uint32_t>(shallow.size()), shallow));
    EXPECT_FALSE(decoder.failed());
    EXPECT_TRUE(decoder.take().has_value());
}

TEST(FrameDecoder, EncodingRefusesValuesThatCannotTravel) {
    EXPECT_FALSE(encodeFrame(PlistDict{{"id", 1}, {"result", PlistValue()}}).ok());
    // Decoded from a peer's ASCII string with high bytes; re-encoded it would
    // be a frame no reader takes.
    EXPECT_FALSE(encodeFrame(PlistDict{{"id", 1}, {"\xff", "value"}}).ok());
    EXPECT_FALSE(encodeFrame(PlistDict{{"id", 1}, {"result", "\xff"}}).ok());
    EXPECT_TRUE(encodeFrame(PlistDict{{"id", 1}, {"result", "ünïcode ✓"}}).ok());
    PlistData huge;
    huge.bytes.resize(kMaxLinkMessageSize);
    Result<std::vector<uint8_t>> frame = encodeFrame(PlistDict{{"result", std::move(huge)}});
    ASSERT_FALSE(frame.ok());
    EXPECT_NE(frame.error().find("64 MiB"), std::string::npos);
}

}  // namespace
}  // namespace lumivane
