#include "base/PlistValue.h"

#include "base/NumberText.h"

#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <unordered_set>

namespace lumivane {

// --- PlistDict -------------------------------------------------------------

PlistDict::PlistDict() : m_entries(std::make_unique<std::vector<Entry>>()) {}
PlistDict::PlistDict(std::initializer_list<Entry> entries) : PlistDict() {
    for (const auto& [key, value] : entries) set(key, value);
}
PlistDict::PlistDict(const PlistDict& other)
    : m_entries(std::make_unique<std::vector<Entry>>(*other.m_entries)) {}
PlistDict::PlistDict(PlistDict&& other) noexcept : m_entries(std::move(other.m_entries)) {
    other.m_entries = nullptr;
}
PlistDict& PlistDict::operator=(const PlistDict& other) {
    if (this != &other) m_entries = std::make_unique<std::vector<Entry>>(*other.m_entries);
    return *this;
}
PlistDict& PlistDict::operator=(PlistDict&& other) noexcept {
    std::swap(m_entries, other.m_entries);
    return *this;
}
PlistDict::~PlistDict() = default;

static const std::vector<PlistDict::Entry>& emptyEntries() {
    static const std::vector<PlistDict::Entry> empty;
    return empty;
}

const PlistValue* PlistDict::find(std::string_view key) const {
    if (!m_entries) return nullptr;
    for (const auto& entry : *m_entries)
        if (entry.first == key) return &entry.second;
    return nullptr;
}
PlistValue* PlistDict::find(std::string_view key) {
    return const_cast<PlistValue*>(std::as_const(*this).find(key));
}
void PlistDict::set(std::string key, PlistValue value) {
    if (!m_entries) m_entries = std::make_unique<std::vector<Entry>>();
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    m_entries->emplace_back(std::move(key), std::move(value));
}
void PlistDict::append(std::string key, PlistValue value) {
    if (!m_entries) m_entries = std::make_unique<std::vector<Entry>>();
    m_entries->emplace_back(std::move(key), std::move(value));
}
bool PlistDict::erase(std::string_view key) {
    if (!m_entries) return false;
    for (auto it = m_entries->begin(); it != m_entries->end(); ++it) {
        if (it->first == key) {
            m_entries->erase(it);
            return true;
        }
    }
    return false;
}
void PlistDict::reserve(size_t count) {
    if (!m_entries) m_entries = std::make_unique<std::vector<Entry>>();
    m_entries->reserve(count);
}
size_t PlistDict::size() const {
    return m_entries ? m_entries->size() : 0;
}
std::vector<PlistDict::Entry>::const_iterator PlistDict::begin() const {
    return m_entries ? m_entries->begin() : emptyEntries().begin();
}
std::vector<PlistDict::Entry>::const_iterator PlistDict::end() const {
    return m_entries ? m_entries->end() : emptyEntries().end();
}
bool PlistDict::operator==(const PlistDict& other) const {
    if (size() != other.size()) return false;
    for (auto a = begin(), b = other.begin(); a != end(); ++a, ++b)
        if (!(*a == *b)) return false;
    return true;
}

// --- PlistValue conversions ----------------------------------------------

namespace {

// The leading number of a text, as the platform's string scanning reads it:
// optional white space, sign, digits, fraction, exponent; 0 when none.
double leadingDouble(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    double value = strtodC(start, &end);
    if (end == start) return 0;
    return value;
}

int64_t leadingInteger(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    long long value = strtoll(start, &end, 10);
    return end == start ? 0 : value;
}

int64_t clampToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (value <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

}  // namespace

bool PlistValue::isNumber() const {
    Type t = type();
    return t == Type::Boolean || t == Type::Integer || t == Type::Real;
}

std::optional<bool> PlistValue::asBool() const {
    if (const bool* b = std::get_if<bool>(&m_value)) return *b;
    return std::nullopt;
}

int64_t PlistValue::longLongValue() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(m_value) ? 1 : 0;
        case Type::Integer:
            return std::get<int64_t>(m_value);
        case Type::Real:
            return clampToInt64(std::get<double>(m_value));
        case Type::String:
            return leadingInteger(std::get<std::string>(m_value));
        default:
            return 0;
    }
}

