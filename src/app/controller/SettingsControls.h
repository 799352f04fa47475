// The main window's render settings as one form: the numeric fields bound to
// the user defaults through their formatters, the size presets, the output
// type, the sliders with their labels and slowdown warnings, the controls a
// render job disables, and the settings record a job is given.
#pragma once

#include <QString>

#include <memory>

#include "app/controller/OutputPreflight.h"

class QLineEdit;
class QObject;
class QWidget;
class UserDefaults;
namespace lumivane {
class RenderSettings;
}
namespace Ui {
class MainWindow;
}

class SettingsControls {
public:
    SettingsControls(Ui::MainWindow* ui, UserDefaults* defaults) : m_ui(ui), m_defaults(defaults) {}

    // Formatters on the numeric fields, bound to their keys.
    void setUpFormatters();
    // A preset chosen (the sender is the menu) or a size typed.
    void resolutionChanged(QObject* sender);
    // The labels beside the sliders; the warnings where due (the anti-aliasing
    // one only when `released`, as the user lets go of the knob).
    void showAntialiasLabel(bool released);
    void showMotionBlurLabel();
    void qualityChanged();
    // Every control a running job leaves alone; the Record Input button only
    // when a composition is open.
    void setControlsEnabled(bool enabled, bool compositionOpen);

    QString selectedOutputType() const;
    double antialiasValue() const;
    double motionBlurValue() const;
    // The output a job would be asked for, to check before it starts.
    OutputRequest outputRequest(const QString& path) const;
    // The record of a job from the controls: all but the link, the input
    // values and the recording.
    std::shared_ptr<lumivane::RenderSettings> renderSettings(const QString& path,
                                                             const QString& compositionFile) const;

private:
    double fieldValue(QLineEdit* field, const char* key, double fallback) const;
    void warnSlowdown(const QString& informativeText, const char* disableKey);

    Ui::MainWindow* m_ui;
    UserDefaults* m_defaults;
};
