#include "app/controller/PreviewSoundtrack.h"

#include <QFile>

#include "app/view/CompositionDropView.h"
#include "shared/SoundtrackSamples.h"

void PreviewSoundtrack::addView(CompositionDropView* view) {
    m_views.push_back(view);
    (void)feed(view);  // a file that cannot be read was reported when it was set
}

std::optional<QString> PreviewSoundtrack::setPath(const QString& path) {
    m_path = path;
    std::optional<QString> problem;
    for (CompositionDropView* view : m_views) {
        auto failed = feed(view);
        if (failed && !problem) problem = failed;
    }
    return problem;
}

std::optional<QString> PreviewSoundtrack::feed(CompositionDropView* view) const {
    if (m_path.isEmpty()) {
        view->setAudioSource(nullptr);
        return std::nullopt;
    }
    auto samples = lumivane::SoundtrackSamples::open(QFile::encodeName(m_path).toStdString());
    if (!samples) {
        view->setAudioSource(nullptr);
        return QString::fromStdString(samples.error());
    }
    view->setAudioSource(samples.value());
    return std::nullopt;
}
