#include "app/recording/RecordInputWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "app/recording/LCDText.h"
#include "app/recording/RecordInputView.h"
#include "app/recording/RecordingTimeline.h"
#include "app/view/AspectRatioFrame.h"
#include "app/view/Sheets.h"
#include "base/Log.h"
#include "shared/RecordedEvents.h"
#include "ui_RecordInputWindow.h"

using namespace lumivane;

namespace {

constexpr int kRefreshIntervalMs = 1000 / 30;
constexpr int kIndicatorFlashMs = 500;
constexpr const char* kDisplayFont = "Electronic Highway Sign";
// Debian's fonts-dejavu-core: a fixed-width face of the same sizes where the
// display font is missing.
constexpr const char* kFallbackDisplayFont = "DejaVu Sans Mono";

std::string encodedPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

RecordInputWindow::RecordInputWindow(QWidget* sheetParent, QObject* parent)
    : QObject(parent),
      m_window(std::make_unique<QDialog>(sheetParent, sheetParent ? Qt::Sheet : Qt::Dialog)),
      m_ui(std::make_unique<Ui::RecordInputWindow>()) {
    m_ui->setupUi(m_window.get());
    m_window->setWindowModality(sheetParent ? Qt::WindowModal : Qt::NonModal);
    m_window->installEventFilter(this);
    m_ui->inputView->setPlayheadSource([this] { return playheadSec(); });
    connect(m_ui->inputView, &RecordInputView::activity, this, &RecordInputWindow::indicate);
    m_viewFrame = AspectRatioFrame::wrap(m_ui->inputView);

    // The window's menu: the transport, then the record mode as a submenu.
    m_menu = new QMenu(tr("Record Input"), m_window.get());
    m_menu->setObjectName(QStringLiteral("menuItem"));
    m_menu->menuAction()->setObjectName(QStringLiteral("menuItem"));
    m_menu->addAction(m_ui->goToBeginningMenuItem);
    m_menu->addAction(m_ui->recordMenuItem);
    m_menu->addAction(m_ui->playMenuItem);
    m_menu->addAction(m_ui->pauseMenuItem);
    m_menu->addSeparator();
    m_recordModeMenu = m_menu->addMenu(tr("Record Mode"));
    m_recordModeMenu->menuAction()->setObjectName(QStringLiteral("recordModeMenuItem"));
    m_recordModeMenu->addAction(m_ui->recordModeAddMenuItem);
    m_recordModeMenu->addAction(m_ui->recordModeReplaceMenuItem);
    m_menu->addSeparator();
    m_menu->addAction(m_ui->clearMenuItem);
    for (QMenu* menu : {m_menu, m_recordModeMenu})
        connect(menu, &QMenu::aboutToShow, this, &RecordInputWindow::validateMenuItems);
    auto* menuBar = new QMenuBar(m_window.get());
    menuBar->setObjectName(QStringLiteral("recordInputMenuBar"));
    // Clicks on the bar must not take the keyboard from the recording.
    menuBar->setFocusPolicy(Qt::NoFocus);
    menuBar->addMenu(m_menu);
    m_window->layout()->setMenuBar(menuBar);

    const std::pair<QPushButton*, void (RecordInputWindow::*)(QObject*)> buttons[] = {
        {m_ui->goToBeginningButton, &RecordInputWindow::goToBeginning},
        {m_ui->recordButton, &RecordInputWindow::record},
        {m_ui->playButton, &RecordInputWindow::play},
        {m_ui->pauseButton, &RecordInputWindow::pause},
        {m_ui->doneButton, &RecordInputWindow::done},
        {m_ui->clearButton, &RecordInputWindow::clear},
    };
    for (const auto& [button, action] : buttons) {
        // Keys belong to the composition: a focused button would take Space
        // or Return from the recording.
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this,
                [this, button = button, action = action] { (this->*action)(button); });
    }
    const std::pair<QAction*, void (RecordInputWindow::*)(QObject*)> items[] = {
        {m_ui->goToBeginningMenuItem, &RecordInputWindow::goToBeginning},
        {m_ui->recordMenuItem, &RecordInputWindow::record},
        {m_ui->playMenuItem, &RecordInputWindow::play},
        {m_ui->pauseMenuItem, &RecordInputWindow::pause},
        {m_ui->clearMenuItem, &RecordInputWindow::clear},
        {m_ui->recordModeAddMenuItem, &RecordInputWindow::recordModeAdd},
        {m_ui->recordModeReplaceMenuItem, &RecordInputWindow::recordModeReplace},
    };
    for (const auto& [item, action] : items) {
        // A disabled state may be stale until the menu opens; the action
        // checks again before it acts.
        connect(item, &QAction::triggered, this, [this, item = item, action = action] {
            if (validateMenuItem(item)) (this->*action)(item);
        });
    }
    m_ui->recordModeButton->setFocusPolicy(Qt::NoFocus);
    connect(m_ui->recordModeButton, &QComboBox::activated, this, [this](int index) {
        if (index == kRecordModeAddButton)
            recordModeAdd(m_ui->recordModeButton);
        else
            recordModeReplace(m_ui->recordModeButton);
    });