int PlistValue::intValue() const {
    if (type() == Type::Real) {
        double v = std::get<double>(m_value);
        if (std::isnan(v)) return 0;
        if (v >= 2147483647.0) return std::numeric_limits<int>::max();
        if (v <= -2147483648.0) return std::numeric_limits<int>::min();
        return static_cast<int>(v);
    }
    if (type() == Type::String) {
        int64_t v = leadingInteger(std::get<std::string>(m_value));
        if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
        if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
        return static_cast<int>(v);
    }
    return static_cast<int>(longLongValue());
}

double PlistValue::doubleValue() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(m_value) ? 1.0 : 0.0;
        case Type::Integer:
            return static_cast<double>(std::get<int64_t>(m_value));
        case Type::Real:
            return std::get<double>(m_value);
        case Type::String:
            return leadingDouble(std::get<std::string>(m_value));
        default:
            return 0;
    }
}

bool PlistValue::boolValue() const {
    if (type() == Type::String) {
        // Like the platform's string boolValue: Y, y, T, t or a non-zero digit
        // after optional white space, signs and leading zeros.
        const std::string& s = std::get<std::string>(m_value);
        size_t i = 0;
        while (i < s.size() && isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        while (i < s.size() && s[i] == '0') ++i;
        if (i >= s.size()) return false;
        char c = s[i];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    if (type() == Type::Real) return std::get<double>(m_value) != 0.0;
    return longLongValue() != 0;
}

std::string PlistValue::stringValue() const {
    switch (type()) {
        case Type::String:
            return std::get<std::string>(m_value);
        case Type::Boolean:
            return std::get<bool>(m_value) ? "1" : "0";
        case Type::Integer:
            return std::to_string(std::get<int64_t>(m_value));
        case Type::Real:
            return shortestText(std::get<double>(m_value));
        default:
            return {};
    }
}

// --- libplist bridge -----------------------------------------------------

namespace {

struct PlistNodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<void, PlistNodeDeleter>;

// What libplist hands out with malloc: keys, data bytes, dictionary iterators.
struct MallocDeleter {
    void operator()(void* memory) const { free(memory); }
};
template <class T>
using Malloced = std::unique_ptr<T, MallocDeleter>;

struct XmlTextDeleter {
    void operator()(char* text) const { plist_to_xml_free(text); }
};
struct BinaryDeleter {
    void operator()(char* bytes) const { plist_to_bin_free(bytes); }
};

constexpr int kMaxDepth = 512;

std::optional<PlistValue> fromNode(plist_t node, int depth);

std::optional<PlistValue> arrayFromNode(plist_t node, int depth) {
    PlistArray array;
    array.reserve(plist_array_get_size(node));
    // An iterator steps to the next item; reading by index may walk the
    // list from its head each time.
    plist_array_iter rawIter = nullptr;
    plist_array_new_iter(node, &rawIter);
    Malloced<void> iter(rawIter);
    if (!iter) return PlistValue(std::move(array));
    for (;;) {
        plist_t child = nullptr;
        plist_array_next_item(node, iter.get(), &child);
        if (!child) break;
        auto item = fromNode(child, depth + 1);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
    }
    return PlistValue(std::move(array));
}

std::optional<PlistValue> dictFromNode(plist_t node, int depth) {
    PlistDict dict;
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(node, &rawIter);
    Malloced<void> iter(rawIter);
    if (!iter) return PlistValue(std::move(dict));
    for (;;) {
        char* rawKey = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, iter.get(), &rawKey, &child);
        Malloced<char> key(rawKey);
        if (!child) break;
        auto value = fromNode(child, depth + 1);
        if (!value) return std::nullopt;
        // The parser keeps one entry per key.
        dict.append(key ? key.get() : "", std::move(*value));
    }
    return PlistValue(std::move(dict));
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return PlistValue(b != 0);
        }
        case PLIST_UINT: {
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            // libplist keeps integers as 64 bits and marks nothing signed;
            // two's complement gives back negative values written by others.
            return PlistValue(static_cast<int64_t>(v));
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            return PlistValue(v);
        }
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return PlistValue(text ? std::string(text, length) : std::string());
        }
        case PLIST_DATA: {
            char* rawBytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &rawBytes, &length);
            Malloced<char> bytes(rawBytes);
            PlistData data;
            if (bytes) data.bytes.assign(bytes.get(), bytes.get() + length);
            return PlistValue(std::move(data));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return PlistValue(PlistDate{sec + usec / 1e6});
        }
        case PLIST_ARRAY:
            return arrayFromNode(node, depth);
        case PLIST_DICT:
            return dictFromNode(node, depth);
        case PLIST_UID: {
            uint64_t v = 0;
            plist_get_uid_val(node, &v);
            return PlistValue(static_cast<int64_t>(v));
        }
        default:
            return std::nullopt;
    }
}

