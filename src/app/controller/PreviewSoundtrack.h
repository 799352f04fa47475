// The soundtrack the previews hear: the main window's at its clock, the
// Record Input view's at its playhead. Each view reads the file on its own,
// since the two listen at different times and a shared reader would seek
// back and forth between them.
#pragma once

#include <QString>

#include <optional>
#include <vector>

class CompositionDropView;

class PreviewSoundtrack {
public:
    // The views that hear it; they must outlive this object.
    void addView(CompositionDropView* view);
    // An empty path silences the views. A file that cannot be read leaves
    // them silent too, and the reason ("<file>": why) comes back.
    std::optional<QString> setPath(const QString& path);
    const QString& path() const { return m_path; }

private:
    std::optional<QString> feed(CompositionDropView* view) const;

    QString m_path;
    std::vector<CompositionDropView*> m_views;
};
