#include "app/controller/OutputPreflight.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

#include "app/view/PathText.h"
#include "platform/media/AnimationWriter.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/EncoderSettings.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/MovieContainer.h"

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("OutputPreflight", text);
}

// The renderer's count: whole frames of duration x rate.
std::optional<OutputRefusal> frameCountRefusal(const OutputRequest& request) {
    const double frames = std::trunc(request.framerate * request.duration);
    if (frames >= 1) return std::nullopt;
    QLocale locale;
    return OutputRefusal{
        tr("Nothing to render: %1 s at %2 frames per second is no whole frame")
            .arg(locale.toString(request.duration), locale.toString(request.framerate)),
        QString()};
}

std::optional<OutputRefusal> codecRefusal(const OutputRequest& request) {
    const std::string fourcc = request.outputType.toStdString();
    const std::optional<lumivane::CodecInfo> codec = lumivane::codecForFourCC(fourcc);
    if (!codec)
        return OutputRefusal{tr("The codec %1 is not available").arg(request.outputType),
                             QString()};
    const std::string path = QFile::encodeName(request.path).toStdString();
    std::optional<std::string> refused =
        lumivane::AnimationWriter::rateRefusal(path, request.framerate);
    if (!refused) refused = lumivane::containerRefusal(path, fourcc);
    if (refused)
        return OutputRefusal{tr("The format does not suit \u201c%1\u201d")
                                 .arg(lumivane::lastPathComponentOf(request.path)),
                             QString::fromStdString(*refused)};
    const auto settings =
        lumivane::encoderSettings(*codec, request.quality, request.width, request.height);
    if (settings) return std::nullopt;
    return OutputRefusal{tr("%1 cannot make %2x%3 frames")
                             .arg(QString::fromStdString(codec->name))
                             .arg(request.width)
                             .arg(request.height),
                         QString::fromStdString(settings.error())};
}

// A movie goes into an existing folder; a sequence's folder is made with its
// parents, so the nearest existing one must take it.
std::optional<OutputRefusal> placeRefusal(const OutputRequest& request, bool sequence) {
    const QString output = lumivane::withoutTrailingSlashesOf(request.path);
    QFileInfo folder(QFileInfo(output).absolutePath());
    if (sequence) {
        if (QFileInfo(output).isDir()) folder = QFileInfo(output);
        while (!folder.exists() && !folder.isRoot() && folder.absoluteFilePath() != "/")
            folder = QFileInfo(folder.absolutePath());
    } else if (!folder.exists()) {
        return OutputRefusal{tr("The folder \u201c%1\u201d does not exist")
                                 .arg(lumivane::lastPathComponentOf(folder.absoluteFilePath())),
                             folder.absoluteFilePath()};
    }
    if (!folder.isDir() || !folder.isWritable())
        return OutputRefusal{tr("The folder \u201c%1\u201d cannot be written to")
                                 .arg(lumivane::lastPathComponentOf(folder.absoluteFilePath())),
                             folder.absoluteFilePath()};
    return std::nullopt;
}

}  // namespace

std::optional<OutputRefusal> outputRefusal(const OutputRequest& request) {
    if (auto refusal = frameCountRefusal(request)) return refusal;
    const bool sequence = lumivane::isImageSequenceType(request.outputType.toStdString());
    if (!sequence) {
        if (auto refusal = codecRefusal(request)) return refusal;
    }
    return placeRefusal(request, sequence);
}
