// Property-list data as one value type: what is stored in recording files and
// what crosses the render link.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace lumivane {

class PlistValue;

using PlistArray = std::vector<PlistValue>;

// A dictionary that keeps its keys in insertion order; setting an existing key
// replaces its value in place.
class PlistDict {
public:
    using Entry = std::pair<std::string, PlistValue>;

    PlistDict();
    PlistDict(std::initializer_list<Entry> entries);
    PlistDict(const PlistDict&);
    PlistDict(PlistDict&&) noexcept;
    PlistDict& operator=(const PlistDict&);
    PlistDict& operator=(PlistDict&&) noexcept;
    ~PlistDict();

    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    void set(std::string key, PlistValue value);
    // Adds without looking for the key first: for sources whose keys are
    // already unique (a parsed property list), where set() would cost n^2.
    void append(std::string key, PlistValue value);
    bool erase(std::string_view key);
    void reserve(size_t count);

    size_t size() const;
    bool empty() const { return size() == 0; }
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    bool operator==(const PlistDict& other) const;

private:
    std::unique_ptr<std::vector<Entry>> m_entries;
};

struct PlistData {
    std::vector<uint8_t> bytes;
    bool operator==(const PlistData&) const = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, as property lists count them.
struct PlistDate {
    double seconds = 0;
    bool operator==(const PlistDate&) const = default;
};

class PlistValue {
public:
    enum class Type { None, Boolean, Integer, Real, String, Data, Date, Array, Dict };

    PlistValue() = default;
    PlistValue(bool v) : m_value(v) {}
    PlistValue(int v) : m_value(int64_t{v}) {}
    PlistValue(int64_t v) : m_value(v) {}
    PlistValue(double v) : m_value(v) {}
    PlistValue(std::string v) : m_value(std::move(v)) {}
    PlistValue(const char* v) : m_value(std::string(v)) {}
    PlistValue(PlistData v) : m_value(std::move(v)) {}
    PlistValue(PlistDate v) : m_value(v) {}
    PlistValue(PlistArray v) : m_value(std::move(v)) {}
    PlistValue(PlistDict v) : m_value(std::move(v)) {}

    Type type() const { return static_cast<Type>(m_value.index()); }
    bool isNone() const { return type() == Type::None; }
    bool isString() const { return type() == Type::String; }
    bool isNumber() const;
    bool isArray() const { return type() == Type::Array; }
    bool isDict() const { return type() == Type::Dict; }

    // Direct access; nullptr when the value holds another type.
    const std::string* asString() const { return std::get_if<std::string>(&m_value); }
    const PlistArray* asArray() const { return std::get_if<PlistArray>(&m_value); }
    PlistArray* asArray() { return std::get_if<PlistArray>(&m_value); }
    const PlistDict* asDict() const { return std::get_if<PlistDict>(&m_value); }
    PlistDict* asDict() { return std::get_if<PlistDict>(&m_value); }
    const PlistData* asData() const { return std::get_if<PlistData>(&m_value); }
    const PlistDate* asDate() const { return std::get_if<PlistDate>(&m_value); }
    std::optional<bool> asBool() const;

    // Numeric conversions in the manner of the platform's number and string
    // objects: a numeric string reads as its number, anything else as 0.
    int intValue() const;
    int64_t longLongValue() const;
    double doubleValue() const;
    bool boolValue() const;
    // Text of a string, or of a number in shortest form; empty otherwise.
    std::string stringValue() const;

    bool operator==(const PlistValue& other) const = default;

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, PlistData, PlistDate,
                 PlistArray, PlistDict>
        m_value;
};

// Reads an XML or binary property list; nullopt when the bytes are not one.
// Whether the bytes open with the binary property list's magic ("bplist00").
bool isBinaryPropertyList(std::span<const uint8_t> bytes);
std::optional<PlistValue> parsePropertyList(std::span<const uint8_t> bytes);
std::optional<PlistValue> parsePropertyList(std::string_view bytes);
namespace detail {
// The same reading done by libplist alone: the reference that the quicker
// reading of plain XML documents must match, for tests.
std::optional<PlistValue> parsePropertyListWithLibplist(std::span<const uint8_t> bytes);
}  // namespace detail
// nullopt when the value cannot be encoded (a None anywhere in it).
std::optional<std::string> xmlPropertyList(const PlistValue& value);
std::optional<std::vector<uint8_t>> binaryPropertyList(const PlistValue& value);

}  // namespace lumivane
