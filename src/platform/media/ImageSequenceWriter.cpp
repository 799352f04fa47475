#include "platform/media/ImageSequenceWriter.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"
#include "platform/imagefiles/ImageFileLibrary.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageFormatSettings.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/Jpeg2000Encoder.h"
#include "platform/media/PngFilter.h"
#include "platform/media/SequenceManifest.h"
#include "platform/media/SequencePixels.h"
#include "platform/media/StillImageEncoder.h"

namespace lumivane {
namespace {

// What the file stores: half floats for OpenEXR, 16 bits for float frames in
// TIFF, 8 bits otherwise; compressed as the level says.
imagefiles::ImageToWrite specFor(const std::string& extension, const SequencePixels& pixels,
                                 int level) {
    imagefiles::ImageToWrite spec;
    spec.width = pixels.width;
    spec.height = pixels.height;
    spec.channels = pixels.channels;
    spec.given = pixels.isFloat ? imagefiles::SampleType::Float : imagefiles::SampleType::UInt8;
    spec.samples = pixels.samples;
    if (extension == "exr") {
        spec.stored = imagefiles::SampleType::Half;
    } else if (pixels.isFloat) {
        spec.stored = imagefiles::SampleType::UInt16;
    }
    spec.linear = extension == "exr";
    // Our alpha is straight; OpenEXR's is associated.
    spec.straightAlpha = extension != "exr" && pixels.channels == 4;
    if (extension == "jpg") {
        spec.compression = "jpeg:" + std::to_string(jpegQuality(level));
    } else {
        const LibraryCompression library =
            extension == "tiff" ? tiffCompression(level) : exrCompression(level);
        spec.compression = library.compression;
        spec.tiffPredictor = library.tiffPredictor;
    }
    return spec;
}

Result<std::vector<uint8_t>> encodePng(const SequencePixels& pixels, int level) {
    std::vector<uint8_t> wide;
    StillImage image{pixels.width, pixels.height, AV_PIX_FMT_NONE,
                     static_cast<const uint8_t*>(pixels.samples), 0};
    if (pixels.isFloat) {
        wide = bigEndian16(pixels.floats);
        image.samples = wide.data();
        image.format = pixels.channels == 4 ? AV_PIX_FMT_RGBA64BE : AV_PIX_FMT_RGB48BE;
    } else {
        image.format = pixels.channels == 4 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    }
    const int bytesPerPixel = pixels.channels * (pixels.isFloat ? 2 : 1);
    image.lineBytes = pixels.width * bytesPerPixel;
    StillEncoder encoder;
    encoder.name = "png";
    encoder.compressionLevel = pngZlibLevel(level);
    encoder.options = {
        {"pred", choosePngFilter(image.samples, pixels.width, pixels.height, bytesPerPixel)}};
    return encodeStill(image, encoder);
}

bool frameSize(const FrameImage& frame, int& width, int& height) {
    size_t samples = 0;
    std::visit(
        [&](const auto& image) {
            width = image.width;
            height = image.height;
            samples = image.pixels.size();
        },
        frame);
    return width > 0 && height > 0 &&
           samples == static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

// Beside the final file, hidden, with the real extension last so the writer
// picks the right format.
std::string partialPath(const std::string& path) {
    const std::filesystem::path final(path);
    const std::string name = "." + final.stem().string() + ".partial-" +
                             std::to_string(::getpid()) + final.extension().string();
    return (final.parent_path() / name).string();
}

struct PartialName {
    std::string number;  // the frame number as the name spells it
    pid_t writer = 0;
};

// What ".Image-<digits>.partial-<pid>.<extension>", a name partialPath()
// makes, says; nothing for any other name, or an id no process can have.
std::optional<PartialName> parsePartialName(const std::string& name) {
    auto parsed = parseSequenceFileName(name);
    if (!parsed || !parsed->partial || parsed->writer[0] == '0' || parsed->writer.size() > 9) {
        return std::nullopt;
    }
    return PartialName{parsed->number, static_cast<pid_t>(std::stol(parsed->writer))};
}

// A partial file is left over once its writer is gone; ours are left from
// an earlier sequence, since frames are written only after opening.
bool isLeftOver(pid_t writer) {
    return writer > 0 && (writer == ::getpid() || (::kill(writer, 0) != 0 && errno == ESRCH));
}

// A writer of some frames only shares the directory with the writers of the
// others, maybe on other machines where their process ids mean nothing: the
// partial files of its own frames are left over whoever wrote them, since
// it writes them only after opening, and no other file is its to remove.
bool isLeftOver(const PartialName& partial, int digits,
                const std::optional<SequenceFrames>& frames) {
    if (!frames) return isLeftOver(partial.writer);
    if (partial.number.size() != static_cast<size_t>(digits)) return false;
    const long long number = std::stoll(partial.number);
    return number >= frames->first && number <= frames->last;
}

void removeLeftOverPartials(const std::string& directory, int digits,
                            const std::optional<SequenceFrames>& frames) {
    std::error_code error;
    for (std::filesystem::directory_iterator entries(directory, error), end;
         !error && entries != end; entries.increment(error)) {
        auto partial = parsePartialName(entries->path().filename().string());
        if (!partial || !isLeftOver(*partial, digits, frames)) continue;
        std::error_code ignored;
        if (!entries->is_regular_file(ignored) || entries->is_symlink(ignored)) continue;
        // A leftover we cannot remove harms nothing; the frames are written anyway.
        std::filesystem::remove(entries->path(), ignored);
    }
}

// Writes to `path`; errors name `shownPath`, the file the caller asked for.
Result<void> writeImage(const std::string& path, const std::string& shownPath,
                        const imagefiles::ImageToWrite& spec) {
    auto written = ImageFileLibrary::write(path, spec);
    if (!written) return errorAt(shownPath, written.error());
    return {};
}

Result<void> writeBytes(const std::string& path, const std::string& shownPath,
                        const Result<std::vector<uint8_t>>& encoded) {
    if (!encoded) return errorAt(shownPath, encoded.error());
    const std::vector<uint8_t>& bytes = encoded.value();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) return errorAt(shownPath, systemErrorText("cannot write the file"));
    return {};
}

}  // namespace

ImageSequenceWriter::ImageSequenceWriter(std::string directory, std::string type, int digits,
                                         SequenceStyle style)
    : m_directory(std::move(directory)),
      m_type(std::move(type)),
      m_extension(imageSequenceExtension(m_type)),
      m_digits(digits),
      m_level(qualityLevel(style.quality)),
      m_opaque(style.opaque) {}

Result<std::unique_ptr<ImageSequenceWriter>> ImageSequenceWriter::open(
    const std::string& directory, const std::string& type, int frameCount, SequenceStyle style,
    std::optional<SequenceFrames> frames, const std::string& origin) {
    if (!isImageSequenceType(type)) return Error{"'" + type + "' is not an image sequence type"};
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory)) {
        const std::string why = error ? error.message() : "not a directory";
        return errorAt(directory, "cannot create the directory (" + why + ")");
    }
    const int digits = sequenceDigitCount(frameCount);
    removeLeftOverPartials(directory, digits, frames);
    if (frames) {
        const MovieChunk chunk{frames->first, frames->last, frameCount, origin};
        if (auto written = SequenceManifest::write(directory, chunk); !written) {
            return Error{written.error()};
        }
    }
    return std::unique_ptr<ImageSequenceWriter>(
        new ImageSequenceWriter(directory, type, digits, style));
}

