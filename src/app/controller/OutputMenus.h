// The main window's output choices as rules: the codec and quality menus
// built from the codec registry, the output path for an output type, and the
// motion-blur slider's sample count.
#pragma once

#include <QString>

class QComboBox;

namespace OutputMenus {

// QuickTime's codecs in the registry's order, a separator, the formats of the
// other containers (MP4, WebM, Matroska, GIF, WebP) this FFmpeg writes, a
// separator, then the sequence types. Each entry carries its output type as
// its tool tip and its movie's file name extension as its user data.
void buildCodecMenu(QComboBox* menu);
// The extension, without the dot, of the movie the menu's entry writes;
// "mov" for a sequence type.
QString movieExtension(const QComboBox* menu);
void buildQualityMenu(QComboBox* menu);
bool isSequenceType(const QString& outputType);
// The output path adjusted to an output type: a sequence gets a directory,
// a movie a file ending in `movieExtension` (another container's extension is
// swapped for it). Empty stays empty.
QString pathForOutputType(const QString& path, const QString& outputType,
                          const QString& movieExtension = QStringLiteral("mov"));
// Motion-blur samples per frame for a slider value.
int motionBlurSamples(double value);

}  // namespace OutputMenus