    for (QTimer** flash : {&m_keyFlash, &m_mouseFlash}) {
        *flash = new QTimer(this);
        (*flash)->setSingleShot(true);
        (*flash)->setInterval(kIndicatorFlashMs);
    }
    // Ended from outside (the application quitting ends its sheets): keep
    // what was recorded, as Done does, with no sheet left to ask on.
    connect(m_window.get(), &QDialog::rejected, this, [this] {
        if (m_timer) pause(nullptr);
        if (m_totalSec > 0) {
            if (const Result<void> saved = saveEvents(); !saved)
                logLine("Failed to autosave recorded inputs: " + saved.error());
        }
        closeWindow();
    });
    connect(m_keyFlash, &QTimer::timeout, this, &RecordInputWindow::keyUpEvent);
    connect(m_mouseFlash, &QTimer::timeout, this, &RecordInputWindow::mouseUpEvent);

    windowDidLoad();
}

RecordInputWindow::~RecordInputWindow() {
    stopTimer();
    m_ui->inputView->setPlayheadSource({});
}

RecordInputView* RecordInputWindow::inputView() const {
    return m_ui->inputView;
}

QAction* RecordInputWindow::menuItem() const {
    return m_menu->menuAction();
}

void RecordInputWindow::setOutputSize(const QSize& size) {
    m_viewFrame->setAspectSize(size);
}

void RecordInputWindow::windowDidLoad() {
    const QString family = QFontDatabase::hasFamily(QString::fromLatin1(kDisplayFont))
                               ? QString::fromLatin1(kDisplayFont)
                               : QString::fromLatin1(kFallbackDisplayFont);
    const std::pair<LCDText*, int> fields[] = {{m_ui->timeStatusField, 10},
                                               {m_ui->timeField, 27},
                                               {m_ui->mouseEventField, 10},
                                               {m_ui->keyboardEventField, 10}};
    for (const auto& [field, points] : fields) {
        QFont font(family, points);
        font.setStyleHint(QFont::Monospace);
        field->setFont(font);
    }
    // The indicators keep their room while hidden, so nothing jumps.
    for (QWidget* indicator : {static_cast<QWidget*>(m_ui->mouseEventField),
                               static_cast<QWidget*>(m_ui->keyboardEventField)}) {
        QSizePolicy policy = indicator->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        indicator->setSizePolicy(policy);
    }
    recordModeReplace(nullptr);
}

void RecordInputWindow::setCompositionFile(const QString& path) {
    m_compositionFile = path;
    m_compositionChanged = true;
    loadEvents();
}

double RecordInputWindow::playheadSec() const {
    if (!m_timer) return m_playheadSec;
    return m_playheadSec + double(m_referenceDate.nsecsElapsed()) / 1e9;
}

void RecordInputWindow::refreshPlayhead() {
    if (m_timer && m_referenceDate.isValid()) {
        // Add exactly what the restart measured: nothing falls between the
        // two readings.
        m_playheadSec += double(m_referenceDate.restart()) / 1e3;
    }
    setTimeDisplay(m_playheadSec);
}

