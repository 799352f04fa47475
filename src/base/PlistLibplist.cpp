// The bridge to libplist: trees to and from its nodes, and the documents it
// reads and writes.
#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "base/PlistParsing.h"
#include "base/PlistValue.h"

namespace lumivane {
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

using detail::kMaxDepth;

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

}  // namespace

std::optional<PlistValue> detail::parsePropertyListWithLibplist(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    if (!detail::looksLikePropertyList(bytes)) return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), &raw);
    PlistNode node(raw);
    if (!node) return std::nullopt;
    return fromNode(node.get(), 0);
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
