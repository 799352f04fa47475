#include "platform/media/MovieChunk.h"

#include <charconv>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

namespace lumivane {
namespace {

// A whole positive decimal number, nothing before or after it.
bool readNumber(std::string_view text, int& number) {
    if (text.empty() || text.front() == '+' || text.front() == '-') return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

std::string escaped(const std::string& text, bool name) {
    std::string out;
    for (const char c : text) {
        if (c == '%' || c == '\n' || c == '\r' || (name && c == '=')) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

using OriginLines = std::vector<std::pair<std::string, std::string>>;

OriginLines originLines(const std::string& origin) {
    OriginLines lines;
    std::istringstream stream(origin);
    for (std::string line; std::getline(stream, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            lines.emplace_back(line, "");
        } else {
            lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return lines;
}

const std::string* valueOf(const OriginLines& lines, const std::string& name) {
    for (const auto& [key, value] : lines) {
        if (key == name) return &value;
    }
    return nullptr;
}

}  // namespace

std::string originLine(const std::string& name, const std::string& value) {
    return escaped(name, true) + "=" + escaped(value, false) + "\n";
}

std::optional<std::string> originDifference(const std::string& origin, const std::string& other,
                                            const std::string& otherName) {
    if (origin == other) return std::nullopt;
    const OriginLines ours = originLines(origin);
    const OriginLines theirs = originLines(other);
    auto differs = [&](const std::string& name, const std::string* value,
                       const std::string* their) {
        return name + "=" + (value ? *value : "(none)") + " where " + otherName + " has " +
               (their ? *their : "none");
    };
    for (const auto& [name, value] : ours) {
        const std::string* their = valueOf(theirs, name);
        if (!their || *their != value) return differs(name, &value, their);
    }
    for (const auto& [name, value] : theirs) {
        if (!valueOf(ours, name)) return differs(name, nullptr, &value);
    }
    return "its settings in another order than " + otherName;
}

std::string movieChunkText(const MovieChunk& chunk) {
    return std::to_string(chunk.first) + "-" + std::to_string(chunk.last) + "/" +
           std::to_string(chunk.total);
}

std::optional<std::string> movieChunkProblem(const MovieChunk& chunk) {
    if (chunk.first < 1 || chunk.last < chunk.first || chunk.total < chunk.last) {
        return "frames " + movieChunkText(chunk) +
               " are no range of a render (1 <= first <= last <= total)";
    }
    return std::nullopt;
}

Result<MovieChunk> parseMovieChunk(const std::string& text) {
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    MovieChunk chunk{};
    const std::string_view view(text);
    if (dash == std::string::npos || slash == std::string::npos || slash < dash ||
        !readNumber(view.substr(0, dash), chunk.first) ||
        !readNumber(view.substr(dash + 1, slash - dash - 1), chunk.last) ||
        !readNumber(view.substr(slash + 1), chunk.total)) {
        return Error{"'" + text + "' is no chunk of frames (FIRST-LAST/TOTAL)"};
    }
    if (auto problem = movieChunkProblem(chunk)) return Error{*problem};
    return chunk;
}

}  // namespace lumivane
