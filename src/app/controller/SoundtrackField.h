// The Soundtrack field beside the output settings: the file whose sound the
// movie carries. A file dialog, a file dropped on the field, or typing sets
// it; the field's clear button removes it. It is kept in the user defaults.
#pragma once

#include <QObject>
#include <QString>

class QAbstractButton;
class QLineEdit;
class UserDefaults;

class SoundtrackField : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kSoundtrackKey = "soundtrack";

    SoundtrackField(QLineEdit* field, QAbstractButton* chooseButton, UserDefaults* defaults,
                    QObject* parent = nullptr);

    // The file, with a leading "~" expanded; empty for none.
    QString path() const;

signals:
    // The file changed (empty: none); the preview's audio inputs follow it.
    void changed(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose();
    void take(const QString& path);

    QLineEdit* m_field;
    QAbstractButton* m_chooseButton;
    UserDefaults* m_defaults;
};
