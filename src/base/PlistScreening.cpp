// What libplist is never shown: binary lists with strings that would make it
// abort, and lists nested deeper than it can take.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/PlistParsing.h"
#include "base/PlistValue.h"

namespace lumivane {
namespace {

using detail::kMaxDepth;

uint64_t readBigEndian(std::span<const uint8_t> bytes, size_t offset, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes[offset + i];
    return value;
}

// Whether the string object at an offset holds a zero byte or unit. libplist
// keeps such strings whole but asserts (and so aborts the process) when one
// is read as text, so lists holding them are refused before it sees them.
bool stringObjectHasNul(std::span<const uint8_t> bytes, uint64_t offset) {
    if (offset >= bytes.size()) return false;
    const uint8_t marker = bytes[offset];
    const uint8_t kind = marker & 0xF0;
    if (kind != 0x50 && kind != 0x60 && kind != 0x70) return false;
    uint64_t length = marker & 0x0F;
    uint64_t start = offset + 1;
    if (length == 0x0F) {
        if (start >= bytes.size() || (bytes[start] & 0xF0) != 0x10) return false;
        size_t size = size_t{1} << (bytes[start] & 0x0F);
        if (size > 8 || start + 1 + size > bytes.size()) return false;
        length = readBigEndian(bytes, start + 1, size);
        start += 1 + size;
    }
    const uint64_t unit = kind == 0x60 ? 2 : 1;
    const uint64_t available = (bytes.size() - std::min<uint64_t>(start, bytes.size())) / unit;
    const uint64_t count = std::min(length, available);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = start + i * unit;
        if (bytes[at] == 0 && (unit == 1 || bytes[at + 1] == 0)) return true;
    }
    return false;
}

// Every object libplist can reach is listed in the offset table.
bool binaryListHasStringWithNul(std::span<const uint8_t> bytes) {
    constexpr size_t kTrailerSize = 32;
    if (bytes.size() < 8 + kTrailerSize) return false;
    const size_t trailer = bytes.size() - kTrailerSize;
    const size_t offsetSize = bytes[trailer + 6];
    const uint64_t objectCount = readBigEndian(bytes, trailer + 8, 8);
    const uint64_t tableOffset = readBigEndian(bytes, trailer + 24, 8);
    if (offsetSize == 0 || offsetSize > 8 || tableOffset >= trailer) return false;
    const uint64_t listed = std::min<uint64_t>(objectCount, (trailer - tableOffset) / offsetSize);
    for (uint64_t i = 0; i < listed; ++i) {
        uint64_t objectOffset = readBigEndian(bytes, tableOffset + i * offsetSize, offsetSize);
        if (stringObjectHasNul(bytes, objectOffset)) return true;
    }
    return false;
}

// --- nesting, before libplist sees it ---------------------------------------
//
// libplist builds, copies and frees its trees by recursion, so a list nested
// some hundred thousand levels deep overflows the stack. The bytes are
// measured first, without recursion.

// The offset table and trailer of a binary list, as far as the walk needs them.
struct BinaryLayout {
    std::span<const uint8_t> bytes;
    size_t offsetSize = 0;
    size_t refSize = 0;
    uint64_t objectCount = 0;
    uint64_t root = 0;
    uint64_t tableOffset = 0;
    size_t trailer = 0;
};

std::optional<BinaryLayout> binaryLayout(std::span<const uint8_t> bytes) {
    constexpr size_t kTrailerSize = 32;
    if (bytes.size() < 8 + kTrailerSize) return std::nullopt;
    BinaryLayout layout;
    layout.bytes = bytes;
    layout.trailer = bytes.size() - kTrailerSize;
    layout.offsetSize = bytes[layout.trailer + 6];
    layout.refSize = bytes[layout.trailer + 7];
    layout.objectCount = readBigEndian(bytes, layout.trailer + 8, 8);
    layout.root = readBigEndian(bytes, layout.trailer + 16, 8);
    layout.tableOffset = readBigEndian(bytes, layout.trailer + 24, 8);
    const bool sizesOk = layout.offsetSize >= 1 && layout.offsetSize <= 8 && layout.refSize >= 1 &&
                         layout.refSize <= 8;
    if (!sizesOk || layout.tableOffset >= layout.trailer || layout.root >= layout.objectCount)
        return std::nullopt;
    if (layout.objectCount > (layout.trailer - layout.tableOffset) / layout.offsetSize)
        return std::nullopt;
    return layout;
}

// The references an object holds: where they start and how many there are;
// none for a scalar, nullopt when the object lies outside the list.
struct References {
    uint64_t at = 0;
    uint64_t count = 0;
};

std::optional<References> referencesOf(const BinaryLayout& layout, uint64_t index) {
    const auto bytes = layout.bytes;
    const uint64_t offset =
        readBigEndian(bytes, layout.tableOffset + index * layout.offsetSize, layout.offsetSize);
    if (offset < 8 || offset >= layout.tableOffset) return std::nullopt;
    const uint8_t kind = bytes[offset] & 0xF0;
    const bool isArray = kind == 0xA0 || kind == 0xB0 || kind == 0xC0;
    if (!isArray && kind != 0xD0) return References{};
    uint64_t count = bytes[offset] & 0x0F;
    uint64_t at = offset + 1;
    if (count == 0x0F) {
        if (at >= layout.tableOffset || (bytes[at] & 0xF0) != 0x10) return std::nullopt;
        const size_t size = size_t{1} << (bytes[at] & 0x0F);
        if (size > 8 || at + 1 + size > layout.tableOffset) return std::nullopt;
        count = readBigEndian(bytes, at + 1, size);
        at += 1 + size;
    }
    if (kind == 0xD0) {
        if (count > std::numeric_limits<uint64_t>::max() / 2) return std::nullopt;
        count *= 2;
    }
    if (count > (layout.tableOffset - at) / layout.refSize) return std::nullopt;
    return References{at, count};
}

// Walks what the root reaches, depth first with a stack of its own; each
// object is measured once. Refuses lists deeper than kMaxDepth, lists that
// refer back into themselves, lists whose shared objects would unfold into
// more than kMaxUnfolded values, and references that lead nowhere.
bool binaryListIsShallow(const BinaryLayout& layout) {
    constexpr uint64_t kMaxUnfolded = uint64_t{1} << 25;
    enum : uint8_t { kUnseen, kOnPath, kDone };
    std::vector<uint8_t> state(layout.objectCount, kUnseen);
    std::vector<uint64_t> unfolded(layout.objectCount, 0);
    struct Frame {
        uint64_t index;
        References refs;
        uint64_t next;
        uint64_t size;
    };
    std::vector<Frame> path;
    const auto enter = [&](uint64_t index) {
        auto refs = referencesOf(layout, index);
        if (!refs || path.size() > size_t(kMaxDepth)) return false;
        state[index] = kOnPath;
        path.push_back({index, *refs, 0, 1});
        return true;
    };
    if (!enter(layout.root)) return false;
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.refs.count) {
            state[frame.index] = kDone;
            unfolded[frame.index] = frame.size;
            const uint64_t size = frame.size;
            path.pop_back();
            if (!path.empty()) path.back().size += size;
            if (!path.empty() && path.back().size > kMaxUnfolded) return false;
            continue;
        }
        const uint64_t child = readBigEndian(
            layout.bytes, frame.refs.at + frame.next * layout.refSize, layout.refSize);
        ++frame.next;
        if (child >= layout.objectCount || state[child] == kOnPath) return false;
        if (state[child] == kDone) {
            frame.size += unfolded[child];
            if (frame.size > kMaxUnfolded) return false;
            continue;
        }
        if (!enter(child)) return false;
    }
    return true;
}

