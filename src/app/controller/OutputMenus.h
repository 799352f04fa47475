// The main window's output choices as rules: the codec and quality menus
// built from the codec registry, the output path for an output type, and the
// motion-blur slider's sample count.
#pragma once

#include <QString>

class QComboBox;

namespace OutputMenus {

// Movie codecs in the registry's order, a separator, then the sequence
// types; each entry carries its output type as its tool tip.
void buildCodecMenu(QComboBox* menu);
void buildQualityMenu(QComboBox* menu);
bool isSequenceType(const QString& outputType);
// The output path adjusted to an output type: a sequence gets a directory,
// a movie a ".mov" file. Empty stays empty.
QString pathForOutputType(const QString& path, const QString& outputType);
// The path proposed for a composition's output.
QString defaultOutputPath(const QString& compositionPath, const QString& outputType);
// Motion-blur samples per frame for a slider value.
int motionBlurSamples(double value);

}  // namespace OutputMenus
