#include "app/controller/OutputMenus.h"

#include <QComboBox>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/view/PathText.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/MovieContainer.h"

namespace OutputMenus {
namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("AppController", text);
}

// The formats for the web, chat and game engines, each in its container.
struct ContainerEntry {
    const char* title;
    const char* fourcc;
    const char* muxer;
    const char* extension;
};
constexpr ContainerEntry kContainerEntries[] = {
    {QT_TRANSLATE_NOOP("AppController", "MP4 – H.264"), "avc1", "mp4", "mp4"},
    {QT_TRANSLATE_NOOP("AppController", "MP4 – HEVC"), "hvc1", "mp4", "mp4"},
    {QT_TRANSLATE_NOOP("AppController", "MP4 – AV1"), "av01", "mp4", "mp4"},
    {QT_TRANSLATE_NOOP("AppController", "WebM – VP9"), "vp09", "webm", "webm"},
    {QT_TRANSLATE_NOOP("AppController", "WebM – AV1"), "av01", "webm", "webm"},
    {QT_TRANSLATE_NOOP("AppController", "Matroska – FFV1 (lossless)"), "FFV1", "matroska", "mkv"},
    {QT_TRANSLATE_NOOP("AppController", "GIF Animation"), "gif ", "gif", "gif"},
    {QT_TRANSLATE_NOOP("AppController", "WebP Animation"), "webp", "webp", "webp"},
};

void addEntry(QComboBox* menu, const QString& title, const QString& type,
              const QString& extension) {
    menu->addItem(title);
    menu->setItemData(menu->count() - 1, type, Qt::ToolTipRole);
    menu->setItemData(menu->count() - 1, extension, Qt::UserRole);
}

// The file name extensions of the containers, without the dot.
bool isContainerExtension(const QString& extension) {
    for (const lumivane::MovieContainer& container : lumivane::movieContainers()) {
        for (const QString& listed : QString::fromLatin1(container.extensions).split(", "))
            if (listed.mid(1) == extension) return true;
    }
    return false;
}

}  // namespace

void buildCodecMenu(QComboBox* menu) {
    int mpeg4Entry = -1;
    for (const lumivane::CodecInfo& codec : lumivane::offeredCodecs()) {
        addEntry(menu, QString::fromStdString(codec.name), QString::fromStdString(codec.fourcc),
                 QStringLiteral("mov"));
        if (codec.fourcc == "mp4v") mpeg4Entry = menu->count() - 1;
    }
    menu->insertSeparator(menu->count());
    // Only what this FFmpeg writes, so a stored choice never names a gap.
    for (const ContainerEntry& entry : kContainerEntries) {
        const auto codec = lumivane::codecForFourCC(entry.fourcc);
        if (!codec || !codec->takes(entry.muxer)) continue;
        addEntry(menu, tr(entry.title), QString::fromLatin1(entry.fourcc),
                 QString::fromLatin1(entry.extension));
    }
    menu->insertSeparator(menu->count());
    const std::pair<QString, const char*> sequences[] = {
        {tr("JPEG Sequence"), "public.jpeg"},
        {tr("PNG Sequence"), "public.png"},
        {tr("TIFF Sequence"), "public.tiff"},
        {tr("OpenEXR Sequence"), "com.ilm.openexr-image"},
    };
    for (const auto& [title, type] : sequences)
        addEntry(menu, title, QString::fromLatin1(type), {});
    // Without a stored choice the menu starts on MPEG-4 part 2, which every
    // player reads, rather than on whichever code sorts first.
    menu->setCurrentIndex(std::max(mpeg4Entry, 0));
}

void buildQualityMenu(QComboBox* menu) {
    for (const QString& title :
         {tr("Minimum"), tr("Low"), tr("Normal"), tr("High"), tr("Max"), tr("Lossless")})
        menu->addItem(title);
    menu->setCurrentIndex(2);
}

bool isSequenceType(const QString& outputType) {
    return lumivane::isImageSequenceType(outputType.toStdString());
}

QString pathForOutputType(const QString& path, const QString& outputType,
                          const QString& movieExtension) {
    if (path.isEmpty()) return path;
    const QString extension = lumivane::pathExtensionOf(path);
    const bool ours = isContainerExtension(extension.toLower());
    if (isSequenceType(outputType)) {
        if (ours) return lumivane::deletingPathExtensionOf(path) + '/';
        return path;
    }
    if (extension == movieExtension) return path;
    // Another container's name is swapped; any other name keeps its end.
    if (ours && !path.endsWith('/'))
        return lumivane::deletingPathExtensionOf(path) + '.' + movieExtension;
    const QString base = lumivane::withoutTrailingSlashesOf(path);
    // The root directory has no name to give a movie.
    if (base == QLatin1String("/")) return path;
    return base + '.' + movieExtension;
}

QString movieExtension(const QComboBox* menu) {
    const QString extension = menu->currentData(Qt::UserRole).toString();
    return extension.isEmpty() ? QStringLiteral("mov") : extension;
}

int motionBlurSamples(double value) {
    double samples = 0.0;
    if (value < 1.0) {
        samples = std::max(1.0, 16.0 * value);
    } else {
        const double steps = std::floor(8.0 * value) / 8.0;
        samples = std::pow(2.0, steps + 3.0);
    }
    return static_cast<int>(samples);
}

}  // namespace OutputMenus
