#include "platform/engine/PassSizeExpression.h"

#include <muParser.h>

#include <cmath>
#include <limits>

namespace lumivane {
namespace {

double floorOf(double v) {
    return std::floor(v);
}
double ceilOf(double v) {
    return std::ceil(v);
}
double roundOf(double v) {
    return std::round(v);
}
double powOf(double a, double b) {
    return std::pow(a, b);
}

}  // namespace

PassSizeExpression::PassSizeExpression() : m_parser(std::make_unique<mu::Parser>()) {}
PassSizeExpression::~PassSizeExpression() = default;

Result<std::unique_ptr<PassSizeExpression>> PassSizeExpression::compile(
    const std::string& expression, const std::vector<std::string>& inputNames) {
    std::unique_ptr<PassSizeExpression> made(new PassSizeExpression());
    made->m_variables.assign(2 + inputNames.size(), 0.0);
    try {
        mu::Parser& parser = *made->m_parser;
        parser.DefineNameChars("0123456789_$abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        parser.DefineVar("$WIDTH", &made->m_variables[0]);
        parser.DefineVar("$HEIGHT", &made->m_variables[1]);
        for (size_t i = 0; i < inputNames.size(); ++i) {
            parser.DefineVar("$" + inputNames[i], &made->m_variables[2 + i]);
        }
        parser.DefineFun("floor", floorOf);
        parser.DefineFun("ceil", ceilOf);
        parser.DefineFun("round", roundOf);
        parser.DefineFun("pow", powOf);
        parser.SetExpr(expression);
        parser.Eval();  // reports syntax errors and unknown variables now
    } catch (const mu::Parser::exception_type& error) {
        return Error{"size expression \"" + expression + "\": " + error.GetMsg()};
    }
    return made;
}

double PassSizeExpression::evaluate(double width, double height,
                                    const std::vector<double>& inputValues) {
    m_variables[0] = width;
    m_variables[1] = height;
    for (size_t i = 0; i < inputValues.size() && i + 2 < m_variables.size(); ++i) {
        m_variables[2 + i] = inputValues[i];
    }
    try {
        return m_parser->Eval();
    } catch (const mu::Parser::exception_type&) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}

}  // namespace lumivane
