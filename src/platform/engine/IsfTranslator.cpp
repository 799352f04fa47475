#include "platform/engine/IsfTranslator.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/engine/ImageSizeUniforms.h"

namespace lumivane {
namespace {

bool isIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

const std::map<std::string, std::string>& renames(IsfTranslator::Stage stage) {
    static const std::map<std::string, std::string> common = {
        {"gl_FragColor", "isf_FragColor"},
        {"texture2D", "texture"},
        {"texture2DProj", "textureProj"},
        {"texture2DLod", "textureLod"},
        {"texture2DRect", "texture"},
        {"texture2DRectProj", "textureProj"},
        {"sampler2DRect", "sampler2D"},
        {"vv_FragNormCoord", "isf_FragNormCoord"},
        {"vv_vertShaderInit", "isf_vertShaderInit"},
        {"IMG_NORM_THIS_PIXEL", "IMG_THIS_NORM_PIXEL"},
    };
    static const auto fragment = [] {
        auto map = common;
        map["varying"] = "in";
        return map;
    }();
    static const auto vertex = [] {
        auto map = common;
        map["varying"] = "out";
        map["attribute"] = "in";
        return map;
    }();
    return stage == IsfTranslator::Stage::Vertex ? vertex : fragment;
}

// Renames GLSL 1.x words and comments out "#version" lines, keeping every
// line where it was.
std::string rewriteBody(const std::string& text, IsfTranslator::Stage stage) {
    const auto& names = renames(stage);
    std::string out;
    out.reserve(text.size() + 64);
    size_t i = 0;
    bool lineStart = true;
    while (i < text.size()) {
        const char c = text[i];
        if (lineStart && c == '#') {
            size_t j = i + 1;
            while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
            if (text.compare(j, 7, "version") == 0) out += "//";
        }
        if (c == '\n') {
            lineStart = true;
        } else if (c != ' ' && c != '\t' && c != '\r') {
            lineStart = false;
        }
        if (isIdentifierStart(c) && (i == 0 || !isIdentifierChar(text[i - 1]))) {
            size_t j = i;
            while (j < text.size() && isIdentifierChar(text[j])) ++j;
            const std::string word = text.substr(i, j - i);
            auto it = names.find(word);
            out += it == names.end() ? word : it->second;
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    if (out.empty() || out.back() != '\n') out += '\n';
    return out;
}

const char* glslType(InputType type) {
    switch (type) {
        case InputType::Event:
        case InputType::Bool:
            return "bool";
        case InputType::Long:
            return "int";
        case InputType::Float:
            return "float";
        case InputType::Point2D:
            return "vec2";
        case InputType::Color:
            return "vec4";
        default:
            return "sampler2D";
    }
}

std::string imageDeclaration(const std::string& name, const std::string& body) {
    return "uniform sampler2D " + name + ";\n" + ImageSizeUniforms::declarations(name, body);
}

const char* kMacros =
    "#define IMG_SIZE(img) _isf_size_##img\n"
    "#define IMG_NORM_PIXEL(img, coord) texture(img, coord)\n"
    "#define IMG_PIXEL(img, coord) texture(img, (coord) / vec2(textureSize(img, 0)))\n"
    "#define IMG_THIS_NORM_PIXEL(img) texture(img, isf_FragNormCoord)\n"
    "#define IMG_THIS_PIXEL(img) texture(img, isf_FragNormCoord)\n";

struct BuiltinUniform {
    const char* name;
    const char* declaration;
    bool always;  // declared whether or not the shader names it
};
const BuiltinUniform kBuiltinUniforms[] = {
    {"TIME", "uniform float TIME;\n", true},
    {"TIMEDELTA", "uniform float TIMEDELTA;\n", true},
    {"RENDERSIZE", "uniform vec2 RENDERSIZE;\n", true},
    {"FRAMEINDEX", "uniform int FRAMEINDEX;\n", true},
    {"DATE", "uniform vec4 DATE;\n", true},
    {"PASSINDEX", "uniform int PASSINDEX;\n", true},
    {"MOUSE", "uniform vec2 MOUSE;\n", false},
    {"MOUSECLICK", "uniform vec2 MOUSECLICK;\n", false},
    {"MOUSEBUTTONS", "uniform int MOUSEBUTTONS;\n", false},
    {"SCROLL", "uniform vec3 SCROLL;\n", false},
    {"KEYBOARD", "uniform sampler2D KEYBOARD;\nuniform vec2 _isf_size_KEYBOARD;\n", false},
    {"MODIFIERS", "uniform int MODIFIERS;\n", false},
};

int countLines(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

IsfTranslator::IsfTranslator(const std::vector<CompositionInput>& inputs,
                             const std::vector<std::string>& imageNames)
    : m_inputs(inputs), m_imageNames(imageNames) {}

// Whether the shader declares "uniform [precision] <type> name" itself.
bool IsfTranslator::declaresUniform(const std::string& text, const std::string& name) {
    for (size_t pos = text.find("uniform"); pos != std::string::npos;
         pos = text.find("uniform", pos + 1)) {
        if ((pos > 0 && isIdentifierChar(text[pos - 1])) ||
            (pos + 7 < text.size() && isIdentifierChar(text[pos + 7]))) {
            continue;
        }
        size_t i = pos + 7;
        for (int word = 0; word < 3; ++word) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            const size_t start = i;
            while (i < text.size() && isIdentifierChar(text[i])) ++i;
            if (i == start) break;
            if (text.compare(start, i - start, name) == 0 && i - start == name.size()) return true;
        }
    }
    return false;
}

bool IsfTranslator::usesIdentifier(const std::string& text, const std::string& identifier) {
    for (size_t pos = text.find(identifier); pos != std::string::npos;
         pos = text.find(identifier, pos + 1)) {
        const bool before = pos == 0 || !isIdentifierChar(text[pos - 1]);
        const size_t end = pos + identifier.size();
        const bool after = end >= text.size() || !isIdentifierChar(text[end]);
        if (before && after) return true;
    }
    return false;
}

std::string IsfTranslator::inputDeclarations(const std::string& body) const {
    std::string out;
    for (const CompositionInput& input : m_inputs) {
        if (input.isImageLike()) {
            out += imageDeclaration(input.name, body);
        } else {
            out += std::string("uniform ") + glslType(input.type) + " " + input.name + ";\n";
        }
    }
    for (const std::string& name : m_imageNames) out += imageDeclaration(name, body);
    return out;
}

// The engine's uniforms are declared unless an input or the shader itself
// declares the name; the input uniforms only where the shader uses them.
std::string IsfTranslator::builtinDeclarations(const std::string& body) const {
    std::string out;
    for (const BuiltinUniform& uniform : kBuiltinUniforms) {
        const bool taken = std::any_of(m_inputs.begin(), m_inputs.end(),
                                       [&](const auto& in) { return in.name == uniform.name; });
        if (taken || !(uniform.always || usesIdentifier(body, uniform.name))) continue;
        if (declaresUniform(body, uniform.name)) continue;
        out += uniform.declaration;
    }
    return out;
}

std::string IsfTranslator::prelude(Stage stage, const std::string& body) const {
    std::string out = "#version 330 core\n";
    if (stage == Stage::Fragment) {
        out += "out vec4 isf_FragColor;\nin vec2 isf_FragNormCoord;\n";
    } else {
        out += "in vec2 isf_VertPos;\nout vec2 isf_FragNormCoord;\n";
    }
    out += builtinDeclarations(body);
    out += inputDeclarations(body);
    out += kMacros;
    if (stage == Stage::Vertex) {
        out +=
            "void isf_vertShaderInit() { gl_Position = vec4(isf_VertPos, 0.0, 1.0); "
            "isf_FragNormCoord = isf_VertPos * 0.5 + 0.5; }\n";
    }
    return out;
}

ShaderStageSource IsfTranslator::translate(Stage stage, const std::string& file,
                                           const std::string& documentText) const {
    const std::string body = rewriteBody(documentText, stage);
    ShaderStageSource source;
    source.file = file;
    const std::string head = prelude(stage, body);
    source.preludeLines = countLines(head);
    source.text = head + body;
    return source;
}

ShaderStageSource IsfTranslator::defaultVertexShader() const {
    ShaderStageSource source = translate(Stage::Vertex, "default vertex shader",
                                         "void main() { isf_vertShaderInit(); }\n");
    return source;
}

}  // namespace lumivane
