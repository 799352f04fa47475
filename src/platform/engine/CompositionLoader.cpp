#include "platform/engine/CompositionLoader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>
#include <string_view>

#include "base/BoundedFile.h"
#include "platform/engine/CompositionHeader.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/HeadlessGLContext.h"
#include "platform/engine/IsfTranslator.h"
#include "platform/engine/PassSizeExpression.h"
#include "platform/engine/ShaderProgram.h"

namespace lumivane {
namespace {

using nlohmann::json;

const std::pair<const char*, InputType> kInputTypes[] = {
    {"event", InputType::Event}, {"bool", InputType::Bool},       {"long", InputType::Long},
    {"float", InputType::Float}, {"point2D", InputType::Point2D}, {"color", InputType::Color},
    {"image", InputType::Image}, {"audio", InputType::Audio},     {"audioFFT", InputType::AudioFFT},
    {"text", InputType::Text},
};

bool isIdentifier(const std::string& name) {
    if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

// Words GLSL 3.30 keeps for itself (keywords, words reserved for later and
// type names): an input or target so named breaks the generated declarations.
bool isGlslReserved(const std::string& name) {
    static const std::set<std::string, std::less<>> reserved = {
        "attribute", "const",     "uniform",       "varying",       "layout",   "centroid",
        "flat",      "smooth",    "noperspective", "break",         "continue", "do",
        "for",       "while",     "switch",        "case",          "default",  "if",
        "else",      "in",        "out",           "inout",         "float",    "double",
        "int",       "void",      "bool",          "true",          "false",    "invariant",
        "discard",   "return",    "lowp",          "mediump",       "highp",    "precision",
        "struct",    "common",    "partition",     "active",        "asm",      "class",
        "union",     "enum",      "typedef",       "template",      "this",     "goto",
        "inline",    "noinline",  "public",        "static",        "extern",   "external",
        "interface", "long",      "short",         "half",          "fixed",    "unsigned",
        "superp",    "input",     "output",        "filter",        "sizeof",   "cast",
        "namespace", "using",     "uint",          "volatile",      "main",     "sampler1D",
        "sampler2D", "sampler3D", "samplerCube",   "sampler2DRect", "mat2",     "mat3",
        "mat4",      "vec2",      "vec3",          "vec4",          "ivec2",    "ivec3",
        "ivec4",     "bvec2",     "bvec3",         "bvec4",         "uvec2",    "uvec3",
        "uvec4",     "dvec2",     "dvec3",         "dvec4",         "mat2x2",   "mat2x3",
        "mat2x4",    "mat3x2",    "mat3x3",        "mat3x4",        "mat4x2",   "mat4x3",
        "mat4x4",    "hvec2",     "hvec3",         "hvec4",         "fvec2",    "fvec3",
        "fvec4"};
    return reserved.count(name) > 0 || name.starts_with("gl_");
}

std::array<float, 4> currentDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {float(local.tm_year + 1900), float(local.tm_mon + 1), float(local.tm_mday),
            float(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec)};
}

std::optional<double> numberOf(const json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    return std::nullopt;
}

bool truthOf(const json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number()) return value.get<double>() != 0;
    if (value.is_string()) return value.get<std::string>() == "true";
    return false;
}

std::string expressionOf(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return value.dump();
    return {};
}

// Far above any hand-written or generated shader; a larger file is no composition.
constexpr long long kMaxCompositionSize = 16LL * 1024 * 1024;
}  // namespace

CompositionLoader::CompositionLoader(std::string path) : m_path(std::move(path)) {}

void CompositionLoader::fail(const std::string& what) const {
    throw EngineError(describeAt(m_path, what));
}

std::shared_ptr<Composition> CompositionLoader::load() {
    m_composition.reset(new Composition());
    m_composition->m_path = m_path;
    auto read = readBoundedFile(m_path, kMaxCompositionSize);
    if (!read) throw EngineError(read.error());
    std::string text = std::move(read.value());
    if (text.find('\0') != std::string::npos) fail("is not a text file");
    // Editors may save UTF-8 with a byte-order mark; the header follows it.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    parseHeader(text);
    checkNames();
    checkSizeExpressions();
    buildSources(text);
    checkCompiles();
    m_composition->m_date = currentDate();
    return m_composition;
}

void CompositionLoader::parseHeader(const std::string& text) {
    auto read = readCompositionHeader(text);
    if (!read) fail(read.error());
    const json header = std::move(read.value());
    if (!header.is_object()) fail("header is not a JSON object");
    if (auto it = header.find("DESCRIPTION"); it != header.end() && it->is_string()) {
        m_composition->m_description = it->get<std::string>();
    }
    if (auto it = header.find("INPUTS"); it != header.end() && !it->is_null()) parseInputs(*it);
    parsePasses(header);
    if (auto it = header.find("IMPORTED"); it != header.end() && !it->is_null()) parseImported(*it);
}

