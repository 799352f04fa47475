// epoxy first: it must come before any other OpenGL header, Qt's included.
#include <epoxy/gl.h>

#include "app/view/CompositionDropView.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QOpenGLContext>
#include <QUrl>
#include <QWindow>

#include <cmath>

#include "app/view/InputEventConversion.h"
#include "app/view/PathText.h"
#include "base/Log.h"
#include "platform/engine/Composition.h"
#include "platform/engine/CompositionRenderer.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/HeadlessGLContext.h"

using namespace lumivane;

namespace {

constexpr double kIdleFrameRate = 60;
constexpr double kOpenedFrameRate = 12;
// Input that arrives faster than frames are drawn waits at most this long a
// queue; the oldest entries go first.
constexpr size_t kMaxPendingInput = 256;

// The one local file a drag carries, if it carries exactly one.
std::optional<QString> singleDroppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return std::nullopt;
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
    const QString path = urls.front().toLocalFile();
    if (path.isEmpty()) return std::nullopt;
    return path;
}

}  // namespace

CompositionDropView::CompositionDropView(QWidget* parent)
    : QOpenGLWidget(parent), m_widgetContext(this) {
    setObjectName(QStringLiteral("dropView"));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    // Keeps the last frame in the framebuffer, so a paused or stopped view can
    // be repainted without drawing (and so without advancing its state).
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &CompositionDropView::frameDue);
    setMaxRenderingFrameRate(kIdleFrameRate);
    loadIdleComposition();
}

CompositionDropView::~CompositionDropView() {
    // The context outlives this destructor; its destruction must not call
    // back into a half-destroyed view.
    if (QOpenGLContext* glContext = context()) disconnect(glContext, nullptr, this, nullptr);
    releaseRenderer();
}

void CompositionDropView::setDelegate(CompositionDropViewDelegate* delegate) {
    m_delegate = delegate;
}

CompositionDropViewDelegate* CompositionDropView::delegate() const {
    return m_delegate;
}

void CompositionDropView::loadIdleComposition() {
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() +
                        QStringLiteral("/../share/lumivane/compositions/qcidle.qtz"));
    QString error;
    if (!loadComposition(path, &error)) {
        logLine("Hmm, that didn't go as well as planned...");
        logLine(error.toStdString());
    }
    setValue(PlistValue(tr("Drop in a composition").toStdString()), "dropInText");
}

bool CompositionDropView::loadCompositionFromFile(const QString& path, QString* error) {
    const bool loaded = loadComposition(path, error);
    if (loaded) m_compositionPath = path;
    return loaded;
}

bool CompositionDropView::loadComposition(const QString& path, QString* error) {
    releaseRenderer();
    m_movies.clear();
    m_composition.reset();
    m_compositionPath.clear();
    m_pendingInput.clear();
    m_renderFailureLogged = false;
    QString reason;
    try {
        m_composition = Composition::compositionWithFile(QFile::encodeName(path).toStdString());
    } catch (const std::exception& failure) {
        reason = QString::fromStdString(failure.what());
    }
    if (m_composition && !buildRenderer({}, &reason)) m_composition.reset();
    // A new composition starts at its beginning.
    if (m_rendering) {
        m_timeBase = 0;
        m_clock.start();
    }
    // Nothing of the previous composition stays on screen.
    erase();
    emit compositionChanged();
    if (!m_composition) {
        if (error) *error = reason;
        return false;
    }
    return true;
}

