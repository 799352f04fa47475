// A composition document: a GLSL fragment shader opening with a JSON header in
// the Interactive Shader Format layout, with an optional vertex shader beside
// it (same name, extension ".vs").
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/PlistValue.h"
#include "platform/engine/TexturePixels.h"

namespace lumivane {

// Attribute keys of a published input beside QCPortAttributeTypeKey.
inline constexpr const char* QCPortAttributeNameKey = "QCPortAttributeNameKey";
inline constexpr const char* QCPortAttributeDefaultValueKey = "QCPortAttributeDefaultValueKey";
inline constexpr const char* QCPortAttributeMinimumValueKey = "QCPortAttributeMinimumValueKey";
inline constexpr const char* QCPortAttributeMaximumValueKey = "QCPortAttributeMaximumValueKey";
inline constexpr const char* QCPortAttributeMenuItemsKey = "QCPortAttributeMenuItemsKey";
inline constexpr const char* QCPortAttributeMenuValuesKey = "QCPortAttributeMenuValuesKey";
inline constexpr const char* ISFInputTypeKey = "ISFInputTypeKey";
// Port types of the inputs that are none of the four common ones.
inline constexpr const char* QCPortTypeColor = "QCPortTypeColor";
inline constexpr const char* QCPortTypePoint2D = "QCPortTypePoint2D";
inline constexpr const char* QCPortTypeImage = "QCPortTypeImage";
inline constexpr const char* QCPortTypeAudio = "QCPortTypeAudio";

enum class InputType { Event, Bool, Long, Float, Point2D, Color, Image, Audio, AudioFFT, Text };

struct CompositionInput {
    std::string name;
    InputType type = InputType::Float;
    std::string typeText;  // as the header spells it
    std::string label;
    PlistValue defaultValue;  // None for image and audio inputs
    std::optional<double> minimum;
    std::optional<double> maximum;
    std::vector<int> values;  // long inputs: the menu's values
    std::vector<std::string> labels;

    // Inputs a single number stands for: the ones pass-size expressions read.
    bool isNumeric() const {
        return type == InputType::Event || type == InputType::Bool || type == InputType::Long ||
               type == InputType::Float;
    }
    bool isImageLike() const {
        return type == InputType::Image || type == InputType::Audio ||
               type == InputType::AudioFFT || type == InputType::Text;
    }
};

struct CompositionPass {
    std::string target;  // empty: draws into the output
    bool persistent = false;
    bool floatTarget = false;
    std::string widthExpression;  // empty: the output width
    std::string heightExpression;
};

struct ImportedImage {
    std::string name;
    std::string path;  // resolved against the document's folder
    TexturePixels pixels;
};

// A shader stage ready for the compiler: a generated prelude followed by the
// document's text, line for line.
struct ShaderStageSource {
    std::string file;  // named in compile errors
    std::string text;
    int preludeLines = 0;
};

class Composition {
public:
    // Throws EngineError with "\"<file>\": what failed" (GLSL errors name the
    // line in the document).
    static std::shared_ptr<Composition> compositionWithFile(const std::string& path);

    const std::string& path() const { return m_path; }
    const std::string& description() const { return m_description; }
    const std::vector<std::string>& inputKeys() const { return m_inputKeys; }
    // Key -> dictionary: QCPortAttributeTypeKey (QCPortTypeString, ...Boolean,
    // ...Index, ...Number or another type), QCPortAttributeNameKey, and where
    // the header gives them the default, minimum, maximum, menu items and
    // values, and ISFInputTypeKey (the header's type).
    PlistDict attributes() const;

    const std::vector<CompositionInput>& inputs() const { return m_inputs; }
    const CompositionInput* input(std::string_view name) const;
    // The numeric inputs' names in header order: the variables of size expressions.
    std::vector<std::string> numericInputNames() const;
    const std::vector<CompositionPass>& passes() const { return m_passes; }
    const std::vector<ImportedImage>& importedImages() const { return m_imported; }
    const ShaderStageSource& vertexSource() const { return m_vertex; }
    const ShaderStageSource& fragmentSource() const { return m_fragment; }
    bool usesDiscard() const { return m_usesDiscard; }
    // Whether a render writes every pixel of its target whatever it held
    // before: the quad covers it and no fragment is discarded.
    bool writesEveryPixel() const { return !m_usesDiscard && !m_hasVertexShader; }
    // Whether a render leaves pixels the next one reads (persistent
    // buffers). Without them a render depends only on its time, the
    // inputs, and the count and time of the renders before it.
    bool keepsStateBetweenRenders() const;
    // (year, month, day, seconds since midnight), local time, read at load.
    const std::array<float, 4>& date() const { return m_date; }

private:
    friend class CompositionLoader;
    Composition() = default;

    std::string m_path;
    std::string m_description;
    std::vector<std::string> m_inputKeys;
    std::vector<CompositionInput> m_inputs;
    std::vector<CompositionPass> m_passes;
    std::vector<ImportedImage> m_imported;
    ShaderStageSource m_vertex;
    ShaderStageSource m_fragment;
    bool m_usesDiscard = false;
    bool m_hasVertexShader = false;
    std::array<float, 4> m_date{};
};

}  // namespace lumivane