CompositionInput CompositionLoader::parseInput(const json& item) const {
    if (!item.is_object()) fail("an entry of INPUTS is not an object");
    CompositionInput input;
    const auto name = item.find("NAME");
    if (name == item.end() || !name->is_string()) fail("an input has no NAME");
    input.name = name->get<std::string>();
    const auto type = item.find("TYPE");
    if (type == item.end() || !type->is_string()) fail("input \"" + input.name + "\" has no TYPE");
    input.typeText = type->get<std::string>();
    auto known = std::find_if(std::begin(kInputTypes), std::end(kInputTypes),
                              [&](const auto& entry) { return input.typeText == entry.first; });
    if (known == std::end(kInputTypes)) {
        fail("input \"" + input.name + "\" has unknown type \"" + input.typeText + "\"");
    }
    input.type = known->second;
    input.label = item.value("LABEL", input.name);
    if (auto it = item.find("MIN"); it != item.end()) input.minimum = numberOf(*it);
    if (auto it = item.find("MAX"); it != item.end()) input.maximum = numberOf(*it);
    if (auto it = item.find("VALUES"); it != item.end() && it->is_array()) {
        for (const json& v : *it) input.values.push_back(int(numberOf(v).value_or(0)));
    }
    if (auto it = item.find("LABELS"); it != item.end() && it->is_array()) {
        for (const json& v : *it)
            input.labels.push_back(v.is_string() ? v.get<std::string>() : v.dump());
    }
    const json* given = item.contains("DEFAULT") ? &item.at("DEFAULT") : nullptr;
    const auto bad = [&](const char* what) {
        fail("input \"" + input.name + "\": DEFAULT must be " + what);
    };
    switch (input.type) {
        case InputType::Event:
        case InputType::Bool:
            input.defaultValue = given ? truthOf(*given) : false;
            break;
        case InputType::Long: {
            const double fallback =
                !input.values.empty() ? input.values.front() : input.minimum.value_or(0);
            if (given && !numberOf(*given)) bad("a number");
            input.defaultValue = int64_t(given ? *numberOf(*given) : fallback);
            break;
        }
        case InputType::Float:
            if (given && !numberOf(*given)) bad("a number");
            input.defaultValue = given ? *numberOf(*given) : input.minimum.value_or(0.0);
            break;
        case InputType::Point2D:
        case InputType::Color: {
            const size_t count = input.type == InputType::Color ? 4 : 2;
            PlistArray components(count, PlistValue(input.type == InputType::Color ? 1.0 : 0.0));
            if (input.type == InputType::Color) components = {0.0, 0.0, 0.0, 1.0};
            if (given) {
                if (!given->is_array() || given->size() < 2) bad("an array of numbers");
                for (size_t i = 0; i < std::min(count, given->size()); ++i) {
                    auto v = numberOf((*given)[i]);
                    if (!v) bad("an array of numbers");
                    components[i] = *v;
                }
            }
            input.defaultValue = components;
            break;
        }
        case InputType::Text:
            if (given && !given->is_string()) bad("a string");
            input.defaultValue = given ? given->get<std::string>() : std::string();
            break;
        default:
            break;
    }
    return input;
}

void CompositionLoader::parseInputs(const json& inputs) {
    if (!inputs.is_array()) fail("INPUTS is not an array");
    for (const json& item : inputs) {
        CompositionInput input = parseInput(item);
        m_composition->m_inputKeys.push_back(input.name);
        m_composition->m_inputs.push_back(std::move(input));
    }
}

void CompositionLoader::parsePasses(const json& header) {
    auto& passes = m_composition->m_passes;
    if (auto it = header.find("PASSES"); it != header.end() && !it->is_null()) {
        if (!it->is_array()) fail("PASSES is not an array");
        for (const json& item : *it) {
            if (!item.is_object()) fail("an entry of PASSES is not an object");
            CompositionPass pass;
            pass.target = item.value("TARGET", std::string());
            if (auto p = item.find("PERSISTENT"); p != item.end()) pass.persistent = truthOf(*p);
            if (auto p = item.find("FLOAT"); p != item.end()) pass.floatTarget = truthOf(*p);
            if (auto p = item.find("WIDTH"); p != item.end())
                pass.widthExpression = expressionOf(*p);
            if (auto p = item.find("HEIGHT"); p != item.end())
                pass.heightExpression = expressionOf(*p);
            passes.push_back(std::move(pass));
        }
    }
    if (passes.empty()) passes.emplace_back();
    // Version 1 named its persistent targets in a list (or a dictionary of sizes) of its own.
    const auto buffers = header.find("PERSISTENT_BUFFERS");
    if (buffers == header.end()) return;
    const auto mark = [&](const std::string& name, const json* details) {
        for (CompositionPass& pass : passes) {
            if (pass.target != name) continue;
            pass.persistent = true;
            if (!details || !details->is_object()) continue;
            if (auto p = details->find("FLOAT"); p != details->end())
                pass.floatTarget = truthOf(*p);
            if (auto p = details->find("WIDTH");
                p != details->end() && pass.widthExpression.empty()) {
                pass.widthExpression = expressionOf(*p);
            }
            if (auto p = details->find("HEIGHT");
                p != details->end() && pass.heightExpression.empty()) {
                pass.heightExpression = expressionOf(*p);
            }
        }
    };
    if (buffers->is_array()) {
        for (const json& name : *buffers) {
            if (name.is_string()) mark(name.get<std::string>(), nullptr);
        }
    } else if (buffers->is_object()) {
        for (const auto& [name, details] : buffers->items()) mark(name, &details);
    } else if (buffers->is_string()) {
        mark(buffers->get<std::string>(), nullptr);
    }
}