void RecordInputWindow::setTimeDisplay(double seconds) {
    m_ui->timeField->setText(timeDisplayText(seconds));
}

void RecordInputWindow::stopTimer() {
    if (!m_timer) return;
    m_timer->stop();
    m_timer.reset();
    m_referenceDate.invalidate();
}

void RecordInputWindow::startRecordingOrPlaying(bool recording) {
    RecordInputView* view = m_ui->inputView;
    view->setIsRecording(recording);
    // Before the timer exists, so the view sees the playhead with nothing
    // elapsed.
    if (view->isRendering())
        view->resumeRendering();
    else
        view->startRendering();
    view->setFocus();
    m_ui->timeStatusField->setText(recording ? tr("Recording") : tr("Playing"));
    m_timer = std::make_unique<QTimer>();
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kRefreshIntervalMs);
    connect(m_timer.get(), &QTimer::timeout, this, &RecordInputWindow::refreshTime);
    m_referenceDate.start();
    m_timer->start();
}

void RecordInputWindow::refreshTime() {
    refreshPlayhead();
    if (m_isRecording || m_playheadSec < m_totalSec) return;
    // The end of the recording: stop exactly on it.
    m_playheadSec = m_totalSec;
    stopTimer();
    pause(nullptr);
}

bool RecordInputWindow::viewHoldsEvents() const {
    return !m_ui->inputView->events().empty();
}

void RecordInputWindow::record(QObject* /*sender*/) {
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->goToBeginningButton),
          static_cast<QWidget*>(m_ui->recordButton), static_cast<QWidget*>(m_ui->playButton),
          static_cast<QWidget*>(m_ui->doneButton), static_cast<QWidget*>(m_ui->clearButton),
          static_cast<QWidget*>(m_ui->recordModeButton)})
        control->setEnabled(false);
    m_isRecording = true;
    startRecordingOrPlaying(true);
    m_ui->pauseButton->setEnabled(true);
    validateMenuItems();
}

void RecordInputWindow::play(QObject* /*sender*/) {
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->playButton), static_cast<QWidget*>(m_ui->goToBeginningButton),
          static_cast<QWidget*>(m_ui->recordButton), static_cast<QWidget*>(m_ui->doneButton),
          static_cast<QWidget*>(m_ui->clearButton), static_cast<QWidget*>(m_ui->recordModeButton)})
        control->setEnabled(false);
    startRecordingOrPlaying(false);
    m_ui->pauseButton->setEnabled(true);
    validateMenuItems();
}

void RecordInputWindow::pause(QObject* /*sender*/) {
    m_ui->pauseButton->setEnabled(false);
    m_ui->inputView->pauseRendering();
    refreshPlayhead();
    stopTimer();
    m_ui->timeStatusField->setText(tr("Ready"));
    if (m_isRecording) {
        m_totalSec = std::max(m_totalSec, m_playheadSec);
        m_isRecording = false;
    }
    m_ui->mouseEventField->hide();
    m_ui->keyboardEventField->hide();
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->goToBeginningButton),
          static_cast<QWidget*>(m_ui->recordButton), static_cast<QWidget*>(m_ui->doneButton),
          static_cast<QWidget*>(m_ui->recordModeButton)})
        control->setEnabled(true);
    m_ui->playButton->setEnabled(m_playheadSec < m_totalSec);
    m_ui->clearButton->setEnabled(viewHoldsEvents());
    validateMenuItems();
}

void RecordInputWindow::goToBeginning(QObject* /*sender*/) {
    m_ui->goToBeginningButton->setEnabled(false);
    m_ui->inputView->stopRendering();
    m_playheadSec = 0;
    setTimeDisplay(0);
    showFirstFrame();
    m_ui->playButton->setEnabled(0 < m_totalSec);
    validateMenuItems();
}

