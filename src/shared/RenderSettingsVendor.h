// The application's side of the hand-over: vends one job's settings record
// as the root object of a link server and delivers the renderer's callbacks
// to the record's appController.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/link/LinkObject.h"
#include "shared/RenderSettings.h"

namespace lumivane {

class RenderSettingsVendor : public LinkObject {
public:
    static constexpr const char* kClassName = "RenderSettings";
    static constexpr const char* kAppControllerName = "appController";
    static constexpr const char* kRecordButtonName = "recordButton";

    explicit RenderSettingsVendor(std::shared_ptr<const RenderSettings> settings);

    std::string className() const override { return kClassName; }
    // The sixteen properties that the renderer copies, by name; throws
    // LinkError for any other key.
    std::optional<PlistValue> get(const std::string& key) override;
    // Calls on "appController" go to the record's appController; throws
    // LinkError for other objects, unknown selectors and wrong arguments.
    void call(const std::string& object, const std::string& selector,
              const PlistArray& args) override;

    const std::shared_ptr<const RenderSettings>& settings() const { return m_settings; }

    // One recorded event entry as it travels: the event's property list, the
    // mouse location as point text and the time; absent parts are left out.
    static PlistDict entryPropertyList(const RecordedEventEntry& entry);

private:
    std::optional<PlistValue> eventsValue() const;
    void callAppController(AppControllerProxy& controller, const std::string& selector,
                           const PlistArray& args);

    std::shared_ptr<const RenderSettings> m_settings;
};

}  // namespace lumivane
