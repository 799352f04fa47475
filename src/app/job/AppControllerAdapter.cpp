#include "app/job/AppControllerAdapter.h"

AppControllerAdapter::AppControllerAdapter(QObject* parent) : QObject(parent) {}

void AppControllerAdapter::indicateStatus(const std::string& status) {
    emit statusIndicated(QString::fromStdString(status));
}

void AppControllerAdapter::indicateFrame(int index, int count) {
    emit frameIndicated(index, count);
}

void AppControllerAdapter::indicateError(const std::string& error) {
    emit errorIndicated(QString::fromStdString(error));
}

void AppControllerAdapter::enableControls() {
    emit enableControlsRequested();
}

void AppControllerAdapter::finishedRendering() {
    emit renderingFinished();
}
