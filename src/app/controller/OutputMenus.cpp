#include "app/controller/OutputMenus.h"

#include <QComboBox>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/view/PathText.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageSequence.h"

namespace OutputMenus {
namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("AppController", text);
}

}  // namespace

void buildCodecMenu(QComboBox* menu) {
    int mpeg4Entry = -1;
    for (const lumivane::CodecInfo& codec : lumivane::offeredCodecs()) {
        menu->addItem(QString::fromStdString(codec.name));
        menu->setItemData(menu->count() - 1, QString::fromStdString(codec.fourcc), Qt::ToolTipRole);
        if (codec.fourcc == "mp4v") mpeg4Entry = menu->count() - 1;
    }
    menu->insertSeparator(menu->count());
    const std::pair<QString, const char*> sequences[] = {
        {tr("JPEG Sequence"), "public.jpeg"},
        {tr("PNG Sequence"), "public.png"},
        {tr("TIFF Sequence"), "public.tiff"},
        {tr("OpenEXR Sequence"), "com.ilm.openexr-image"},
    };
    for (const auto& [title, type] : sequences) {
        menu->addItem(title);
        menu->setItemData(menu->count() - 1, QString::fromLatin1(type), Qt::ToolTipRole);
    }
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

QString pathForOutputType(const QString& path, const QString& outputType) {
    if (path.isEmpty()) return path;
    const QString extension = lumivane::pathExtensionOf(path);
    if (isSequenceType(outputType)) {
        if (extension == QLatin1String("mov")) return lumivane::deletingPathExtensionOf(path) + '/';
        return path;
    }
    if (extension == QLatin1String("mov")) return path;
    const QString base = lumivane::withoutTrailingSlashesOf(path);
    // The root directory has no name to give a movie.
    if (base == QLatin1String("/")) return path;
    return base + QStringLiteral(".mov");
}

QString defaultOutputPath(const QString& compositionPath, const QString& outputType) {
    if (compositionPath.isEmpty()) return QString();
    const QString base = lumivane::deletingPathExtensionOf(compositionPath);
    return isSequenceType(outputType) ? base + '/' : base + QStringLiteral(".mov");
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