bool CompositionDropView::buildRenderer(const PlistDict& values, QString* error) {
    try {
        if (!m_widgetContextDying && m_widgetContext.makeCurrent()) {
            m_renderer = std::make_unique<CompositionRenderer>(m_widgetContext, m_composition);
            m_rendererContext = &m_widgetContext;
        } else {
            const SavedEGLCurrent saved;
            if (!m_stagingContext) {
                auto made = HeadlessGLContext::create();
                if (!made) throw EngineError(made.error());
                m_stagingContext = std::move(made.value());
            }
            m_renderer = std::make_unique<CompositionRenderer>(*m_stagingContext, m_composition);
            m_rendererContext = m_stagingContext.get();
        }
    } catch (const std::exception& failure) {
        m_renderer.reset();
        m_rendererContext = nullptr;
        if (error) *error = QString::fromStdString(failure.what());
        return false;
    }
    for (const auto& [key, value] : values) {
        try {
            m_renderer->setValue(value, key);
        } catch (const std::exception& failure) {
            logLine(failure.what());
        }
    }
    m_movies.restart();
    m_renderer->setAudioSource(m_audioSource);
    m_renderedSinceBuild = false;
    return true;
}

void CompositionDropView::releaseRenderer() {
    if (!m_renderer) return;
    if (m_rendererContext == m_stagingContext.get()) {
        const SavedEGLCurrent saved;
        m_renderer.reset();
    } else if (m_widgetContext.makeCurrent()) {
        m_renderer.reset();
    } else {
        // Its context is gone and its GL names with it; deleting them now
        // would delete whatever names another context holds.
        (void)m_renderer.release();
    }
    m_rendererContext = nullptr;
}

// Builds the renderer again, on the widget's context when there is one,
// keeping the input values.
void CompositionDropView::rebuildRenderer() {
    if (!m_composition) return;
    const PlistDict values = m_renderer ? m_renderer->propertyListFromInputValues() : PlistDict{};
    releaseRenderer();
    QString error;
    if (!buildRenderer(values, &error)) {
        logLine(error.toStdString());
        m_composition.reset();
        emit compositionChanged();
    }
}

void CompositionDropView::widgetContextAboutToBeDestroyed() {
    // Reparenting to another window recreates the context: the inputs wait on
    // the headless context until initializeGL brings them back.
    m_widgetContextDying = true;
    if (m_renderer && m_rendererContext == &m_widgetContext) rebuildRenderer();
}

void CompositionDropView::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this,
            &CompositionDropView::widgetContextAboutToBeDestroyed);
    m_widgetContextDying = false;
    m_drawnSize = QSize();
    if (m_composition && m_rendererContext != &m_widgetContext) rebuildRenderer();
}

void CompositionDropView::clearFramebuffer() {
    glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}

void CompositionDropView::paintGL() {
    const qreal ratio = devicePixelRatioF();
    const QSize size(qRound(width() * ratio), qRound(height() * ratio));
    const bool resized = size != m_drawnSize;
    m_drawnSize = size;
    if (m_renderer && m_rendererContext != &m_widgetContext) rebuildRenderer();
    // A running view's next frame covers the whole framebuffer, which is all
    // an erase asks for; a stopped or paused one shows black until it draws.
    const bool running = m_renderer && m_rendering && !m_paused;
    if (!running && m_eraseRequested) {
        clearFramebuffer();
        m_eraseRequested = false;
        return;
    }
    m_eraseRequested = false;
    if (!m_renderer || !m_rendering) {
        // A stopped view shows what it last drew until its framebuffer is
        // remade.
        if (!m_renderer || resized) clearFramebuffer();
        return;
    }
    if (m_paused && !resized && !m_redrawRequested) return;
    m_redrawRequested = false;
    std::optional<RenderArguments> input;
    if (!m_paused && !m_pendingInput.empty()) {
        input = std::move(m_pendingInput.front());
        m_pendingInput.pop_front();
    }
    m_movies.showAt(*m_renderer, currentTime());
    m_renderer->setAudioTime(audioTime());
    const auto drawn = m_renderer->render(currentTime(), input ? &*input : nullptr,
                                          defaultFramebufferObject(), size.width(), size.height());
    m_renderedSinceBuild = true;
    if (!drawn) {
        if (!m_renderFailureLogged) {
            logLine("The preview cannot draw at " + std::to_string(size.width()) + "x" +
                    std::to_string(size.height()) + ": " + drawn.error());
            m_renderFailureLogged = true;
        }
        // What stays in the framebuffer is whatever the failed passes left.
        clearFramebuffer();
    }
}

