// The application's controller as the render link sees it: each call from the
// renderer becomes a Qt signal, emitted synchronously on the thread that
// serves the link (the main thread), while the renderer waits for the reply.
// Set one as the settings record's appController and connect its signals to
// the controller's handlers.
#pragma once

#include <QObject>
#include <QString>

#include "shared/AppControllerProxy.h"

class AppControllerAdapter : public QObject, public lumivane::AppControllerProxy {
    Q_OBJECT

public:
    explicit AppControllerAdapter(QObject* parent = nullptr);

    void indicateStatus(const std::string& status) override;
    void indicateFrame(int index, int count) override;
    void indicateError(const std::string& error) override;
    void enableControls() override;
    void finishedRendering() override;

signals:
    void statusIndicated(const QString& statusKey);
    void frameIndicated(int index, int count);
    void errorIndicated(const QString& errorKey);
    void enableControlsRequested();
    void renderingFinished();
};
