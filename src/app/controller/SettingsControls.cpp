#include "app/controller/SettingsControls.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>

#include <array>
#include <limits>

#include "app/controller/AppController.h"
#include "app/controller/OBNumberFormatter.h"
#include "app/controller/OutputMenus.h"
#include "app/controller/OutputPath.h"
#include "app/controller/UserDefaults.h"
#include "shared/RenderSettings.h"
#include "ui_MainWindow.h"

namespace {

// Sizes of the renderPreset entries 0-8; the entry after them is "Custom".
constexpr std::array<std::pair<int, int>, 9> kPresetSizes = {{{320, 240},
                                                              {640, 480},
                                                              {800, 600},
                                                              {1024, 768},
                                                              {1280, 1024},
                                                              {720, 480},
                                                              {720, 576},
                                                              {1280, 720},
                                                              {1920, 1080}}};
constexpr double kDefaultDuration = 10.0;
constexpr int kLosslessQuality = 5;
constexpr double kAntialiasWarningFactor = 4.0;

QString tr(const char* text) {
    return QCoreApplication::translate("AppController", text);
}

}  // namespace

void SettingsControls::setUpFormatters() {
    // Each field owns its formatter.
    struct FieldFormat {
        const char* key;
        QLineEdit* field;
        unsigned maxLength;
        double defaultValue, minValue, maxValue;
        bool hasSeparator;
    };
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const FieldFormat formats[] = {
        {AppController::kFrameRateKey, m_ui->framerate, 8, 30.0, 0.01, 10000.0, true},
        {AppController::kDurationKey, m_ui->movieDuration, 12, 10.0, 0.01, 1000000000.0, true},
        {AppController::kMovieWidthKey, m_ui->width, 4, 640.0, 16.0, 4096.0, false},
        {AppController::kMovieHeightKey, m_ui->height, 4, 480.0, 16.0, 4096.0, false},
        {AppController::kTimeOffsetKey, m_ui->startTime, 4, 0.0, 0.0, infinity, true},
        {AppController::kTimeScaleKey, m_ui->timeScale, 3, 1.0, -infinity, infinity, true},
    };
    for (const FieldFormat& format : formats) {
        auto* formatter =
            new OBNumberFormatter(format.maxLength, format.defaultValue, format.minValue,
                                  format.maxValue, format.hasSeparator, format.field);
        m_defaults->bindNumberField(format.key, format.field, formatter);
    }
    m_defaults->bindSelectedIndex(AppController::kSelectedPresetKey, m_ui->renderPreset);
}

void SettingsControls::resolutionChanged(QObject* sender) {
    if (sender == m_ui->renderPreset) {
        const int index = m_ui->renderPreset->currentIndex();
        if (index < 0 || index >= static_cast<int>(kPresetSizes.size())) return;
        m_defaults->setValue(AppController::kMovieWidthKey, kPresetSizes[index].first);
        m_defaults->setValue(AppController::kMovieHeightKey, kPresetSizes[index].second);
        return;
    }
    m_defaults->setValue(AppController::kSelectedPresetKey, m_ui->renderPreset->count() - 1);
}

void SettingsControls::showAntialiasLabel(bool released) {
    const double value = antialiasValue();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui->aaAmount->setText(locale.toString(value * value, 'f', 0) + QLatin1Char('x'));
    if (released && value > kAntialiasWarningFactor)
        warnSlowdown(tr("AA Slowdown"), AppController::kDisableAAWarningKey);
}

void SettingsControls::showMotionBlurLabel() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_ui->mbAmount->setText(locale.toString(OutputMenus::motionBlurSamples(motionBlurValue())));
}

void SettingsControls::qualityChanged() {
    if (m_ui->quality->currentIndex() != kLosslessQuality) return;
    warnSlowdown(tr("Quality Slowdown").arg(tr("Lossless")),
                 AppController::kDisableQualityWarningKey);
}

void SettingsControls::warnSlowdown(const QString& informativeText, const char* disableKey) {
    if (m_defaults->boolValue(disableKey)) return;
    QMessageBox alert(QMessageBox::Warning, tr("Slowdown Warning"), tr("Slowdown Warning"),
                      QMessageBox::Ok, m_ui->centralWidget->window());
    alert.setInformativeText(informativeText);
    alert.setWindowModality(Qt::ApplicationModal);
    alert.setCheckBox(new QCheckBox(tr("Do not show this message again"), &alert));
    alert.exec();
    if (alert.checkBox()->isChecked()) m_defaults->setValue(disableKey, true);
}

