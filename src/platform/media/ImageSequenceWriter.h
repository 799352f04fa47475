// Writes each frame as its own image file in a directory, named
// "<directory>/Image-<number>.<extension>" with the number from 1, zero-padded
// to the digit count of the frame count. A file appears under its name only
// once complete.
#pragma once

#include <memory>
#include <string>

#include "base/Image.h"
#include "base/Result.h"

namespace lumivane {

class ImageSequenceWriter {
public:
    // Creates the directory with its parents (an existing one is reused), and
    // removes partial frame files there whose writer is gone (killed renders).
    static Result<std::unique_ptr<ImageSequenceWriter>> open(const std::string& directory,
                                                             const std::string& type,
                                                             int frameCount, int quality);

    // index from 0; the file carries index + 1.
    std::string pathForFrame(int index) const;
    // Error "\"<file>\": what failed" when the file cannot be written.
    Result<void> writeFrame(int index, const FrameImage& frame);

private:
    ImageSequenceWriter(std::string directory, std::string type, int digits, int quality);

    std::string m_directory;
    std::string m_type;
    std::string m_extension;
    int m_digits;
    int m_quality;
};

}  // namespace lumivane