bool CompositionDropView::isOnScreen() const {
    if (!isVisible()) return false;
    const QWidget* top = window();
    if (top->isMinimized()) return false;
    const QWindow* handle = top->windowHandle();
    return handle && handle->isExposed();
}

void CompositionDropView::frameDue() {
    // A hidden, minimised or covered window shows no frame: drawing one
    // would only cost the processor. The clock runs on, so the preview is
    // where it should be when it shows again.
    if (isOnScreen()) update();
}

void CompositionDropView::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    if (m_autostarts && !m_rendering && m_composition) startRendering();
}

double CompositionDropView::currentTime() const {
    const bool running = m_rendering && !m_paused && m_clock.isValid();
    return m_timeBase + (running ? double(m_clock.nsecsElapsed()) / 1e9 : 0.0);
}

void CompositionDropView::startRendering() {
    if (m_rendering) return;
    // A fresh start draws the composition from its first frame: no feedback
    // buffers or frame count left over from the last run.
    if (m_renderedSinceBuild) rebuildRenderer();
    m_rendering = true;
    m_paused = false;
    m_timeBase = 0;
    m_clock.start();
    m_frameTimer.start();
    // The first frame shows even when a pause follows at once.
    m_redrawRequested = true;
    update();
}

void CompositionDropView::stopRendering() {
    m_rendering = false;
    m_paused = false;
    m_timeBase = 0;
    m_clock.invalidate();
    m_frameTimer.stop();
    m_pendingInput.clear();
}

void CompositionDropView::pauseRendering() {
    if (!m_rendering || m_paused) return;
    m_timeBase = currentTime();
    m_paused = true;
    m_frameTimer.stop();
}

void CompositionDropView::resumeRendering() {
    if (!m_rendering || !m_paused) return;
    m_paused = false;
    m_clock.start();
    m_frameTimer.start();
    update();
}

bool CompositionDropView::isRendering() const {
    return m_rendering;
}

bool CompositionDropView::isPausedRendering() const {
    return m_paused;
}

void CompositionDropView::setAutostartsRendering(bool flag) {
    m_autostarts = flag;
}

void CompositionDropView::setMaxRenderingFrameRate(double rate) {
    m_maxFrameRate = rate;
    updateTimerInterval();
}

double CompositionDropView::maxRenderingFrameRate() const {
    return m_maxFrameRate;
}

void CompositionDropView::updateTimerInterval() {
    // No positive rate means no limit: as often as the event loop allows.
    const bool limited = std::isfinite(m_maxFrameRate) && m_maxFrameRate > 0;
    const double interval = limited ? 1000.0 / m_maxFrameRate : 1.0;
    m_frameTimer.setInterval(int(std::clamp(std::lround(interval), 1L, 3600L * 1000L)));
}

void CompositionDropView::setEventForwardingMask(unsigned mask) {
    m_eventMask = mask;
    setMouseTracking(forwards(NSMouseMoved));
    if (mask == 0) m_pendingInput.clear();
}

unsigned CompositionDropView::eventForwardingMask() const {
    return m_eventMask;
}

void CompositionDropView::erase() {
    m_eraseRequested = true;
    update();
}

std::vector<std::string> CompositionDropView::inputKeys() const {
    return m_composition ? m_composition->inputKeys() : std::vector<std::string>{};
}

PlistDict CompositionDropView::attributes() const {
    return m_composition ? m_composition->attributes() : PlistDict{};
}

std::optional<PlistValue> CompositionDropView::valueForInputKey(const std::string& key) const {
    if (!m_renderer) return std::nullopt;
    if (auto movie = m_movies.pathFor(key)) return PlistValue(*movie);
    return m_renderer->valueForInputKey(key);
}

