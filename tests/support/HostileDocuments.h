// Documents built to hurt a reader: lists nested far deeper than any real one,
// lists that refer to themselves, lists whose shared parts unfold without end.
// Made at test time so that none is stored in the repository.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivane::test {

// An XML property list of `depth` nested arrays around one integer.
inline std::string deepXmlPropertyList(int depth) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    xml.reserve(xml.size() + size_t(depth) * 15 + 64);
    for (int i = 0; i < depth; ++i) xml += "<array>";
    xml += "<integer>1</integer>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>\n";
}

// A binary property list of `count` arrays, object 0 the root; refsOf(i)
// names the objects array i holds (fewer than 15).
inline std::vector<uint8_t> binaryArrayList(
    uint64_t count, const std::function<std::vector<uint32_t>(uint64_t)>& refsOf) {
    std::vector<uint8_t> bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    const auto put = [&bytes](uint64_t value, int size) {
        for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
            bytes.push_back(uint8_t(value >> shift));
    };
    std::vector<uint64_t> offsets;
    offsets.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        offsets.push_back(bytes.size());
        const std::vector<uint32_t> refs = refsOf(i);
        bytes.push_back(uint8_t(0xA0 | refs.size()));
        for (uint32_t ref : refs) put(ref, 4);
    }
    const uint64_t table = bytes.size();
    for (uint64_t offset : offsets) put(offset, 8);
    for (int i = 0; i < 6; ++i) bytes.push_back(0);
    bytes.push_back(8);  // offset size
    bytes.push_back(4);  // reference size
    put(count, 8);
    put(0, 8);  // root
    put(table, 8);
    return bytes;
}

// `depth` one-element arrays, each holding the next; the innermost is empty.
inline std::vector<uint8_t> deepBinaryPropertyList(uint32_t depth) {
    return binaryArrayList(depth, [depth](uint64_t i) {
        return i + 1 < depth ? std::vector<uint32_t>{uint32_t(i + 1)} : std::vector<uint32_t>{};
    });
}

// Each of `levels` arrays holds the next one twice: 2^levels values unfolded.
inline std::vector<uint8_t> doublingBinaryPropertyList(uint32_t levels) {
    return binaryArrayList(levels, [levels](uint64_t i) {
        const uint32_t next = uint32_t(i + 1);
        return next < levels ? std::vector<uint32_t>{next, next} : std::vector<uint32_t>{};
    });
}

// A JSON value of `depth` nested arrays.
inline std::string deepJsonArray(int depth) {
    return std::string(size_t(depth), '[') + std::string(size_t(depth), ']');
}

}  // namespace lumivane::test
