#include <gtest/gtest.h>

#include <set>

#include "platform/media/CodecRegistry.h"

namespace lumivane {
namespace {

TEST(CodecRegistry, ListsTheEncodersUsersExpectUnderTheirCodes) {
    const auto avc1 = codecForFourCC("avc1");
    ASSERT_TRUE(avc1);
    EXPECT_EQ(avc1->encoder, "libx264");
    for (const char* code : {"mp4v", "jpeg", "png ", "rle ", "raw "}) {
        EXPECT_TRUE(codecForFourCC(code)) << code;
    }
    if (const auto hevc = codecForFourCC("hvc1")) {
        EXPECT_EQ(hevc->encoder, "libx265");
    }
    EXPECT_FALSE(codecForFourCC("hev1")) << "HEVC is listed under the code every player takes";
}

TEST(CodecRegistry, ProResProfilesAreSeparateEntries) {
    std::set<std::string> names;
    for (const char* code : {"apco", "apcs", "apcn", "apch", "ap4h"}) {
        const auto codec = codecForFourCC(code);
        ASSERT_TRUE(codec) << code;
        EXPECT_EQ(codec->encoder, "prores_ks");
        names.insert(codec->name);
    }
    EXPECT_EQ(names.size(), 5u) << "each profile needs its own display name";
}

TEST(CodecRegistry, CodesAreUniqueFourCharactersSortedAndSoftwareOnly) {
    const auto& codecs = installedCodecs();
    ASSERT_FALSE(codecs.empty());
    std::set<std::string> seen;
    for (size_t i = 0; i < codecs.size(); ++i) {
        EXPECT_EQ(codecs[i].fourcc.size(), 4u) << codecs[i].fourcc;
        EXPECT_TRUE(seen.insert(codecs[i].fourcc).second) << "duplicate " << codecs[i].fourcc;
        if (i > 0) {
            EXPECT_LT(codecs[i - 1].fourcc, codecs[i].fourcc);
        }
        EXPECT_FALSE(codecs[i].name.empty());
        for (const char* hardware : {"_vaapi", "_nvenc", "_qsv", "_v4l2m2m", "_omx"}) {
            EXPECT_EQ(codecs[i].encoder.find(hardware), std::string::npos) << codecs[i].encoder;
        }
    }
}

TEST(CodecRegistry, ContainersAreTheOnesTheirMuxersTake) {
    // QuickTime's table names formats that its muxer then refuses (VP9, AV1);
    // WebM takes nothing but the web codecs.
    for (const CodecInfo& codec : installedCodecs()) {
        const bool web = codec.fourcc == "vp08" || codec.fourcc == "vp09" || codec.fourcc == "av01";
        EXPECT_EQ(codec.takes("webm"), web) << codec.fourcc;
        if (web) {
            EXPECT_FALSE(codec.takes("mov")) << codec.fourcc;
        }
    }
    for (const char* code : {"avc1", "hvc1"}) {
        const auto codec = codecForFourCC(code);
        if (!codec) continue;
        for (const char* muxer : {"mov", "mp4", "matroska"}) EXPECT_TRUE(codec->takes(muxer));
    }
    EXPECT_FALSE(codecForFourCC("rle ")->takes("mp4")) << "MP4 has no code for Animation";
}

TEST(CodecRegistry, LookupIsExact) {
    EXPECT_FALSE(codecForFourCC("AVC1"));
    EXPECT_FALSE(codecForFourCC("png"));
    EXPECT_FALSE(codecForFourCC("public.png"));
    EXPECT_FALSE(codecForFourCC(""));
}

}  // namespace
}  // namespace lumivane
