#include "base/PlistValue.h"

#include "base/NumberText.h"

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

}  // namespace lumivane
