#include "platform/engine/LenientGlsl.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace lumivane {
namespace {

constexpr std::string_view kStrictVersion = "#version 330 core\n";
constexpr std::string_view kLenientVersion = "#version 420 core\n";

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

// The index of the bracket matching the one at `at`, walking `step` (+1 or -1).
size_t matchingBracket(const std::string& line, size_t at, int step) {
    int depth = 0;
    for (size_t i = at; i < line.size(); i += step) {
        if (line[i] == '(' || line[i] == '[') depth += step;
        if (line[i] == ')' || line[i] == ']') depth -= step;
        if (depth == 0) return i;
        if (i == 0) break;
    }
    return std::string::npos;
}

// Where the operand ending just before `op` starts: a name with members,
// indices and call arguments, a number, or a bracketed expression.
size_t operandStart(const std::string& line, size_t op) {
    size_t i = op;
    while (i > 0 && line[i - 1] == ' ') --i;
    const size_t end = i;
    while (i > 0) {
        const char c = line[i - 1];
        if (c == ')' || c == ']') {
            const size_t open = matchingBracket(line, i - 1, -1);
            if (open == std::string::npos) return end;
            i = open;
        } else if (isWordChar(c)) {
            --i;
        } else {
            break;
        }
    }
    return i;
}

// One past where the operand starting after `op` ends.
size_t operandEnd(const std::string& line, size_t op) {
    size_t i = op + 1;
    while (i < line.size() && line[i] == ' ') ++i;
    if (i < line.size() && line[i] == '-') ++i;
    while (i < line.size()) {
        if (line[i] == '(' || line[i] == '[') {
            const size_t close = matchingBracket(line, i, +1);
            if (close == std::string::npos) return line.size();
            i = close + 1;
        } else if (isWordChar(line[i])) {
            ++i;
        } else {
            break;
        }
    }
    return i;
}

bool isBitOperator(const std::string& line, size_t i) {
    const char c = line[i];
    if (c != '&' && c != '|' && c != '^') return false;
    const char before = i > 0 ? line[i - 1] : ' ';
    const char after = i + 1 < line.size() ? line[i + 1] : ' ';
    return before != c && after != c && after != '=';
}

std::string castBitOperands(std::string line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (i == 0 || !isBitOperator(line, i)) continue;
        const size_t rightEnd = operandEnd(line, i);
        const size_t rightStart = line.find_first_not_of(' ', i + 1);
        const size_t leftStart = operandStart(line, i);
        const size_t leftEnd = line.find_last_not_of(' ', i - 1) + 1;
        if (rightStart >= rightEnd || leftStart >= leftEnd) continue;
        line.insert(rightEnd, ")");
        line.insert(rightStart, "int(");
        line.insert(leftEnd, ")");
        line.insert(leftStart, "int(");
        i += 5;  // onto the operator, which the left cast moved
    }
    return line;
}

}  // namespace

std::string lenientGlsl(const std::string& text, const std::vector<int>& bitOperandLines) {
    if (text.compare(0, kStrictVersion.size(), kStrictVersion) != 0) return {};
    std::istringstream lines(text);
    std::string out, line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const bool cast = std::find(bitOperandLines.begin(), bitOperandLines.end(), number) !=
                          bitOperandLines.end();
        out += (cast ? castBitOperands(line) : line) + "\n";
    }
    if (text.empty() || text.back() != '\n') out.pop_back();
    out.replace(0, kLenientVersion.size(), kLenientVersion);
    return out;
}

std::vector<int> nonIntegerBitOperandLines(const std::string& log) {
    std::vector<int> numbers;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("must be an integer") == std::string::npos) continue;
        // "0:12(5): ..." (Mesa)
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const int number = std::atoi(line.c_str() + colon + 1);
        if (number > 0) numbers.push_back(number);
    }
    return numbers;
}

}  // namespace lumivane
