// The main window's live preview: plays a composition on its own clock,
// takes one dropped .qtz document at a time and tells its delegate (the
// application controller) what it now shows.
#pragma once

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QSize>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/view/CompositionDropViewDelegate.h"
#include "app/view/PreviewMovies.h"
#include "app/view/WidgetGLContext.h"
#include "base/PlistValue.h"
#include "platform/engine/EngineKeys.h"

class QMimeData;

namespace lumivane {
class AudioSampleSource;
class Composition;
class CompositionRenderer;
class HeadlessGLContext;
}  // namespace lumivane

class CompositionDropView : public QOpenGLWidget {
    Q_OBJECT

public:
    // Plays nothing until started; shows the idle composition with its
    // invitation text, at 60 frames per second.
    explicit CompositionDropView(QWidget* parent = nullptr);
    ~CompositionDropView() override;

    // Not owned; must outlive the view or be reset to nullptr first.
    void setDelegate(CompositionDropViewDelegate* delegate);
    CompositionDropViewDelegate* delegate() const;

    // Replaces the shown composition. False, with the engine's reason in
    // *error, when it cannot be loaded; the previous composition is gone then
    // and the view erased.
    bool loadCompositionFromFile(const QString& path, QString* error = nullptr);

    // The view's clock: start runs it from 0, pause freezes it, resume goes
    // on from where it froze, stop resets it.
    void startRendering();
    void stopRendering();
    void pauseRendering();
    void resumeRendering();
    bool isRendering() const;
    bool isPausedRendering() const;
    // Whether showing the view starts it rendering (true by default).
    void setAutostartsRendering(bool flag);

    void setMaxRenderingFrameRate(double rate);
    double maxRenderingFrameRate() const;
    // Bits (1 << event type) of the mouse and key events the composition
    // receives; 0 keeps all user input away from it.
    void setEventForwardingMask(unsigned mask);
    unsigned eventForwardingMask() const;
    // Clears the view to black until the next frame is drawn.
    void erase();

    // Published inputs of the shown composition.
    std::vector<std::string> inputKeys() const;
    lumivane::PlistDict attributes() const;
    std::optional<lumivane::PlistValue> valueForInputKey(const std::string& key) const;
    // False for an unknown key or a value the input cannot take (*error says
    // why).
    bool setValue(const lumivane::PlistValue& value, const std::string& key,
                  QString* error = nullptr);
    lumivane::PlistDict propertyListFromInputValues() const;
    // The sound the composition's audio inputs hear, at the view's time;
    // none leaves them silent. Kept across compositions.
    void setAudioSource(std::shared_ptr<lumivane::AudioSampleSource> source);

    // Empty while the idle composition or nothing is shown.
    QString compositionPath() const;
    // Whether drawing a frame now would show: the view is visible in a
    // window that is neither minimised nor covered.
    bool isOnScreen() const;
    // Draws a frame as a repaint would and returns it.
    QImage grabRenderedFrame();

signals:
    // A dropped composition could not be loaded: its path and the reason.
    void compositionLoadFailed(const QString& path, const QString& reason);
    // A different composition (or none, after a failed load) is now shown.
    void compositionChanged();
    void inputValuesChanged();

protected:
    void initializeGL() override;
    void paintGL() override;
    void showEvent(QShowEvent* event) override;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

    // Hands an event to the composition with its normalized mouse location
    // (origin bottom-left; none leaves the pointer where it was), as the
    // input handlers do, if the forwarding mask lets its type through.
    void deliverEvent(std::shared_ptr<const lumivane::Event> event,
                      std::optional<lumivane::Point> location);
    // Where in the sound the audio inputs listen when that is not the
    // view's own clock; none: the clock.
    virtual std::optional<double> audioTime() const { return std::nullopt; }

private:
    bool loadComposition(const QString& path, QString* error);
    void loadIdleComposition();
    bool buildRenderer(const lumivane::PlistDict& values, QString* error);
    void releaseRenderer();
    void rebuildRenderer();
    void widgetContextAboutToBeDestroyed();
    void clearFramebuffer();
    double currentTime() const;
    void updateTimerInterval();
    void frameDue();
    bool acceptsDrag(const QMimeData* mime, Qt::DropActions actions) const;
    bool forwards(int eventType) const;
    lumivane::Point normalizedPosition(const QPointF& position) const;
    void queueInput(std::shared_ptr<const lumivane::Event> event,
                    std::optional<lumivane::Point> location, bool coalesce);
    bool isImageInput(const std::string& key) const;
    bool setMovie(const std::string& key, const std::string& path, QString* error);

    CompositionDropViewDelegate* m_delegate = nullptr;
    lumivane::WidgetGLContext m_widgetContext;
    // Until the widget has a context of its own, the inputs live in a
    // renderer on a headless context, so values set early are checked by the
    // engine exactly as later ones are.
    std::unique_ptr<lumivane::HeadlessGLContext> m_stagingContext;
    lumivane::GLContext* m_rendererContext = nullptr;
    std::shared_ptr<lumivane::Composition> m_composition;
    std::unique_ptr<lumivane::CompositionRenderer> m_renderer;
    // Image inputs given a movie; the renderer keeps what they had before.
    PreviewMovies m_movies;
    std::shared_ptr<lumivane::AudioSampleSource> m_audioSource;
    bool m_widgetContextDying = false;
    QString m_compositionPath;

    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    double m_timeBase = 0;
    double m_maxFrameRate = 60;
    bool m_rendering = false;
    bool m_paused = false;
    bool m_autostarts = true;
    bool m_eraseRequested = true;
    bool m_redrawRequested = false;
    bool m_renderedSinceBuild = false;
    bool m_renderFailureLogged = false;
    QSize m_drawnSize;

    unsigned m_eventMask = 0;
    uint32_t m_heldModifiers = 0;
    std::deque<lumivane::RenderArguments> m_pendingInput;
};
