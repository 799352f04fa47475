// What a render-link server vends: its root object. The server turns the
// requests of the link into these calls and their results (or exceptions) into
// replies.
#pragma once

#include <optional>
#include <string>

#include "base/PlistValue.h"

namespace lumivane {

class LinkObject {
public:
    virtual ~LinkObject() = default;

    // The answer to a "class" request.
    virtual std::string className() const = 0;

    // The value of a property; nullopt when the property is absent. Throws
    // (any std::exception) for a key the object does not have.
    virtual std::optional<PlistValue> get(const std::string& key) = 0;

    // Delivers a call to the object vended under `object` (a name that the
    // root hands out as {"$ref": name}). Returns once the call has been
    // handled; throws when it cannot be served. The handler may destroy the
    // server (the application quitting): that call then gets no reply.
    virtual void call(const std::string& object, const std::string& selector,
                      const PlistArray& args) = 0;
};

}  // namespace lumivane
