#include "base/PlistValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumivane {
namespace {

PlistValue sampleValue() {
    PlistDict inner{{"z", 1}, {"a", "text <&> \"quoted\""}, {"m", -2.5}};
    PlistArray array{PlistValue(true),        PlistValue(false),
                     PlistValue(int64_t{-5}), PlistValue(std::numeric_limits<int64_t>::max()),
                     PlistValue(1e300),       PlistValue(PlistData{{0, 1, 2, 255}})};
    PlistDict root;
    root.set("zeta", std::move(inner));
    root.set("alpha", std::move(array));
    root.set("mid", "ünïcode ✓");
    root.set("real", 0.1 + 0.2);
    root.set("empty", PlistDict{});
    return PlistValue(std::move(root));
}

TEST(PlistValueIO, XmlRoundTripKeepsValuesAndKeyOrder) {
    PlistValue value = sampleValue();
    auto xml = xmlPropertyList(value);
    ASSERT_TRUE(xml);
    auto back = parsePropertyList(*xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
    std::vector<std::string> keys;
    for (const auto& entry : *back->asDict()) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"zeta", "alpha", "mid", "real", "empty"}));
}

TEST(PlistValueIO, BinaryRoundTrip) {
    PlistValue value = sampleValue();
    auto binary = binaryPropertyList(value);
    ASSERT_TRUE(binary);
    auto back = parsePropertyList(std::span<const uint8_t>(*binary));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
}

TEST(PlistValueIO, NoneCannotBeEncoded) {
    PlistDict dict{{"a", PlistValue()}};
    EXPECT_FALSE(xmlPropertyList(PlistValue(dict)));
    EXPECT_FALSE(binaryPropertyList(PlistValue(dict)));
}

TEST(PlistValueIO, GarbageAndTruncatedInputParseAsNothing) {
    auto xml = *xmlPropertyList(sampleValue());
    EXPECT_FALSE(parsePropertyList(std::string_view()));
    EXPECT_FALSE(parsePropertyList("not a property list"));
    EXPECT_FALSE(parsePropertyList(std::string_view(xml).substr(0, xml.size() / 2)));
    auto binary = *binaryPropertyList(sampleValue());
    binary.resize(binary.size() - 10);
    EXPECT_FALSE(parsePropertyList(std::span<const uint8_t>(binary)));
}

// Replaces the first occurrence of a marker byte in an encoded list.
template <class Bytes>
Bytes withZeroAt(Bytes bytes, char marker) {
    auto at = std::find(bytes.begin(), bytes.end(), static_cast<uint8_t>(marker));
    EXPECT_NE(at, bytes.end());
    if (at != bytes.end()) *at = 0;
    return bytes;
}

// libplist aborts the process when a string or key holding a zero byte is read
// as text; such lists must be refused, not crash the reader.
TEST(PlistValueIO, StringsWithZeroBytesAreRefused) {
    auto binaryString = withZeroAt(*binaryPropertyList(PlistValue("ab#cd")), '#');
    EXPECT_FALSE(parsePropertyList(std::span<const uint8_t>(binaryString)));
    auto binaryKey = withZeroAt(*binaryPropertyList(PlistValue(PlistDict{{"k#y", 1}})), '#');
    EXPECT_FALSE(parsePropertyList(std::span<const uint8_t>(binaryKey)));
    auto xmlString = withZeroAt(*xmlPropertyList(PlistValue("ab#cd")), '#');
    EXPECT_FALSE(parsePropertyList(xmlString));
    auto xmlKey = withZeroAt(*xmlPropertyList(PlistValue(PlistDict{{"k#y", 1}})), '#');
    EXPECT_FALSE(parsePropertyList(xmlKey));
    // Zero bytes elsewhere in a binary list are ordinary.
    PlistValue numbers(PlistArray{0, int64_t{256}, PlistValue(PlistData{{0, 0}})});
    auto binary = *binaryPropertyList(numbers);
    EXPECT_EQ(parsePropertyList(std::span<const uint8_t>(binary)), numbers);
}

TEST(PlistValueConversions, NumericStringsReadAsNumbers) {
    EXPECT_EQ(PlistValue("42").intValue(), 42);
    EXPECT_EQ(PlistValue("  -7xyz").intValue(), -7);
    EXPECT_EQ(PlistValue("abc").intValue(), 0);
    EXPECT_EQ(PlistValue("99999999999").intValue(), std::numeric_limits<int>::max());
    EXPECT_DOUBLE_EQ(PlistValue("0.25").doubleValue(), 0.25);
    EXPECT_DOUBLE_EQ(PlistValue(" 1e3 s").doubleValue(), 1000);
    EXPECT_EQ(PlistValue("").doubleValue(), 0);
    EXPECT_EQ(PlistValue(2.9).intValue(), 2);
    EXPECT_EQ(PlistValue(-2.9).intValue(), -2);
    EXPECT_EQ(PlistValue(std::nan("")).intValue(), 0);
    EXPECT_EQ(PlistValue(true).intValue(), 1);
}

TEST(PlistValueConversions, BooleanReadingOfStrings) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", "  +007"})
        EXPECT_TRUE(PlistValue(yes).boolValue()) << yes;
    for (const char* no : {"NO", "false", "0", "", "  000", "x"})
        EXPECT_FALSE(PlistValue(no).boolValue()) << no;
    EXPECT_TRUE(PlistValue(0.5).boolValue());
    EXPECT_FALSE(PlistValue(int64_t{0}).boolValue());
}

TEST(PlistValueConversions, OtherTypesReadAsZero) {
    EXPECT_EQ(PlistValue(PlistDict{}).intValue(), 0);
    EXPECT_EQ(PlistValue(PlistArray{}).doubleValue(), 0);
    EXPECT_EQ(PlistValue().stringValue(), "");
    EXPECT_EQ(PlistValue(0.5).stringValue(), "0.5");
}

TEST(PlistDictOrder, SettingAnExistingKeyKeepsItsPlace) {
    PlistDict dict;
    dict.set("b", 1);
    dict.set("a", 2);
    dict.set("b", 3);
    ASSERT_EQ(dict.size(), 2u);
    EXPECT_EQ(dict.begin()->first, "b");
    EXPECT_EQ(dict.find("b")->intValue(), 3);
    EXPECT_TRUE(dict.erase("b"));
    EXPECT_FALSE(dict.contains("b"));
}

TEST(PlistDictOrder, MovedFromDictStaysUsable) {
    PlistDict a{{"k", 1}};
    PlistDict b(std::move(a));
    EXPECT_TRUE(a.empty());
    a.set("x", 2);
    EXPECT_EQ(a.size(), 1u);
    EXPECT_EQ(b.size(), 1u);
}

}  // namespace
}  // namespace lumivane
