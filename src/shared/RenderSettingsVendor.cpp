#include "shared/RenderSettingsVendor.h"

#include <limits>

#include "shared/EventPropertyList.h"

namespace lumivane {
namespace {

std::optional<PlistValue> text(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    return PlistValue(*value);
}

PlistValue reference(const char* name) {
    return PlistDict{{"$ref", name}};
}

void expectArguments(const std::string& selector, const PlistArray& args, size_t count) {
    if (args.size() != count)
        throw LinkError(selector + " takes " + std::to_string(count) + " argument" +
                        (count == 1 ? "" : "s") + ", not " + std::to_string(args.size()));
}

const std::string& stringArgument(const std::string& selector, const PlistArray& args) {
    expectArguments(selector, args, 1);
    if (!args[0].isString()) throw LinkError(selector + " takes a string");
    return *args[0].asString();
}

int intArgument(const std::string& selector, const PlistValue& value) {
    if (value.type() != PlistValue::Type::Integer) throw LinkError(selector + " takes integers");
    int64_t number = value.longLongValue();
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        throw LinkError(selector + " takes 32-bit integers");
    return static_cast<int>(number);
}

}  // namespace

RenderSettingsVendor::RenderSettingsVendor(std::shared_ptr<const RenderSettings> settings)
    : m_settings(std::move(settings)) {}

std::optional<PlistValue> RenderSettingsVendor::get(const std::string& key) {
    const RenderSettings& s = *m_settings;
    if (key == "width") return text(s.width());
    if (key == "height") return text(s.height());
    if (key == "codec") return text(s.codec());
    if (key == "compositionFile") return text(s.compositionFile());
    if (key == "moviePath") return text(s.moviePath());
    if (key == "soundtrack") return text(s.soundtrack());
    if (key == "framerate") return PlistValue(s.framerate());
    if (key == "duration") return PlistValue(s.duration());
    if (key == "AA") return PlistValue(s.AA());
    if (key == "startTime") return PlistValue(s.startTime());
    if (key == "timeScale") return PlistValue(s.timeScale());
    if (key == "motionBlur") return PlistValue(s.motionBlur());
    if (key == "quality") return PlistValue(s.quality());
    if (key == "inputValues") return s.inputValues();
    if (key == "recordButton") {
        if (!s.recordButton()) return std::nullopt;
        return reference(kRecordButtonName);
    }
    if (key == "appController") {
        if (!s.appController()) return std::nullopt;
        return reference(kAppControllerName);
    }
    if (key == "events") return eventsValue();
    throw LinkError("RenderSettings has no property \"" + key + "\"");
}

PlistDict RenderSettingsVendor::entryPropertyList(const RecordedEventEntry& entry) {
    PlistDict dict;
    if (entry.event) dict.set(QCRendererEventKey, propertyListRepresentation(*entry.event));
    if (entry.mouseLocation)
        dict.set(QCRendererMouseLocationKey, stringFromPoint(*entry.mouseLocation));
    if (entry.eventTime) dict.set(kEventTimeKey, *entry.eventTime);
    return dict;
}

std::optional<PlistValue> RenderSettingsVendor::eventsValue() const {
    std::shared_ptr<const EventArray> events = m_settings->events();
    if (!events) return std::nullopt;
    PlistArray array;
    array.reserve(events->size());
    for (const RecordedEventEntry& entry : *events) array.emplace_back(entryPropertyList(entry));
    return PlistValue(std::move(array));
}

void RenderSettingsVendor::call(const std::string& object, const std::string& selector,
                                const PlistArray& args) {
    std::shared_ptr<AppControllerProxy> controller = m_settings->appController();
    if (object == kAppControllerName && controller) {
        callAppController(*controller, selector, args);
        return;
    }
    if (object == kRecordButtonName && m_settings->recordButton())
        throw LinkError("\"recordButton\" takes no calls");
    throw LinkError("no object named \"" + object + "\" is vended");
}

void RenderSettingsVendor::callAppController(AppControllerProxy& controller,
                                             const std::string& selector, const PlistArray& args) {
    if (selector == "indicateStatus:") {
        controller.indicateStatus(stringArgument(selector, args));
    } else if (selector == "indicateFrame:of:") {
        expectArguments(selector, args, 2);
        controller.indicateFrame(intArgument(selector, args[0]), intArgument(selector, args[1]));
    } else if (selector == "indicateError:") {
        controller.indicateError(stringArgument(selector, args));
    } else if (selector == "enableControls") {
        expectArguments(selector, args, 0);
        controller.enableControls();
    } else if (selector == "finishedRendering:") {
        // Its one argument is always absent: an empty array, or a value that
        // nothing reads.
        if (args.size() > 1) expectArguments(selector, args, 1);
        controller.finishedRendering();
    } else {
        throw LinkError("appController does not respond to \"" + selector + "\"");
    }
}

}  // namespace lumivane
