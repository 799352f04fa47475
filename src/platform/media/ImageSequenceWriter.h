// Writes each frame as its own image file in a directory, named
// "<directory>/Image-<number>.<extension>" with the number from 1, zero-padded
// to the digit count of the frame count. A file appears under its name only
// once complete.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Image.h"
#include "base/Result.h"

namespace lumivane {

// Frames `first`..`last` of a sequence, counted from 1, both included.
struct SequenceFrames {
    int first;
    int last;
};

// How frames are written: `quality` 0-5 as the command line gives it
// (ImageFormatSettings says what each level chooses); `opaque` writes RGB
// over black instead of RGBA in the formats that keep alpha.
struct SequenceStyle {
    SequenceStyle(int quality = 3, bool opaque = false) : quality(quality), opaque(opaque) {}
    int quality;
    bool opaque;
};

class ImageSequenceWriter {
public:
    // Creates the directory with its parents (an existing one is reused), and
    // removes partial frame files there whose writer is gone (killed renders).
    // A writer of some `frames` of the sequence only (other writers, maybe on
    // other machines, write the rest into the same directory) removes the
    // partial files of those frames, whichever process left them, and no other,
    // and writes its SequenceManifest with `origin` beside them.
    static Result<std::unique_ptr<ImageSequenceWriter>> open(
        const std::string& directory, const std::string& type, int frameCount, SequenceStyle style,
        std::optional<SequenceFrames> frames = std::nullopt, const std::string& origin = {});

    // index from 0; the file carries index + 1.
    std::string pathForFrame(int index) const;
    // Error "\"<file>\": what failed" when the file cannot be written.
    Result<void> writeFrame(int index, const FrameImage& frame);

private:
    ImageSequenceWriter(std::string directory, std::string type, int digits, SequenceStyle style);

    std::string m_directory;
    std::string m_type;
    std::string m_extension;
    int m_digits;
    int m_level;
    bool m_opaque;
};

}  // namespace lumivane
