// The second try for a shader stage that Mesa's strict GLSL 3.30 refused:
// documents are often written for looser compilers.
#pragma once

#include <string>
#include <vector>

namespace lumivane {

// `text` under GLSL 4.20, which converts implicitly where 3.30 refuses (an
// int returned from a float function, an int where a uint goes), with the
// operands of &, | and ^ cast to int on the given lines (1-based, of `text`)
// where the compiler wanted integers. The version line is replaced by one of
// the same length and no line is added, so line numbers stay. Empty when
// `text` does not start with the strict version line.
std::string lenientGlsl(const std::string& text, const std::vector<int>& bitOperandLines);

// The lines (of the compiled text) that Mesa's log, "0:12(5): error: LHS of
// `&' must be an integer", blames on a non-integer operand of a bit operation.
std::vector<int> nonIntegerBitOperandLines(const std::string& log);

}  // namespace lumivane