PlistNode toNode(const PlistValue& value, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (value.type()) {
        case PlistValue::Type::None:
            return nullptr;
        case PlistValue::Type::Boolean:
            return PlistNode(plist_new_bool(*value.asBool() ? 1 : 0));
        case PlistValue::Type::Integer:
            return PlistNode(plist_new_uint(static_cast<uint64_t>(value.longLongValue())));
        case PlistValue::Type::Real:
            return PlistNode(plist_new_real(value.doubleValue()));
        case PlistValue::Type::String:
            return PlistNode(plist_new_string(value.asString()->c_str()));
        case PlistValue::Type::Data: {
            const auto& bytes = value.asData()->bytes;
            return PlistNode(
                plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        case PlistValue::Type::Date: {
            // Whole seconds and microseconds, each 32 bits: a date read from a
            // list comes back as it was (its fraction may be negative, as at the
            // earliest date one holds); one no list can hold is refused.
            const double seconds = value.asDate()->seconds;
            const double whole = std::trunc(seconds);
            if (!std::isfinite(seconds) || whole < INT32_MIN || whole > INT32_MAX) return nullptr;
            return PlistNode(plist_new_date(static_cast<int32_t>(whole),
                                            static_cast<int32_t>((seconds - whole) * 1e6)));
        }
        case PlistValue::Type::Array: {
            PlistNode array(plist_new_array());
            for (const auto& item : *value.asArray()) {
                PlistNode child = toNode(item, depth + 1);
                if (!child) return nullptr;
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case PlistValue::Type::Dict: {
            PlistNode dict(plist_new_dict());
            for (const auto& [key, item] : *value.asDict()) {
                PlistNode child = toNode(item, depth + 1);
                if (!child) return nullptr;
                plist_dict_set_item(dict.get(), key.c_str(), child.release());
            }
            return dict;
        }
    }
    return nullptr;
}

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

bool looksLikePropertyList(std::span<const uint8_t> bytes) {
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

// --- plain XML, read in one pass ----------------------------------------------
//
// libplist 2.2 files every dictionary entry through a keyed search whose cost
// grows with the dictionary, so a recording of a million events took minutes to
// read. The documents this program and the platform write (dictionaries,
// arrays, keys, strings, decimal numbers, booleans) are read here in linear
// time; a document with anything else (dates, data, CDATA, character
// references, odd number forms, repeated or missing keys) goes to libplist,
// which stays the reference, so the two never read one document differently.

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct OpenContainer {
    bool isDict = false;
    std::string keyInParent;
    PlistArray items;
    std::vector<PlistDict::Entry> entries;
    std::unordered_set<std::string> keys;
    std::optional<std::string> key;  // read, waiting for its value
};

class PlainXmlReader {
public:
    explicit PlainXmlReader(std::string_view text) : m_text(text) {}

    std::optional<PlistValue> read() {
        if (!skipProlog()) return std::nullopt;
        for (;;) {
            if (!skipSpaceAndComments() || !startsWith("<")) return std::nullopt;
            const size_t close = m_text.find('>', m_at);
            if (close == std::string_view::npos) return std::nullopt;
            std::string_view tag = m_text.substr(m_at + 1, close - m_at - 1);
            m_at = close + 1;
            const bool empty = tag.ends_with('/');
            if (empty) tag.remove_suffix(1);
            std::optional<PlistValue> value;
            std::string keyInParent;
            if ((tag == "dict" || tag == "array") && !empty) {
                if (!open(tag == "dict")) return std::nullopt;
                continue;
            }
            if (tag == "key" && !empty && !m_open.empty() && m_open.back().isDict &&
                !m_open.back().key) {
                auto key = textUntil("</key>");
                if (!key) return std::nullopt;
                m_open.back().key = std::move(key);
                continue;
            }
            if (tag == "/dict" || tag == "/array") {
                if (m_open.empty() || m_open.back().isDict != (tag == "/dict") || m_open.back().key)
                    return std::nullopt;
                keyInParent = std::move(m_open.back().keyInParent);
                value = closeContainer();
            } else {
                value = scalar(tag, empty);
                if (!value) return std::nullopt;
                if (!m_open.empty() && m_open.back().isDict) {
                    if (!m_open.back().key) return std::nullopt;
                    keyInParent = std::move(*m_open.back().key);
                    m_open.back().key.reset();
                }
            }
            // libplist ends the document with its first complete value, but
            // goes on reading into an empty container at the top.
            if (m_open.empty()) {
                if (isUidDictionary(*value) || (empty && tag != "string")) return std::nullopt;
                return value;
            }
            if (!place(std::move(keyInParent), std::move(*value))) return std::nullopt;
        }
    }

private:
    bool startsWith(std::string_view prefix) const {
        return m_text.substr(m_at).starts_with(prefix);
    }

    bool skipPast(std::string_view end) {
        const size_t found = m_text.find(end, m_at);
        if (found == std::string_view::npos) return false;
        m_at = found + end.size();
        return true;
    }

    // Where `target` next occurs outside double quotes, as libplist looks for
    // the end of a declaration; npos when it does not or a quote is left open.
    size_t findOutsideQuotes(size_t from, std::string_view target) const {
        for (size_t i = from; i < m_text.size(); ++i) {
            if (m_text.substr(i).starts_with(target)) return i;
            if (m_text[i] == '"') {
                i = m_text.find('"', i + 1);
                if (i == std::string_view::npos) return i;
            }
        }
        return std::string_view::npos;
    }

    bool skipSpaceAndComments() {
        for (;;) {
            while (m_at < m_text.size() && isXmlSpace(m_text[m_at])) ++m_at;
            if (!startsWith("<!--")) return true;
            if (!skipPast("-->")) return false;
        }
    }

    bool skipProlog() {
        for (;;) {
            if (!skipSpaceAndComments()) return false;
            if (startsWith("<?")) {
                const size_t end = findOutsideQuotes(m_at + 2, "?>");
                if (end == std::string_view::npos) return false;
                m_at = end + 2;
            } else if (startsWith("<!DOCTYPE")) {
                // A declaration with a subset of its own is left to libplist.
                const size_t end = findOutsideQuotes(m_at, ">");
                if (end == std::string_view::npos || findOutsideQuotes(m_at, "[") < end)
                    return false;
                m_at = end + 1;
            } else if (startsWith("<plist>") || startsWith("<plist ")) {
                // libplist takes the tag to end at the first '<' or '>'.
                const size_t end = findOutsideQuotes(m_at + 1, ">");
                if (end == std::string_view::npos || m_text[end - 1] == '/' ||
                    findOutsideQuotes(m_at + 1, "<") < end)
                    return false;
                m_at = end + 1;
            } else {
                return true;
            }
        }
    }

    // Text up to the closing tag, with the five named entities decoded.
    std::optional<std::string> textUntil(std::string_view closing) {
        const size_t end = m_text.find('<', m_at);
        if (end == std::string_view::npos ||
            m_text.substr(end).substr(0, closing.size()) != closing)
            return std::nullopt;
        const std::string_view raw = m_text.substr(m_at, end - m_at);
        m_at = end + closing.size();
        std::string text;
        text.reserve(raw.size());
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (size_t i = 0; i < raw.size();) {
            if (raw[i] != '&') {
                text += raw[i++];
                continue;
            }
            const auto* entity =
                std::find_if(std::begin(kEntities), std::end(kEntities),
                             [&](const auto& e) { return raw.substr(i).starts_with(e.first); });
            if (entity == std::end(kEntities)) return std::nullopt;
            text += entity->second;
            i += entity->first.size();
        }
        return text;
    }

    std::optional<PlistValue> scalar(std::string_view tag, bool empty) {
        if (empty) {
            if (tag == "true") return PlistValue(true);
            if (tag == "false") return PlistValue(false);
            if (tag == "string") return PlistValue(std::string());
            if (tag == "dict") return PlistValue(PlistDict{});
            if (tag == "array") return PlistValue(PlistArray{});
            return std::nullopt;
        }
        if (tag == "string") {
            auto text = textUntil("</string>");
            return text ? std::optional<PlistValue>(PlistValue(std::move(*text))) : std::nullopt;
        }
        if (tag == "integer") {
            auto text = textUntil("</integer>");
            return text ? integerFrom(*text) : std::nullopt;
        }
        if (tag == "real") {
            auto text = textUntil("</real>");
            return text ? realFrom(*text) : std::nullopt;
        }
        return std::nullopt;
    }

    // Decimal only, no leading zeros, within 64 signed bits: libplist reads
    // other forms (octal, hexadecimal, unsigned) its own way.
    static std::optional<PlistValue> integerFrom(std::string_view text) {
        const bool negative = text.starts_with('-');
        const std::string_view digits = text.substr(negative ? 1 : 0);
        if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
        uint64_t magnitude = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
        if (magnitude > limit) return std::nullopt;
        return PlistValue(static_cast<int64_t>(negative ? 0 - magnitude : magnitude));
    }

    static std::optional<PlistValue> realFrom(const std::string& text) {
        const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' ||
                   c == '.' || c == 'e' || c == 'E';
        });
        if (!plain) return std::nullopt;
        char* end = nullptr;
        const double value = strtodC(text.c_str(), &end);
        if (end != text.c_str() + text.size()) return std::nullopt;
        return PlistValue(value);
    }

    bool open(bool isDict) {
        OpenContainer container;
        container.isDict = isDict;
        if (!m_open.empty() && m_open.back().isDict) {
            if (!m_open.back().key) return false;
            container.keyInParent = std::move(*m_open.back().key);
            m_open.back().key.reset();
        }
        m_open.push_back(std::move(container));
        return true;
    }

    PlistValue closeContainer() {
        OpenContainer& top = m_open.back();
        PlistValue value;
        if (top.isDict) {
            PlistDict dict;
            dict.reserve(top.entries.size());
            top.keys.clear();
            for (auto& [key, item] : top.entries) dict.append(std::move(key), std::move(item));
            value = PlistValue(std::move(dict));
        } else {
            value = PlistValue(std::move(top.items));
        }
        m_open.pop_back();
        return value;
    }

    bool place(std::string key, PlistValue value) {
        OpenContainer& top = m_open.back();
        if (!top.isDict) {
            top.items.push_back(std::move(value));
            return true;
        }
        top.entries.emplace_back(std::move(key), std::move(value));
        // A repeated key is replaced in place by libplist; such documents go there.
        return top.keys.insert(top.entries.back().first).second;
    }

    // libplist turns a dictionary whose one key is "CF$UID" into a UID.
    static bool isUidDictionary(const PlistValue& value) {
        const PlistDict* dict = value.asDict();
        return dict && dict->size() == 1 && dict->contains("CF$UID");
    }

    std::string_view m_text;
    size_t m_at = 0;
    std::vector<OpenContainer> m_open;
};

}  // namespace

bool isBinaryPropertyList(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && std::equal(bytes.begin(), bytes.begin() + 8, "bplist00");
}

std::optional<PlistValue> parsePropertyList(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    if (!looksLikePropertyList(bytes)) return std::nullopt;
    if (!isBinaryPropertyList(bytes)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (auto plain = PlainXmlReader(text).read()) return plain;
    }
    return detail::parsePropertyListWithLibplist(bytes);
}

std::optional<PlistValue> detail::parsePropertyListWithLibplist(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    if (!looksLikePropertyList(bytes)) return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), &raw);
    PlistNode node(raw);
    if (!node) return std::nullopt;
    return fromNode(node.get(), 0);
}

std::optional<PlistValue> parsePropertyList(std::string_view bytes) {
    return parsePropertyList(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::string> xmlPropertyList(const PlistValue& value) {
    PlistNode node = toNode(value, 0);
    if (!node) return std::nullopt;
    char* rawXml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node.get(), &rawXml, &length);
    std::unique_ptr<char, XmlTextDeleter> xml(rawXml);
    if (!xml) return std::nullopt;
    return std::string(xml.get(), length);
}

std::optional<std::vector<uint8_t>> binaryPropertyList(const PlistValue& value) {
    PlistNode node = toNode(value, 0);
    if (!node) return std::nullopt;
    char* rawBytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node.get(), &rawBytes, &length);
    std::unique_ptr<char, BinaryDeleter> bytes(rawBytes);
    if (!bytes) return std::nullopt;
    return std::vector<uint8_t>(bytes.get(), bytes.get() + length);
}

}  // namespace lumivane