void SettingsControls::setControlsEnabled(bool enabled, bool compositionOpen) {
    // A field being edited commits its text before it is disabled.
    for (QLineEdit* field : {m_ui->movieDuration, m_ui->framerate, m_ui->width, m_ui->height}) {
        if (!enabled) m_defaults->commitEditing(field);
        field->setEnabled(enabled);
    }
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->previewEnabled), static_cast<QWidget*>(m_ui->quality),
          static_cast<QWidget*>(m_ui->codec), static_cast<QWidget*>(m_ui->moviePath),
          static_cast<QWidget*>(m_ui->antialias), static_cast<QWidget*>(m_ui->motionBlur),
          static_cast<QWidget*>(m_ui->browseButton), static_cast<QWidget*>(m_ui->toggleDrawer),
          static_cast<QWidget*>(m_ui->renderPreset), static_cast<QWidget*>(m_ui->startTime),
          static_cast<QWidget*>(m_ui->timeScale), static_cast<QWidget*>(m_ui->soundtrack),
          static_cast<QWidget*>(m_ui->soundtrackButton)})
        control->setEnabled(enabled);
    m_ui->startRecordingInput->setEnabled(enabled && compositionOpen);
}

QString SettingsControls::selectedOutputType() const {
    return m_ui->codec->currentData(Qt::ToolTipRole).toString();
}

double SettingsControls::antialiasValue() const {
    return m_ui->antialias->value() / AppController::kAntialiasSteps;
}

double SettingsControls::motionBlurValue() const {
    return m_ui->motionBlur->value() / AppController::kMotionBlurSteps;
}

double SettingsControls::fieldValue(QLineEdit* field, const char* key, double fallback) const {
    // As the field shows it once a pending edit is committed: the stored
    // number, or the formatter's default that shows when there is none.
    m_defaults->commitEditing(field);
    return m_defaults->doubleValue(key).value_or(fallback);
}

OutputRequest SettingsControls::outputRequest(const QString& path) const {
    m_defaults->commitEditing(m_ui->width);
    m_defaults->commitEditing(m_ui->height);
    OutputRequest request;
    request.outputType = selectedOutputType();
    request.quality = m_ui->quality->currentIndex();
    request.width = m_ui->width->text().toInt();
    request.height = m_ui->height->text().toInt();
    request.framerate = fieldValue(m_ui->framerate, AppController::kFrameRateKey, 30.0);
    request.duration =
        fieldValue(m_ui->movieDuration, AppController::kDurationKey, kDefaultDuration);
    request.path = path;
    return request;
}

std::shared_ptr<lumivane::RenderSettings> SettingsControls::renderSettings(
    const QString& path, const QString& compositionFile) const {
    auto settings = std::make_shared<lumivane::RenderSettings>();
    settings->setCodec(selectedOutputType().toStdString());
    settings->setAA(antialiasValue());
    settings->setMotionBlur(OutputMenus::motionBlurSamples(motionBlurValue()));
    settings->setMoviePath(QFile::encodeName(path).toStdString());
    if (!compositionFile.isEmpty())
        settings->setCompositionFile(QFile::encodeName(compositionFile).toStdString());
    settings->setRecordButton(lumivane::ObjectReference{"recordButton"});
    m_defaults->commitEditing(m_ui->width);
    m_defaults->commitEditing(m_ui->height);
    settings->setWidth(m_ui->width->text().toStdString());
    settings->setHeight(m_ui->height->text().toStdString());
    settings->setQuality(m_ui->quality->currentIndex());
    settings->setFramerate(fieldValue(m_ui->framerate, AppController::kFrameRateKey, 30.0));
    settings->setDuration(
        fieldValue(m_ui->movieDuration, AppController::kDurationKey, kDefaultDuration));
    settings->setStartTime(fieldValue(m_ui->startTime, AppController::kTimeOffsetKey, 0.0));
    settings->setTimeScale(fieldValue(m_ui->timeScale, AppController::kTimeScaleKey, 1.0));
    const QString soundtrack = OutputPath::expandingTilde(m_ui->soundtrack->text().trimmed());
    if (!soundtrack.isEmpty()) settings->setSoundtrack(QFile::encodeName(soundtrack).toStdString());
    return settings;
}