bool CompositionDropView::isImageInput(const std::string& key) const {
    if (!m_composition) return false;
    const auto& inputs = m_composition->inputs();
    return std::any_of(inputs.begin(), inputs.end(), [&](const CompositionInput& input) {
        return input.name == key && input.type == InputType::Image;
    });
}

// The movie plays from the preview's current time on; one that cannot be
// played leaves the input as it was.
bool CompositionDropView::setMovie(const std::string& key, const std::string& path,
                                   QString* error) {
    if (auto taken = m_movies.take(key, path, m_renderer->maxTextureSize()); !taken) {
        if (error) *error = QString::fromStdString(taken.error());
        return false;
    }
    m_redrawRequested = true;
    update();
    emit inputValuesChanged();
    return true;
}

bool CompositionDropView::setValue(const PlistValue& value, const std::string& key,
                                   QString* error) {
    if (!m_renderer) {
        if (error) *error = tr("No composition is open.");
        return false;
    }
    const bool image = isImageInput(key) && value.isString();
    if (image && PreviewMovies::isMovie(*value.asString()))
        return setMovie(key, *value.asString(), error);
    const std::optional<PlistValue> before = valueForInputKey(key);
    try {
        m_renderer->setValue(value, key);
    } catch (const std::exception& failure) {
        if (error) *error = QString::fromStdString(failure.what());
        return false;
    }
    if (image) m_movies.remove(key);
    // A new image from the same path or a fired event shows on the next frame
    // even while paused.
    m_redrawRequested = true;
    update();
    if (valueForInputKey(key) != before) emit inputValuesChanged();
    return true;
}

PlistDict CompositionDropView::propertyListFromInputValues() const {
    if (!m_renderer) return {};
    PlistDict values = m_renderer->propertyListFromInputValues();
    m_movies.addPaths(values);
    return values;
}

void CompositionDropView::setAudioSource(std::shared_ptr<AudioSampleSource> source) {
    m_audioSource = std::move(source);
    if (m_renderer) m_renderer->setAudioSource(m_audioSource);
    m_redrawRequested = true;
    update();
}

QString CompositionDropView::compositionPath() const {
    return m_compositionPath;
}

QImage CompositionDropView::grabRenderedFrame() {
    return grabFramebuffer();
}

bool CompositionDropView::acceptsDrag(const QMimeData* mime, Qt::DropActions actions) const {
    const QAbstractButton* preview = m_delegate ? m_delegate->previewEnabled() : nullptr;
    if (!preview || !preview->isEnabled()) return false;  // a render job runs
    if (!(actions & Qt::CopyAction)) return false;
    const std::optional<QString> path = singleDroppedFile(mime);
    return path && pathExtensionOf(*path) == QLatin1String("qtz");
}

void CompositionDropView::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptsDrag(event->mimeData(), event->possibleActions())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CompositionDropView::dragLeaveEvent(QDragLeaveEvent* event) {
    event->accept();
}

void CompositionDropView::dropEvent(QDropEvent* event) {
    const std::optional<QString> path = singleDroppedFile(event->mimeData());
    if (!path || pathExtensionOf(*path) != QLatin1String("qtz")) {
        event->ignore();
        return;
    }
    erase();
    stopRendering();
    setMaxRenderingFrameRate(kOpenedFrameRate);
    QString reason;
    if (!loadCompositionFromFile(*path, &reason)) {
        logLine("Hmm, that didn't go as well as planned...");
        logLine(reason.toStdString());
        if (m_delegate) {
            m_delegate->setCanRecord(false);
            m_delegate->setDefaultPath(QString());
        }
        window()->setWindowTitle(QStringLiteral("Lumivane"));
        emit compositionLoadFailed(*path, reason);
        event->ignore();
        return;
    }
    if (m_delegate) {
        m_delegate->setCompositionFile(*path);
        m_delegate->setCanRecord(true);
        m_delegate->setDefaultPath(deletingPathExtensionOf(*path) + QStringLiteral(".mov"));
    }
    window()->setWindowTitle(QStringLiteral("Lumivane - %1").arg(QFileInfo(*path).fileName()));
    const QAbstractButton* preview = m_delegate ? m_delegate->previewEnabled() : nullptr;
    if (preview && preview->isChecked()) startRendering();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    update();
}

