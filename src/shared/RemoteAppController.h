// The application's controller as the renderer reaches it over the render
// link: each callback is a synchronous "call" request to the vended object.
#pragma once

#include <memory>
#include <string>

#include "platform/link/LinkClient.h"
#include "shared/AppControllerProxy.h"

namespace lumivane {

class RemoteAppController : public AppControllerProxy {
public:
    // objectName: the name the settings record handed out ({"$ref": name}).
    RemoteAppController(std::shared_ptr<LinkClient> client, std::string objectName);

    // Each throws LinkError when the application cannot be reached or refuses.
    void indicateStatus(const std::string& status) override;
    void indicateFrame(int index, int count) override;
    void indicateError(const std::string& error) override;
    void enableControls() override;
    void finishedRendering() override;

    const std::shared_ptr<LinkClient>& client() const { return m_client; }
    const std::string& objectName() const { return m_objectName; }

private:
    std::shared_ptr<LinkClient> m_client;
    std::string m_objectName;
};

}  // namespace lumivane
