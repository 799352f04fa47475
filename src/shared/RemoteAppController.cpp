#include "shared/RemoteAppController.h"

namespace lumivane {

RemoteAppController::RemoteAppController(std::shared_ptr<LinkClient> client, std::string objectName)
    : m_client(std::move(client)), m_objectName(std::move(objectName)) {}

void RemoteAppController::indicateStatus(const std::string& status) {
    m_client->call(m_objectName, "indicateStatus:", {status});
}

void RemoteAppController::indicateFrame(int index, int count) {
    m_client->call(m_objectName, "indicateFrame:of:", {index, count});
}

void RemoteAppController::indicateError(const std::string& error) {
    m_client->call(m_objectName, "indicateError:", {error});
}

void RemoteAppController::enableControls() {
    m_client->call(m_objectName, "enableControls", {});
}

// The argument is always absent, which travels as no argument at all.
void RemoteAppController::finishedRendering() {
    m_client->call(m_objectName, "finishedRendering:", {});
}

}  // namespace lumivane
