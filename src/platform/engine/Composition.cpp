#include "platform/engine/Composition.h"

#include <algorithm>

#include "platform/engine/CompositionLoader.h"
#include "platform/engine/EngineKeys.h"

namespace lumivane {
namespace {

const char* portType(InputType type) {
    switch (type) {
        case InputType::Text:
            return QCPortTypeString;
        case InputType::Bool:
        case InputType::Event:
            return QCPortTypeBoolean;
        case InputType::Long:
            return QCPortTypeIndex;
        case InputType::Float:
            return QCPortTypeNumber;
        case InputType::Point2D:
            return QCPortTypePoint2D;
        case InputType::Color:
            return QCPortTypeColor;
        case InputType::Image:
            return QCPortTypeImage;
        case InputType::Audio:
        case InputType::AudioFFT:
            return QCPortTypeAudio;
    }
    return QCPortTypeImage;
}

PlistDict attributesOf(const CompositionInput& input) {
    PlistDict attributes;
    attributes.set(QCPortAttributeTypeKey, portType(input.type));
    attributes.set(QCPortAttributeNameKey, input.label);
    attributes.set(ISFInputTypeKey, input.typeText);
    if (!input.defaultValue.isNone())
        attributes.set(QCPortAttributeDefaultValueKey, input.defaultValue);
    if (input.minimum) attributes.set(QCPortAttributeMinimumValueKey, *input.minimum);
    if (input.maximum) attributes.set(QCPortAttributeMaximumValueKey, *input.maximum);
    if (!input.values.empty()) {
        PlistArray values;
        for (int v : input.values) values.emplace_back(v);
        attributes.set(QCPortAttributeMenuValuesKey, std::move(values));
    }
    if (!input.labels.empty()) {
        PlistArray labels(input.labels.begin(), input.labels.end());
        attributes.set(QCPortAttributeMenuItemsKey, std::move(labels));
    }
    return attributes;
}

}  // namespace

std::shared_ptr<Composition> Composition::compositionWithFile(const std::string& path) {
    return CompositionLoader(path).load();
}

PlistDict Composition::attributes() const {
    PlistDict all;
    for (const CompositionInput& input : m_inputs) all.set(input.name, attributesOf(input));
    return all;
}

const CompositionInput* Composition::input(std::string_view name) const {
    for (const CompositionInput& input : m_inputs) {
        if (input.name == name) return &input;
    }
    return nullptr;
}

std::vector<std::string> Composition::numericInputNames() const {
    std::vector<std::string> names;
    for (const CompositionInput& input : m_inputs)
        if (input.isNumeric()) names.push_back(input.name);
    return names;
}

bool Composition::keepsStateBetweenRenders() const {
    return std::any_of(m_passes.begin(), m_passes.end(),
                       [](const CompositionPass& pass) { return pass.persistent; });
}

}  // namespace lumivane