// Element nesting of an XML document: comments, processing instructions,
// declarations and character data open nothing.
bool xmlListIsShallow(std::span<const uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto skipPast = [&](size_t from, std::string_view end) {
        const size_t found = text.find(end, from);
        return found == std::string_view::npos ? text.size() : found + end.size();
    };
    int depth = 0;
    size_t at = text.find('<');
    while (at != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        if (rest.starts_with("<!--")) {
            at = skipPast(at + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            at = skipPast(at + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            at = skipPast(at + 2, "?>");
        } else {
            const size_t close = text.find('>', at);
            if (close == std::string_view::npos) break;
            if (rest.starts_with("</")) {
                --depth;
            } else if (!rest.starts_with("<!") && text[close - 1] != '/' && ++depth > kMaxDepth) {
                return false;
            }
            at = close + 1;
        }
        at = text.find('<', at);
    }
    return true;
}

}  // namespace

bool detail::looksLikePropertyList(std::span<const uint8_t> bytes) {
    if (isBinaryPropertyList(bytes)) {
        auto layout = binaryLayout(bytes);
        return layout && binaryListIsShallow(*layout) && !binaryListHasStringWithNul(bytes);
    }
    // A zero byte is never part of an XML document (and libplist would keep it
    // inside a string, see above); libplist's XML reader wants a "<" somewhere.
    bool sawTag = false;
    for (uint8_t byte : bytes) {
        if (byte == 0) return false;
        sawTag = sawTag || byte == '<';
    }
    return sawTag && xmlListIsShallow(bytes);
}

bool isBinaryPropertyList(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && std::equal(bytes.begin(), bytes.begin() + 8, "bplist00");
}

}  // namespace lumivane
