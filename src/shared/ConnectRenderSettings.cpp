#include "shared/ConnectRenderSettings.h"

#include <functional>

#include "shared/EventPropertyList.h"
#include "shared/RemoteAppController.h"

namespace lumivane {
namespace {

// The type faults of the copy; the caller adds the name of the service.
struct CopyError {
    std::string message;
};

[[noreturn]] void wrongType(const std::string& key, const char* expected) {
    throw CopyError{"\"" + key + "\" is not " + expected};
}

bool isPlainNumber(const PlistValue& value) {
    return value.type() == PlistValue::Type::Integer || value.type() == PlistValue::Type::Real;
}

std::optional<std::string> asText(const std::string& key, const std::optional<PlistValue>& value) {
    if (!value) return std::nullopt;
    if (value->isString()) return *value->asString();
    if (isPlainNumber(*value)) return value->stringValue();
    wrongType(key, "a string");
}

double asReal(const std::string& key, const std::optional<PlistValue>& value) {
    if (!value) return 0;
    if (!isPlainNumber(*value)) wrongType(key, "a number");
    return value->doubleValue();
}

int asInteger(const std::string& key, const std::optional<PlistValue>& value) {
    if (!value) return 0;
    if (!isPlainNumber(*value)) wrongType(key, "a number");
    return value->intValue();
}

std::optional<std::string> referenceName(const std::string& key,
                                         const std::optional<PlistValue>& value) {
    if (!value) return std::nullopt;
    const PlistDict* dict = value->asDict();
    const PlistValue* name = dict ? dict->find("$ref") : nullptr;
    if (!name || !name->isString() || name->asString()->empty())
        wrongType(key, "an object reference");
    return *name->asString();
}

RecordedEventEntry entryFromPropertyList(const PlistValue& value, size_t index, Point& previous) {
    std::string where = "events[" + std::to_string(index) + "]";
    const PlistDict* dict = value.asDict();
    if (!dict) wrongType(where, "a dictionary");
    RecordedEventEntry entry;
    if (const PlistValue* event = dict->find(QCRendererEventKey)) {
        if (!event->isDict()) wrongType(where + "." + QCRendererEventKey, "a dictionary");
        std::shared_ptr<Event> rebuilt = eventFromPropertyList(*event->asDict(), previous);
        // An event that could not be rebuilt leaves the previous location alone.
        if (rebuilt) previous = rebuilt->locationInWindow();
        entry.event = std::move(rebuilt);
    }
    if (const PlistValue* location = dict->find(QCRendererMouseLocationKey)) {
        if (!location->isString())
            wrongType(where + "." + QCRendererMouseLocationKey, "point text");
        entry.mouseLocation = pointFromString(*location->asString());
    }
    if (const PlistValue* time = dict->find(kEventTimeKey)) {
        if (!isPlainNumber(*time)) wrongType(where + "." + kEventTimeKey, "a number");
        entry.eventTime = time->doubleValue();
    }
    return entry;
}

void copySettings(LinkClient& client, const std::shared_ptr<LinkClient>& shared,
                  RenderSettings& s) {
    auto get = [&](const char* key) { return client.get(key); };
    s.setWidth(asText("width", get("width")));
    s.setHeight(asText("height", get("height")));
    s.setCodec(asText("codec", get("codec")));
    s.setFramerate(asReal("framerate", get("framerate")));
    s.setDuration(asReal("duration", get("duration")));
    s.setAA(asReal("AA", get("AA")));
    s.setMotionBlur(asInteger("motionBlur", get("motionBlur")));
    s.setQuality(asInteger("quality", get("quality")));
    s.setCompositionFile(asText("compositionFile", get("compositionFile")));
    s.setMoviePath(asText("moviePath", get("moviePath")));
    s.setInputValues(get("inputValues"));
    std::optional<std::string> button = referenceName("recordButton", get("recordButton"));
    s.setRecordButton(button ? std::optional(ObjectReference{*button}) : std::nullopt);
    std::optional<std::string> controller = referenceName("appController", get("appController"));
    s.setAppController(controller ? std::make_shared<RemoteAppController>(shared, *controller)
                                  : nullptr);
    s.setStartTime(asReal("startTime", get("startTime")));
    s.setTimeScale(asReal("timeScale", get("timeScale")));
    std::optional<PlistValue> events = get("events");
    if (events) {
        Result<EventArray> entries = eventEntriesFromPropertyList(*events);
        if (!entries) throw CopyError{entries.error()};
        s.setEvents(std::make_shared<const EventArray>(std::move(entries.value())));
    } else {
        s.setEvents(nullptr);
    }
    // Asked last, after the settings every application vends, so that one
    // that knows no soundtrack sees the questions it always saw first.
    s.setSoundtrack(asText("soundtrack", get("soundtrack")));
}

}  // namespace

Result<EventArray> eventEntriesFromPropertyList(const PlistValue& events) {
    const PlistArray* array = events.asArray();
    if (!array) return Error{"\"events\" is not an array"};
    EventArray entries;
    entries.reserve(array->size());
    Point previous{0, 0};
    try {
        for (size_t i = 0; i < array->size(); ++i)
            entries.push_back(entryFromPropertyList((*array)[i], i, previous));
    } catch (const CopyError& error) {
        return Error{error.message};
    }
    return entries;
}

Result<std::shared_ptr<LinkClient>> connectRenderSettings(const std::string& serviceName,
                                                          RenderSettings& settings) {
    Result<std::shared_ptr<LinkClient>> connected = LinkClient::connect(serviceName);
    if (!connected) return connected;
    std::shared_ptr<LinkClient> client = connected.value();
    std::string prefix = describeAt(serviceName, "");
    try {
        std::string className = client->className();
        if (className != "RenderSettings")
            return Error{prefix + "the root object is a " + className + ", not a RenderSettings"};
        copySettings(*client, client, settings);
    } catch (const LinkError& error) {
        return Error{error.what()};
    } catch (const CopyError& error) {
        return Error{prefix + error.message};
    }
    return client;
}

}  // namespace lumivane
