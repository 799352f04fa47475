#include "base/PlistValue.h"

#include "base/NumberText.h"

#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

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
    uint32_t count = plist_array_get_size(node);
    array.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
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
            double seconds = value.asDate()->seconds;
            double whole = std::floor(seconds);
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

bool looksLikePropertyList(std::span<const uint8_t> bytes) {
    if (isBinaryPropertyList(bytes)) return !binaryListHasStringWithNul(bytes);
    // A zero byte is never part of an XML document (and libplist would keep it
    // inside a string, see above); libplist's XML reader wants a "<" somewhere.
    bool sawTag = false;
    for (uint8_t byte : bytes) {
        if (byte == 0) return false;
        sawTag = sawTag || byte == '<';
    }
    return sawTag;
}

}  // namespace

bool isBinaryPropertyList(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && std::equal(bytes.begin(), bytes.begin() + 8, "bplist00");
}

std::optional<PlistValue> parsePropertyList(std::span<const uint8_t> bytes) {
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
