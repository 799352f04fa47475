#include "platform/engine/ShaderProgram.h"

#include <cctype>
#include <optional>
#include <sstream>

#include "platform/engine/LenientGlsl.h"

namespace lumivane {
namespace {

std::string infoLog(GLuint object, bool isProgram) {
    GLint length = 0;
    isProgram ? glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length)
              : glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(std::max(length, 1)), '\0');
    GLsizei written = 0;
    isProgram ? glGetProgramInfoLog(object, length, &written, log.data())
              : glGetShaderInfoLog(object, length, &written, log.data());
    log.resize(size_t(std::max(written, 0)));
    return log;
}

// `rawLog`, when given, receives the driver's own log of a failure.
Result<GLShader> compile(GLenum type, const ShaderStageSource& source,
                         std::string* rawLog = nullptr) {
    GLShader shader(glCreateShader(type));
    const char* text = source.text.c_str();
    glShaderSource(shader.id(), 1, &text, nullptr);
    glCompileShader(shader.id());
    GLint ok = GL_FALSE;
    glGetShaderiv(shader.id(), GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    const std::string log = infoLog(shader.id(), false);
    if (rawLog) *rawLog = log;
    return Error{ShaderProgram::describeLog(source, log)};
}

// A stage that fails is tried once more, made lenient (see LenientGlsl.h);
// a stage that compiles is never touched, and a failure of both reports the
// strict compiler's error.
Result<GLShader> compileLeniently(GLenum type, const ShaderStageSource& source) {
    std::string log;
    auto strict = compile(type, source, &log);
    if (strict) return strict;
    ShaderStageSource lenient = source;
    lenient.text = lenientGlsl(source.text, nonIntegerBitOperandLines(log));
    if (lenient.text.empty()) return strict;
    auto retried = compile(type, lenient);
    return retried ? std::move(retried) : std::move(strict);
}

struct LogLine {
    int line = 0;
    std::string message;
};

// "0:12(5): message" (Mesa) or "0(12) : message" (NVIDIA).
std::optional<LogLine> splitLocation(const std::string& text) {
    size_t i = 0;
    const auto skipSpaces = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    };
    const auto number = [&]() -> std::optional<int> {
        const size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == start || i - start > 9) return std::nullopt;
        return std::stoi(text.substr(start, i - start));
    };
    const auto expect = [&](char c) { return i < text.size() && text[i++] == c; };
    skipSpaces();
    if (!number() || i >= text.size()) return std::nullopt;
    LogLine out;
    if (text[i] == ':') {
        ++i;
        auto line = number();
        if (!line || !expect('(') || !number() || !expect(')')) return std::nullopt;
        out.line = *line;
    } else {
        auto line = expect('(') ? number() : std::nullopt;
        if (!line || !expect(')')) return std::nullopt;
        out.line = *line;
    }
    skipSpaces();
    if (!expect(':')) return std::nullopt;
    skipSpaces();
    out.message = text.substr(i);
    return out;
}

}  // namespace

std::string ShaderProgram::describeLog(const ShaderStageSource& stage, const std::string& log) {
    std::istringstream lines(log);
    std::string line, out;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::string text = line;
        if (auto located = splitLocation(line)) {
            const int documentLine = located->line - stage.preludeLines;
            const std::string where = documentLine >= 1 ? "line " + std::to_string(documentLine)
                                                        : "generated declarations";
            text = where + ": " + located->message;
        }
        // Warnings alone do not fail a build; keep the errors readable.
        if (text.find("warning") != std::string::npos) continue;
        if (!out.empty()) out += "\n";
        out += describeAt(stage.file, text);
    }
    if (out.empty()) out = describeAt(stage.file, "the shader does not compile");
    return out;
}

Result<GLProgram> ShaderProgram::build(const ShaderStageSource& vertex,
                                       const ShaderStageSource& fragment) {
    auto vertexShader = compileLeniently(GL_VERTEX_SHADER, vertex);
    if (!vertexShader) return Error{vertexShader.error()};
    auto fragmentShader = compileLeniently(GL_FRAGMENT_SHADER, fragment);
    if (!fragmentShader) return Error{fragmentShader.error()};
    GLProgram program = GLProgram::create();
    glAttachShader(program.id(), vertexShader->id());
    glAttachShader(program.id(), fragmentShader->id());
    glBindAttribLocation(program.id(), kPositionAttribute, "isf_VertPos");
    glBindFragDataLocation(program.id(), 0, "isf_FragColor");
    glLinkProgram(program.id());
    glDetachShader(program.id(), vertexShader->id());
    glDetachShader(program.id(), fragmentShader->id());
    GLint ok = GL_FALSE;
    glGetProgramiv(program.id(), GL_LINK_STATUS, &ok);
    if (!ok) {
        return errorAt(fragment.file, "the shaders do not link: " + infoLog(program.id(), true));
    }
    return program;
}

}  // namespace lumivane
