#include "platform/media/ImageSequenceWriter.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <type_traits>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"
#include "platform/imagefiles/ImageFileLibrary.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/Jpeg2000Encoder.h"
#include "platform/media/SequenceManifest.h"

namespace lumivane {
namespace {

// JPEG quality per level 0-5 (minimum .. lossless-ish).
constexpr std::array<int, 6> kJpegQuality = {30, 50, 70, 85, 95, 100};

float srgbToLinear(float value) {
    const float magnitude = std::fabs(value);
    const float linear =
        magnitude <= 0.04045f ? magnitude / 12.92f : std::pow((magnitude + 0.055f) / 1.055f, 2.4f);
    return std::copysign(linear, value);
}

const std::array<float, 256>& srgbTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> values{};
        for (int i = 0; i < 256; ++i) values[i] = srgbToLinear(i / 255.0f);
        return values;
    }();
    return table;
}

// Pixels in the layout a format wants, with the type they are handed over in.
struct Pixels {
    std::vector<float> floats;
    std::vector<uint8_t> bytes;
    int channels = 4;
    imagefiles::SampleType type = imagefiles::SampleType::UInt8;
    const void* data() const {
        return type == imagefiles::SampleType::Float ? static_cast<const void*>(floats.data())
                                                     : static_cast<const void*>(bytes.data());
    }
};

// RGB over black, for formats without transparency.
template <class T>
std::vector<T> flatten(const std::vector<T>& rgba, float alphaUnit) {
    std::vector<T> rgb(rgba.size() / 4 * 3);
    for (size_t i = 0, o = 0; i < rgba.size(); i += 4, o += 3) {
        const float a = std::clamp(static_cast<float>(rgba[i + 3]) / alphaUnit, 0.0f, 1.0f);
        for (int c = 0; c < 3; ++c) {
            const float v = static_cast<float>(rgba[i + c]) * a;
            rgb[o + c] = std::is_integral_v<T> ? static_cast<T>(v + 0.5f) : static_cast<T>(v);
        }
    }
    return rgb;
}

// OpenEXR holds linear light with associated alpha.
std::vector<float> linearAssociated(const FrameImage& frame) {
    std::vector<float> out;
    if (const auto* rgba8 = std::get_if<ImageRGBA8>(&frame)) {
        out.resize(rgba8->pixels.size());
        const auto& table = srgbTable();
        for (size_t i = 0; i < out.size(); i += 4) {
            const float a = rgba8->pixels[i + 3] / 255.0f;
            for (int c = 0; c < 3; ++c) out[i + c] = table[rgba8->pixels[i + c]] * a;
            out[i + 3] = a;
        }
        return out;
    }
    const auto& rgbaf = std::get<ImageRGBAF>(frame);
    out.resize(rgbaf.pixels.size());
    for (size_t i = 0; i < out.size(); i += 4) {
        const float a = rgbaf.pixels[i + 3];
        for (int c = 0; c < 3; ++c) out[i + c] = srgbToLinear(rgbaf.pixels[i + c]) * a;
        out[i + 3] = a;
    }
    return out;
}

Pixels pixelsFor(const std::string& extension, const FrameImage& frame) {
    Pixels pixels;
    const bool opaqueFormat = extension == "jpg" || extension == "jp2";
    if (extension == "exr") {
        pixels.floats = linearAssociated(frame);
        pixels.type = imagefiles::SampleType::Float;
    } else if (const auto* rgba8 = std::get_if<ImageRGBA8>(&frame)) {
        pixels.bytes = opaqueFormat ? flatten(rgba8->pixels, 255.0f) : rgba8->pixels;
    } else {
        const auto& rgbaf = std::get<ImageRGBAF>(frame);
        pixels.floats = opaqueFormat ? flatten(rgbaf.pixels, 1.0f) : rgbaf.pixels;
        pixels.type = imagefiles::SampleType::Float;
    }
    pixels.channels = opaqueFormat ? 3 : 4;
    return pixels;
}

// What the file stores: half floats for OpenEXR, 16 bits for float frames in
// PNG and TIFF, 8 bits otherwise.
imagefiles::ImageToWrite specFor(const std::string& extension, const FrameImage& frame, int width,
                                 int height, const Pixels& pixels, int level) {
    const bool floatFrame = std::holds_alternative<ImageRGBAF>(frame);
    imagefiles::ImageToWrite spec;
    spec.width = width;
    spec.height = height;
    spec.channels = pixels.channels;
    spec.given = pixels.type;
    spec.samples = pixels.data();
    if (extension == "exr") {
        spec.stored = imagefiles::SampleType::Half;
    } else if (floatFrame && (extension == "png" || extension == "tiff")) {
        spec.stored = imagefiles::SampleType::UInt16;
    }
    spec.linear = extension == "exr";
    // Our alpha is straight; OpenEXR's is associated.
    spec.straightAlpha = extension != "exr" && pixels.channels == 4;
    if (extension == "jpg") spec.jpegQuality = kJpegQuality[level];
    return spec;
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

// OpenImageIO's JPEG-2000 writer needs this much a side; smaller frames are
// written with fewer resolution levels.
constexpr int kJpeg2000WriterMinimumSide = 32;

std::vector<uint8_t> rgbBytes(const Pixels& pixels) {
    if (pixels.type != imagefiles::SampleType::Float) return pixels.bytes;
    std::vector<uint8_t> bytes(pixels.floats.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(std::clamp(pixels.floats[i], 0.0f, 1.0f) * 255.0f + 0.5f);
    }
    return bytes;
}

Result<void> writeSmallJpeg2000(const std::string& path, const std::string& shownPath,
                                const Pixels& pixels, int width, int height) {
    auto encoded = encodeJpeg2000(rgbBytes(pixels), width, height);
    if (!encoded) return errorAt(shownPath, encoded.error());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(encoded->data()),
               static_cast<std::streamsize>(encoded->size()));
    file.close();
    if (!file) return errorAt(shownPath, systemErrorText("cannot write the file"));
    return {};
}

}  // namespace

ImageSequenceWriter::ImageSequenceWriter(std::string directory, std::string type, int digits,
                                         int quality)
    : m_directory(std::move(directory)),
      m_type(std::move(type)),
      m_extension(imageSequenceExtension(m_type)),
      m_digits(digits),
      m_quality(quality) {}

Result<std::unique_ptr<ImageSequenceWriter>> ImageSequenceWriter::open(
    const std::string& directory, const std::string& type, int frameCount, int quality,
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
        new ImageSequenceWriter(directory, type, digits, quality));
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
    const Pixels pixels = pixelsFor(m_extension, frame);
    const imagefiles::ImageToWrite spec =
        specFor(m_extension, frame, width, height, pixels, qualityLevel(m_quality));
    TemporaryFile partial(partialPath(path));
    const bool small = std::min(width, height) < kJpeg2000WriterMinimumSide;
    auto written = m_extension == "jp2" && small
                       ? writeSmallJpeg2000(partial.path(), path, pixels, width, height)
                       : writeImage(partial.path(), path, spec);
    if (!written) return written;
    if (!partial.renameTo(path)) {
        return errorAt(path, "cannot move the finished image into place");
    }
    return {};
}

}  // namespace lumivane