std::string ImageSequenceWriter::pathForFrame(int index) const {
    const int length = std::snprintf(nullptr, 0, "%s/Image-%0*i.%s", m_directory.c_str(), m_digits,
                                     index + 1, m_extension.c_str());
    std::string path(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(path.data(), path.size(), "%s/Image-%0*i.%s", m_directory.c_str(), m_digits,
                  index + 1, m_extension.c_str());
    path.resize(static_cast<size_t>(length));
    return path;
}

Result<void> ImageSequenceWriter::writeFrame(int index, const FrameImage& frame) {
    const std::string path = pathForFrame(index);
    int width = 0;
    int height = 0;
    if (!frameSize(frame, width, height)) {
        return errorAt(path, "frame has no pixels or a wrong pixel count");
    }
    const SequencePixels pixels = sequencePixels(m_extension, frame, m_opaque);
    TemporaryFile partial(partialPath(path));
    Result<void> written;
    if (m_extension == "png") {
        written = writeBytes(partial.path(), path, encodePng(pixels, m_level));
    } else if (m_extension == "jp2") {
        written =
            writeBytes(partial.path(), path,
                       encodeJpeg2000(eightBit(pixels), width, height, jpeg2000Encoding(m_level)));
    } else {
        written = writeImage(partial.path(), path, specFor(m_extension, pixels, m_level));
    }
    if (!written) return written;
    if (!partial.renameTo(path)) {
        return errorAt(path, "cannot move the finished image into place");
    }
    return {};
}

}  // namespace lumivane
