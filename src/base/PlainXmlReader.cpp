#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/NumberText.h"
#include "base/PlistParsing.h"
#include "base/PlistValue.h"

namespace lumivane {
namespace {

using detail::kMaxDepth;

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

std::optional<PlistValue> parsePropertyList(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    if (!detail::looksLikePropertyList(bytes)) return std::nullopt;
    if (!isBinaryPropertyList(bytes)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (auto plain = PlainXmlReader(text).read()) return plain;
    }
    return detail::parsePropertyListWithLibplist(bytes);
}

std::optional<PlistValue> parsePropertyList(std::string_view bytes) {
    return parsePropertyList(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace lumivane
