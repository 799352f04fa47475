// Arbitrary bytes as a property list: read as libplist reads it; every
// dictionary in it is rebuilt as an event, which must never crash; a rebuilt
// event's property list must rebuild to the same list again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/PlistValue.h"
#include "platform/events/Event.h"
#include "shared/EventPropertyList.h"

namespace {

using namespace lumivane;

void checkDictionary(const PlistDict& dict) {
    auto event = eventFromPropertyList(dict, {1, 2});
    if (!event) return;
    PlistDict once = propertyListRepresentation(*event);
    auto rebuilt = eventFromPropertyList(once, {3, 4});
    if (!rebuilt) abort();  // a list made from an event always rebuilds
    // Scroll amounts are truncated on every rebuild, so only they may drift.
    if (event->type() != NSScrollWheel && !(propertyListRepresentation(*rebuilt) == once)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto value = parsePropertyList(std::span<const uint8_t>(data, size));
    // XML is read without libplist where it can be; libplist must agree.
    auto reference = detail::parsePropertyListWithLibplist(std::span<const uint8_t>(data, size));
    if (value.has_value() != reference.has_value()) abort();
    if (value && xmlPropertyList(*value) != xmlPropertyList(*reference)) abort();
    if (!value) return 0;
    // Walk without recursion: nesting depth is whatever the input says.
    std::vector<const PlistValue*> pending{&*value};
    while (!pending.empty()) {
        const PlistValue* current = pending.back();
        pending.pop_back();
        if (const PlistDict* dict = current->asDict()) {
            checkDictionary(*dict);
            for (const auto& entry : *dict) pending.push_back(&entry.second);
        } else if (const PlistArray* array = current->asArray()) {
            for (const auto& item : *array) pending.push_back(&item);
        }
    }
    return 0;
}