void RecordInputWindow::done(QObject* /*sender*/) {
    if (m_totalSec <= 0) return closeWindow();
    const Result<void> saved = saveEvents();
    if (saved) return closeWindow();
    logLine("Failed to autosave recorded inputs: " + saved.error());
    // The store's reason, not a guess at it; the other texts stand as they
    // are, without translation.
    const QString file = QFile::decodeName(
        RecordedEvents::recordedEventsFileForComposition(encodedPath(m_compositionFile)).c_str());
    showSheet(m_window.get(), QStringLiteral("autosaveFailedSheet"),
              {QMessageBox::Warning, QStringLiteral("Failed to autosave"),
               QStringLiteral("Failed to autosave recorded inputs to file '%1'.\n\n%2")
                   .arg(file, QString::fromStdString(saved.error()))},
              {{QStringLiteral("Close"), QMessageBox::AcceptRole}}, 0, 0,
              [this](int) { shouldDone(kFirstButtonReturn); });
}

void RecordInputWindow::shouldDone(int /*returnCode*/) {
    closeWindow();
}

void RecordInputWindow::clear(QObject* /*sender*/) {
    showSheet(
        m_window.get(), QStringLiteral("clearSheet"),
        {QMessageBox::Warning, tr("Clear"),
         tr("Are you sure you want to clear all recorded input?")},
        {{tr("Clear"), QMessageBox::AcceptRole}, {tr("Don't Clear"), QMessageBox::RejectRole}}, 0,
        1, [this](int button) {
            shouldClear(button == 0 ? kFirstButtonReturn : kSecondButtonReturn);
        });
}

void RecordInputWindow::shouldClear(int returnCode) {
    if (returnCode != kFirstButtonReturn) return;
    m_ui->inputView->setEvents({});
    m_totalSec = 0;
    reset();
    goToBeginning(nullptr);
}

void RecordInputWindow::closeWindow() {
    static const QMetaMethod closeSignal =
        QMetaMethod::fromSignal(&RecordInputWindow::closeRequested);
    if (isSignalConnected(closeSignal))
        emit closeRequested();
    else
        m_window->hide();
}

void RecordInputWindow::recordModeAdd(QObject* /*sender*/) {
    m_ui->recordModeButton->setCurrentIndex(kRecordModeAddButton);
    m_ui->recordModeAddMenuItem->setChecked(true);
    m_ui->recordModeReplaceMenuItem->setChecked(false);
    m_ui->inputView->setOverwrite(false);
}

void RecordInputWindow::recordModeReplace(QObject* /*sender*/) {
    m_ui->recordModeButton->setCurrentIndex(kRecordModeReplaceButton);
    m_ui->recordModeAddMenuItem->setChecked(false);
    m_ui->recordModeReplaceMenuItem->setChecked(true);
    m_ui->inputView->setOverwrite(true);
}

void RecordInputWindow::setOverwrite(bool flag) {
    if (flag)
        recordModeReplace(nullptr);
    else
        recordModeAdd(nullptr);
}

bool RecordInputWindow::validateMenuItem(QAction* item) const {
    if (item == m_ui->goToBeginningMenuItem) return m_ui->goToBeginningButton->isEnabled();
    if (item == m_ui->recordMenuItem) return m_ui->recordButton->isEnabled();
    if (item == m_ui->playMenuItem) return m_ui->playButton->isEnabled();
    if (item == m_ui->pauseMenuItem) return m_ui->pauseButton->isEnabled();
    if (item == m_ui->clearMenuItem) return m_ui->clearButton->isEnabled();
    if (item == m_ui->recordModeAddMenuItem || item == m_ui->recordModeReplaceMenuItem)
        return m_ui->recordModeButton->isEnabled();
    return true;
}

void RecordInputWindow::validateMenuItems() {
    for (QMenu* menu : {m_menu, m_recordModeMenu}) {
        for (QAction* item : menu->actions()) item->setEnabled(validateMenuItem(item));
    }
}

