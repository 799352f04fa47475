#include "cli/RenderFingerprint.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/media/ContentDigest.h"
#include "platform/media/MovieChunk.h"
#include "platform/media/MovieDecoder.h"
#include "shared/EventPropertyList.h"

namespace lumivane {
namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// A file read at load; one that cannot be read now says so, which no
// other chunk's digest matches.
std::string fileDigest(const std::string& path) {
    auto digest = ContentDigest::ofFile(path);
    return digest ? *digest : "unreadable";
}

// A sequence pattern names many files: its text stands for them.
std::string imageDigest(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) && MovieDecoder::isSequencePattern(path))
        return "sequence:" + path;
    return "file:" + fileDigest(path);
}

std::string valueText(const PlistValue& value) {
    if (const std::string* text = value.asString()) return *text;
    if (auto xml = xmlPropertyList(value)) return "plist:" + ContentDigest::ofBytes(*xml);
    return value.stringValue();
}

bool isImageFile(const Composition& composition, const std::string& key, const PlistValue& value) {
    const auto& inputs = composition.inputs();
    auto it = std::find_if(inputs.begin(), inputs.end(),
                           [&](const CompositionInput& input) { return input.name == key; });
    return it != inputs.end() && it->type == InputType::Image && value.isString();
}

std::string recordingDigest(const EventArray* events) {
    if (!events || events->empty()) return "none";
    PlistArray entries;
    for (const RecordedEventEntry& entry : *events) {
        PlistDict dict;
        if (entry.event) dict.set("event", PlistValue(propertyListRepresentation(*entry.event)));
        if (entry.mouseLocation) {
            dict.set("x", PlistValue(double(entry.mouseLocation->x)));
            dict.set("y", PlistValue(double(entry.mouseLocation->y)));
        }
        if (entry.eventTime) dict.set("time", PlistValue(*entry.eventTime));
        entries.push_back(PlistValue(std::move(dict)));
    }
    auto xml = xmlPropertyList(PlistValue(std::move(entries)));
    return xml ? ContentDigest::ofBytes(*xml) : "unreadable";
}

std::string inputLines(const RenderSettings& settings, const Composition& composition) {
    auto values = settings.inputValues();
    const PlistDict* dict = values ? values->asDict() : nullptr;
    std::string lines;
    if (!dict) return lines;
    // Only keys the composition has reach its frames; in its own order.
    for (const std::string& key : composition.inputKeys()) {
        const PlistValue* value = dict->find(key);
        if (!value) continue;
        // An image's pixels matter, not where each machine keeps the file.
        const bool image = isImageFile(composition, key, *value);
        lines +=
            originLine("input." + key, image ? imageDigest(*value->asString()) : valueText(*value));
        // How an image's movie plays changes the frames too.
        for (const char* option : {".loop", ".rate"}) {
            const PlistValue* given = image ? dict->find(key + option) : nullptr;
            if (given) lines += originLine("input." + key + option, valueText(*given));
        }
    }
    return lines;
}

}  // namespace

std::string renderFingerprint(const RenderSettings& settings, const Composition& composition,
                              const RenderPlan& plan) {
    std::string origin = originLine("composition", fileDigest(composition.path()));
    const std::string vertex =
        std::filesystem::path(composition.path()).replace_extension(".vs").string();
    std::error_code error;
    if (std::filesystem::exists(vertex, error))
        origin += originLine("vertex_shader", fileDigest(vertex));
    for (const ImportedImage& image : composition.importedImages())
        origin += originLine("import." + image.name, fileDigest(image.path));
    origin += originLine("size", std::to_string(plan.width) + "x" + std::to_string(plan.height));
    origin += originLine("codec", settings.codec().value_or(""));
    origin += originLine("quality", std::to_string(settings.quality()));
    origin += originLine("opaque", settings.opaque() ? "1" : "0");
    origin += originLine("framerate", number(settings.framerate()));
    origin += originLine("duration", number(settings.duration()));
    origin += originLine("start_time", number(settings.startTime()));
    origin += originLine("time_scale", number(settings.timeScale()));
    origin += originLine("antialias", number(settings.AA()));
    // Samples per frame as rendered: 0 and 1 both mean one.
    origin += originLine("motion_blur", std::to_string(plan.extraSubframes + 1));
    origin += inputLines(settings, composition);
    origin += originLine("recording", recordingDigest(settings.events().get()));
    // The song's samples, wherever each machine keeps it; only when there is one,
    // so silent renders keep the origins they had.
    if (auto soundtrack = settings.soundtrack()) {
        origin += originLine("soundtrack", "file:" + fileDigest(*soundtrack));
        origin += originLine("soundtrack_codec", settings.soundtrackCodec().value_or("auto"));
    }
    return origin;
}

}  // namespace lumivane