bool CompositionDropView::forwards(int eventType) const {
    return (m_eventMask & (1u << unsigned(eventType))) != 0;
}

Point CompositionDropView::normalizedPosition(const QPointF& position) const {
    return {float(position.x() / std::max(1, width())),
            float(1.0 - position.y() / std::max(1, height()))};
}

void CompositionDropView::deliverEvent(std::shared_ptr<const Event> event,
                                       std::optional<Point> location) {
    if (!event || !forwards(event->type())) return;
    const int type = event->type();
    const bool coalesce = type == NSMouseMoved || type == NSLeftMouseDragged ||
                          type == NSRightMouseDragged || type == NSOtherMouseDragged;
    queueInput(std::move(event), location, coalesce);
}

void CompositionDropView::queueInput(std::shared_ptr<const Event> event,
                                     std::optional<Point> location, bool coalesce) {
    if (!m_rendering) return;
    // Moves and drags between two frames count once: the newest wins.
    if (coalesce && !m_pendingInput.empty() && m_pendingInput.back().event &&
        m_pendingInput.back().event->type() == event->type()) {
        m_pendingInput.back() = RenderArguments{std::move(event), location, std::nullopt};
        return;
    }
    if (m_pendingInput.size() >= kMaxPendingInput) m_pendingInput.pop_front();
    m_pendingInput.push_back(RenderArguments{std::move(event), location, std::nullopt});
}

void CompositionDropView::mousePressEvent(QMouseEvent* event) {
    if (!forwards(mouseEventType(*event))) return QOpenGLWidget::mousePressEvent(event);
    queueInput(mouseEventFromQt(*event, *this), normalizedPosition(event->position()), false);
    event->accept();
}

void CompositionDropView::mouseReleaseEvent(QMouseEvent* event) {
    if (!forwards(mouseEventType(*event))) return QOpenGLWidget::mouseReleaseEvent(event);
    queueInput(mouseEventFromQt(*event, *this), normalizedPosition(event->position()), false);
    event->accept();
}

void CompositionDropView::mouseMoveEvent(QMouseEvent* event) {
    if (!forwards(mouseEventType(*event))) return QOpenGLWidget::mouseMoveEvent(event);
    queueInput(mouseEventFromQt(*event, *this), normalizedPosition(event->position()), true);
    event->accept();
}

void CompositionDropView::wheelEvent(QWheelEvent* event) {
    if (!forwards(NSScrollWheel)) return QOpenGLWidget::wheelEvent(event);
    queueInput(scrollEventFromQt(*event, *this), normalizedPosition(event->position()), false);
    event->accept();
}

void CompositionDropView::keyPressEvent(QKeyEvent* event) {
    uint32_t held = m_heldModifiers;
    auto converted = keyEventFromQt(*event, true, *this, held);
    if (!forwards(converted->type())) return QOpenGLWidget::keyPressEvent(event);
    m_heldModifiers = held;
    queueInput(std::move(converted), normalizedPosition(mapFromGlobal(QCursor::pos())), false);
    event->accept();
}

void CompositionDropView::keyReleaseEvent(QKeyEvent* event) {
    uint32_t held = m_heldModifiers;
    auto converted = keyEventFromQt(*event, false, *this, held);
    if (!forwards(converted->type())) return QOpenGLWidget::keyReleaseEvent(event);
    m_heldModifiers = held;
    queueInput(std::move(converted), normalizedPosition(mapFromGlobal(QCursor::pos())), false);
    event->accept();
}