void RecordInputWindow::reset() {
    // Dropping the timer stops it: a timer left running would move a playhead
    // that reset has just put to 0.
    stopTimer();
    m_playheadSec = 0;
    m_isRecording = false;
    m_ui->timeStatusField->setText(tr("Ready"));
    setTimeDisplay(0);
    m_ui->mouseEventField->hide();
    m_ui->keyboardEventField->hide();
    m_ui->goToBeginningButton->setEnabled(false);
    m_ui->recordButton->setEnabled(true);
    m_ui->playButton->setEnabled(0 < m_totalSec);
    m_ui->pauseButton->setEnabled(false);
    m_ui->doneButton->setEnabled(true);
    m_ui->clearButton->setEnabled(viewHoldsEvents());
    m_ui->recordModeButton->setEnabled(true);
    if (m_compositionChanged) {
        QString error;
        if (m_ui->inputView->loadCompositionFromFile(m_compositionFile, &error)) {
            m_compositionChanged = false;
        } else {
            // Tried again at the next reset.
            logLine("Failed to load composition [" + encodedPath(m_compositionFile) + "]");
            if (!error.isEmpty()) logLine(error.toStdString());
        }
    }
    // A view left paused by the last showing would go on from its old time
    // and state; the first frame starts afresh, as after go to beginning.
    m_ui->inputView->stopRendering();
    showFirstFrame();
    validateMenuItems();
}

void RecordInputWindow::showFirstFrame() {
    RecordInputView* view = m_ui->inputView;
    const bool mode = view->overwrite();
    view->setOverwrite(true);
    view->setIsRecording(true);
    view->startRendering();
    view->pauseRendering();
    QTimer::singleShot(0, this, [this, mode] {
        setOverwrite(mode);
        // A stretch started before this pass of the event loop keeps its own
        // recording flag.
        if (!m_timer) m_ui->inputView->setIsRecording(false);
    });
}

void RecordInputWindow::loadEvents() {
    RecordedEntries events = RecordedEvents::recordedEventsArrayForComposition(
        encodedPath(m_compositionFile), &m_totalSec);
    m_ui->inputView->setEvents(std::move(events));
}

Result<void> RecordInputWindow::saveEvents() {
    return RecordedEvents::saveRecordedEventsArray(m_ui->inputView->events(), m_totalSec,
                                                   encodedPath(m_compositionFile));
}

void RecordInputWindow::indicate(RecordInputView::Indicator indicator) {
    using Indicator = RecordInputView::Indicator;
    switch (indicator) {
        case Indicator::None:
            break;
        case Indicator::KeyDown:
            return keyDownEvent();
        case Indicator::KeyUp:
            return keyUpEvent();
        case Indicator::KeyInstantaneous:
            return keyInstantaneousEvent();
        case Indicator::MouseDown:
            return mouseDownEvent();
        case Indicator::MouseUp:
            return mouseUpEvent();
        case Indicator::MouseInstantaneous:
            return mouseInstantaneousEvent();
    }
}

void RecordInputWindow::keyDownEvent() {
    m_keyFlash->stop();
    m_ui->keyboardEventField->show();
}

void RecordInputWindow::keyUpEvent() {
    m_ui->keyboardEventField->hide();
}

void RecordInputWindow::keyInstantaneousEvent() {
    if (!m_ui->keyboardEventField->isHidden()) return;
    m_ui->keyboardEventField->show();
    m_keyFlash->start();
}

void RecordInputWindow::mouseDownEvent() {
    m_mouseFlash->stop();
    m_ui->mouseEventField->show();
}

void RecordInputWindow::mouseUpEvent() {
    m_ui->mouseEventField->hide();
}

void RecordInputWindow::mouseInstantaneousEvent() {
    if (!m_ui->mouseEventField->isHidden()) return;
    m_ui->mouseEventField->show();
    m_mouseFlash->start();
}

bool RecordInputWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get()) {
        // Closing the sheet or pressing Escape in it means Done: the
        // recording is saved, never dropped. While the transport runs there
        // is nothing to close.
        const bool escape = event->type() == QEvent::KeyPress &&
                            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (event->type() == QEvent::Close || escape) {
            event->ignore();
            if (m_ui->doneButton->isEnabled()) done(nullptr);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
