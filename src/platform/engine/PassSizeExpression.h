// A pass's WIDTH or HEIGHT: an arithmetic expression over $WIDTH, $HEIGHT and
// $<input> for the numeric inputs, evaluated with muParser at every render.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Result.h"

namespace mu {
class Parser;
}

namespace lumivane {

class PassSizeExpression {
public:
    // inputNames: the numeric inputs, in the order their values are passed.
    static Result<std::unique_ptr<PassSizeExpression>> compile(
        const std::string& expression, const std::vector<std::string>& inputNames);
    ~PassSizeExpression();

    // NaN when the expression cannot be evaluated.
    double evaluate(double width, double height, const std::vector<double>& inputValues);

private:
    PassSizeExpression();

    std::unique_ptr<mu::Parser> m_parser;
    std::vector<double> m_variables;  // $WIDTH, $HEIGHT, then the inputs; addresses stay put
};

}  // namespace lumivane
