#include "base/PlistValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "../support/HostileDocuments.h"

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
    ASSERT_GT(binary.size(), 10u);
    binary.erase(binary.end() - 10, binary.end());
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

PlistValue nestedArrays(int depth) {
    PlistValue value(PlistArray{});
    for (int i = 1; i < depth; ++i) value = PlistValue(PlistArray{std::move(value)});
    return value;
}

std::optional<PlistValue> parseBytes(const std::vector<uint8_t>& bytes) {
    return parsePropertyList(std::span<const uint8_t>(bytes));
}

// libplist recurses once per level while building, copying and freeing its
// trees: deep lists must be refused before it sees them, in either form.
TEST(PlistValueIO, NestingBeyondTheLimitIsRefusedUpToItIsRead) {
    struct Case {
        const char* what;
        std::function<std::optional<PlistValue>()> parse;
        bool readable;
    };
    const Case cases[] = {
        {"xml 200000", [] { return parsePropertyList(test::deepXmlPropertyList(200000)); }, false},
        {"xml 600", [] { return parsePropertyList(test::deepXmlPropertyList(600)); }, false},
        {"xml 500", [] { return parsePropertyList(test::deepXmlPropertyList(500)); }, true},
        {"binary 100000", [] { return parseBytes(test::deepBinaryPropertyList(100000)); }, false},
        {"binary 514", [] { return parseBytes(test::deepBinaryPropertyList(514)); }, false},
        {"binary 500", [] { return parseBytes(test::deepBinaryPropertyList(500)); }, true},
        {"binary self reference",
         [] {
             return parseBytes(
                 test::binaryArrayList(1, [](uint64_t) { return std::vector<uint32_t>{0}; }));
         },
         false},
        {"binary loop of two",
         [] {
             return parseBytes(test::binaryArrayList(
                 2, [](uint64_t i) { return std::vector<uint32_t>{uint32_t(1 - i)}; }));
         },
         false},
        {"binary reference past the table",
         [] {
             return parseBytes(
                 test::binaryArrayList(1, [](uint64_t) { return std::vector<uint32_t>{7}; }));
         },
         false},
        {"binary doubling 64 levels",
         [] { return parseBytes(test::doublingBinaryPropertyList(64)); }, false},
        {"binary doubling 10 levels",
         [] { return parseBytes(test::doublingBinaryPropertyList(10)); }, true},
    };
    for (const Case& c : cases) {
        auto value = c.parse();
        EXPECT_EQ(value.has_value(), c.readable) << c.what;
    }
    EXPECT_EQ(parseBytes(test::deepBinaryPropertyList(500)), nestedArrays(500));
    // Tags inside comments and character data nest nothing.
    const std::string quoted = "<plist><!--" + std::string(2000, '<') + "--><string><![CDATA[" +
                               test::deepJsonArray(1000) + "<a><a><a>]]></string></plist>";
    auto text = parsePropertyList(quoted);
    ASSERT_TRUE(text);
    ASSERT_TRUE(text->isString());
}

std::optional<PlistValue> libplistReading(std::string_view text) {
    return detail::parsePropertyListWithLibplist(
        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Plain XML is read without libplist; whatever it reads must be what libplist
// reads, and whatever it cannot must still be read by libplist.
TEST(PlistValueIO, XmlReadsAsLibplistReadsIt) {
    const std::string head =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//A//DTD\" "
        "\"x.dtd\">\n<plist version=\"1.0\">";
    const std::string documents[] = {
        *xmlPropertyList(sampleValue()),
        head +
            "<dict><key>a &amp; &lt;b&gt; &quot;c&quot; &apos;d&apos;</key><string> x\ty "
            "</string><key/><string/><key>e</key><dict/><key>f</key><array/></dict></plist>",
        head +
            "<array><integer>-9223372036854775808</integer><integer>9223372036854775807</integer>"
            "<integer>0</integer><integer>-0</integer><integer>18446744073709551615</integer>"
            "</array>",
        "<plist><array><integer>010</integer><integer>0x10</integer><integer> 5</integer>"
        "<integer>+5</integer><integer/></array></plist>",
        "<plist><array><real>1e3</real><real>-0.5</real><real>.5</real><real>2.</real>"
        "<real>1e400</real><real>+3</real><real> 7</real></array></plist>",
        "<plist><array><true/><false/><true></true><string><![CDATA[<a>]]></string></array></"
        "plist>",
        "<plist><dict><key>k</key><integer>1</integer><key>k</key><integer>2</integer></dict></"
        "plist>",
        "<plist><dict><key>k</key><key>j</key><string>v</string></dict></plist>",
        "<plist><dict><string>no key</string></dict></plist>",
        "<plist><array><key>in an array</key></array></plist>",
        "<!-- a --><plist><!-- b --><array><!-- c --><string>s</string><!-- d --></array></plist>",
        "<array><string>no plist element</string></array>",
        "<plist><array><string>a</string></array></plist><trailing>ignored",
        "<plist><dict><key>CF$UID</key><integer>7</integer></dict></plist>",
        "<plist><array><date>2001-01-01T00:00:10Z</date><data>AAEC</data></array></plist>",
        "<plist><array><string>&#65;&#x42;&unknown;</string></array></plist>",
        "<plist><array><string>a</string></dict></plist>",
        "<plist><array><string>unclosed</array></plist>",
        "<plist></plist>",
        "<plist><string>top</string></plist>",
        "<plist><array attribute=\"1\"><string>a</string></array></plist>",
        "<plist><array> text <string>a</string></array></plist>",
        "<!DOCTYPE plist PUBLIC \"-//A\" \"x.dtd<string>q</string>",
        "<!DOCTYPE plist [<!ENTITY a \"b\">]><plist><string>s</string></plist>",
        "<?xml version=\"?>\"?><plist><string>s</string></plist>",
        "<plist version=\">\"><string>s</string></plist>",
        "<plist version=\xA2\"1.0\"><array><string>\"</string></array><string>s</string>",
        "<plist version=\"1.0\"<array><string>s</string></array></plist>",
    };
    for (const std::string& document : documents) {
        EXPECT_EQ(parsePropertyList(document), libplistReading(document)) << document;
    }
    // Documents made of random pieces, well formed or not.
    const std::vector<std::string> pieces = {"<dict>",
                                             "</dict>",
                                             "<array>",
                                             "</array>",
                                             "<key>k</key>",
                                             "<key>j</key>",
                                             "<key/>",
                                             "<string>s &amp; t</string>",
                                             "<string/>",
                                             "<integer>42</integer>",
                                             "<integer>-7</integer>",
                                             "<real>0.25</real>",
                                             "<true/>",
                                             "<false/>",
                                             "<dict/>",
                                             "<array/>",
                                             " ",
                                             "<!-- c -->"};
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        std::string document = "<plist>";
        const int count = 1 + int(random() % 12);
        for (int i = 0; i < count; ++i) document += pieces[random() % pieces.size()];
        document += "</plist>";
        EXPECT_EQ(parsePropertyList(document), libplistReading(document)) << document;
    }
}

TEST(PlistValueIO, LongArraysKeepTheirOrder) {
    PlistArray items;
    for (int i = 0; i < 100000; ++i) items.emplace_back(i);
    const PlistValue value(std::move(items));
    EXPECT_EQ(parsePropertyList(*xmlPropertyList(value)), value);
    EXPECT_EQ(parseBytes(*binaryPropertyList(value)), value);
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
