// The renderer's side of the hand-over: connects to the application's render
// service and copies the vended settings into the renderer's own record.
#pragma once

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/link/LinkClient.h"
#include "shared/RenderSettings.h"

namespace lumivane {

// Looks the name up, checks that the root object is a "RenderSettings", and
// copies width, height, codec, framerate, duration, AA, motionBlur, quality,
// compositionFile, moviePath, inputValues, recordButton, appController,
// startTime, timeScale and events, in this order, each by one "get". A value
// the application does not have replaces the renderer's own with none (0 for
// numbers). appController becomes a RemoteAppController over the returned
// client, which the caller keeps and polls after every frame. An Error (the
// record then partly copied) when nobody is registered under the name, the
// root object is missing or of another class, the connection fails, or a value
// has the wrong type.
Result<std::shared_ptr<LinkClient>> connectRenderSettings(const std::string& serviceName,
                                                          RenderSettings& settings);

// Rebuilds the entries of an "events" value, each event with the location of
// the event rebuilt before it as its default location ((0, 0) for the first).
Result<EventArray> eventEntriesFromPropertyList(const PlistValue& events);

}  // namespace lumivane
