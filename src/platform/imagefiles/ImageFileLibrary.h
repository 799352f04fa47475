// Image files (read, written, text drawn) through a module that the programs
// load the first time they need one, so a render that touches no image never
// maps OpenImageIO and the tens of MiB of libraries it pulls in.
#pragma once

#include <string>

#include "base/Result.h"
#include "platform/imagefiles/ImageFileFunctions.h"

namespace lumivane {

class ImageFileLibrary {
public:
    // Failures of the module itself read "image files cannot be read or
    // written: <why>"; the others are the library's own text. Callers name
    // the file.
    static Result<imagefiles::DecodedImage> read(const std::string& path,
                                                 const imagefiles::AcceptHeader& accept);
    static Result<void> write(const std::string& path, const imagefiles::ImageToWrite& image);
    static Result<imagefiles::TextCoverage> drawText(const std::string& utf8, int fontSize,
                                                     const std::string& fontFile, int margin,
                                                     int maxSide);

    // lib/lumivane beside the bin/ (or tests/) directory of the executable,
    // in the build tree as in an install.
    static std::string modulePath();

private:
    // Loaded once per process, on any thread, and kept to its end.
    static const Result<const imagefiles::Functions*>& functions();
};

}  // namespace lumivane
