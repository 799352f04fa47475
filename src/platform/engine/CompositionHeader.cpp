#include "platform/engine/CompositionHeader.h"

#include <algorithm>
#include <string_view>

namespace lumivane {
namespace {

int lineOfOffset(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + int(std::count(text.begin(), text.begin() + offset, '\n'));
}

// The deepest nesting of arrays and objects in a JSON text, counted without
// recursion; brackets inside strings do not count.
int jsonNestingDepth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

}  // namespace

Result<nlohmann::json> readCompositionHeader(const std::string& text) {
    const size_t open = text.find("/*");
    if (open == std::string::npos)
        return Error{"no header: the document must open with a /*{...}*/ comment"};
    const size_t close = text.find("*/", open + 2);
    if (close == std::string::npos) return Error{"the header comment is not closed"};
    const std::string headerText = text.substr(open + 2, close - open - 2);
    if (jsonNestingDepth(headerText) > kMaxHeaderDepth)
        return Error{"header nests arrays or objects more than " + std::to_string(kMaxHeaderDepth) +
                     " deep"};
    try {
        return nlohmann::json::parse(headerText);
    } catch (const nlohmann::json::parse_error& error) {
        const int line = lineOfOffset(text, open + 2 + (error.byte > 0 ? error.byte - 1 : 0));
        const std::string what = error.what();
        const size_t reason = what.find(": ", what.find("column"));
        return Error{"header is not valid JSON (line " + std::to_string(line) + ")" +
                     (reason == std::string::npos ? "" : what.substr(reason))};
    }
}

}  // namespace lumivane
