// The output path field's rules: a leading "~" expanded, the path adjusted
// to the output type (a sequence is a directory, a movie a file with its
// container's extension), a proposed path, and the save panel that chooses one.
#pragma once

#include <QString>

#include <functional>

class QLineEdit;
class QWidget;

class OutputPath {
public:
    explicit OutputPath(QLineEdit* field) : m_field(field) {}

    // A leading "~" or "~user" becomes that home directory; anything else,
    // and an unknown user, stays as it is.
    static QString expandingTilde(const QString& path);
    // The field's path with its tilde expanded.
    QString expanded() const;

    // The field's path made right for the output type; an empty one stays.
    void adjustToType(const QString& outputType, const QString& movieExtension);
    // A path proposed for a composition's output; empty clears the field.
    void propose(const QString& path, const QString& outputType);
    // A path chosen in the save panel (a movie must end in its extension).
    void takeChosen(const QString& chosen, const QString& outputType,
                    const QString& movieExtension);
    // The save panel as a sheet on `window`, starting at the field's path;
    // `done` gets whether a path was chosen and which.
    void openSavePanel(QWidget* window, const QString& outputType, const QString& movieExtension,
                       std::function<void(bool, const QString&)> done) const;

private:
    QLineEdit* m_field;
};