void CompositionLoader::parseImported(const json& imported) {
    std::vector<std::pair<std::string, std::string>> entries;
    const auto pathOf = [&](const json& details, const std::string& name) {
        const auto p = details.is_object() ? details.find("PATH") : details.end();
        if (!details.is_object() || p == details.end() || !p->is_string()) {
            fail("imported image \"" + name + "\" has no PATH");
        }
        return p->get<std::string>();
    };
    if (imported.is_object()) {
        for (const auto& [name, details] : imported.items())
            entries.emplace_back(name, pathOf(details, name));
    } else if (imported.is_array()) {
        for (const json& details : imported) {
            const std::string name =
                details.is_object() ? details.value("NAME", std::string()) : "";
            if (name.empty()) fail("an imported image has no NAME");
            entries.emplace_back(name, pathOf(details, name));
        }
    } else {
        fail("IMPORTED is neither an object nor an array");
    }
    const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
    for (auto& [name, relative] : entries) {
        const std::string resolved = (folder / relative).string();
        auto pixels = loadTexturePixels(resolved);
        if (!pixels) fail("imported image \"" + name + "\" cannot be read: " + pixels.error());
        m_composition->m_imported.push_back({name, resolved, std::move(pixels.value())});
    }
}

void CompositionLoader::checkNames() const {
    std::set<std::string> names;
    const auto claim = [&](const std::string& name, const char* what) {
        if (!isIdentifier(name))
            fail(std::string(what) + " \"" + name + "\" is not a valid GLSL name");
        if (isGlslReserved(name))
            fail(std::string(what) + " \"" + name + "\" is a name GLSL keeps for itself");
        if (!names.insert(name).second)
            fail(std::string(what) + " \"" + name + "\" is declared twice");
    };
    for (const CompositionInput& input : m_composition->m_inputs) claim(input.name, "input");
    for (const ImportedImage& image : m_composition->m_imported)
        claim(image.name, "imported image");
    std::set<std::string> targets;
    for (const CompositionPass& pass : m_composition->m_passes) {
        if (!pass.target.empty() && targets.insert(pass.target).second)
            claim(pass.target, "pass target");
    }
}

void CompositionLoader::checkSizeExpressions() const {
    const std::vector<std::string> numeric = m_composition->numericInputNames();
    for (const CompositionPass& pass : m_composition->m_passes) {
        for (const std::string* expression : {&pass.widthExpression, &pass.heightExpression}) {
            if (expression->empty()) continue;
            auto compiled = PassSizeExpression::compile(*expression, numeric);
            if (!compiled) fail(compiled.error());
        }
    }
}

void CompositionLoader::buildSources(const std::string& text) {
    Composition& c = *m_composition;
    std::vector<std::string> imageNames;
    for (const ImportedImage& image : c.m_imported) imageNames.push_back(image.name);
    for (const CompositionPass& pass : c.m_passes) {
        if (!pass.target.empty() &&
            std::find(imageNames.begin(), imageNames.end(), pass.target) == imageNames.end()) {
            imageNames.push_back(pass.target);
        }
    }
    const IsfTranslator translator(c.m_inputs, imageNames);
    c.m_fragment = translator.translate(IsfTranslator::Stage::Fragment, m_path, text);
    c.m_usesDiscard = IsfTranslator::usesIdentifier(text, "discard");
    const std::string vertexPath = std::filesystem::path(m_path).replace_extension(".vs").string();
    std::error_code ec;
    if (std::filesystem::exists(vertexPath, ec)) {
        auto vertexText = readBoundedFile(vertexPath, kMaxCompositionSize);
        if (!vertexText) throw EngineError(vertexText.error());
        c.m_vertex =
            translator.translate(IsfTranslator::Stage::Vertex, vertexPath, vertexText.value());
        c.m_hasVertexShader = true;
    } else {
        c.m_vertex = translator.defaultVertexShader();
    }
}

// Compiling needs a context. When none can be made here the renderer, which
// compiles the same sources, reports the failure instead.
void CompositionLoader::checkCompiles() const {
    const SavedEGLCurrent saved;
    auto context = HeadlessGLContext::create();
    if (!context) return;
    auto program = ShaderProgram::build(m_composition->m_vertex, m_composition->m_fragment);
    const std::string error = program ? std::string() : program.error();
    if (!error.empty()) throw EngineError(error);
}

}  // namespace lumivane
