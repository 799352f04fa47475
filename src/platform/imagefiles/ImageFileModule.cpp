// The only code that calls OpenImageIO; programs load it on their first image.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>

#include "platform/imagefiles/ImageFileFunctions.h"

namespace lumivane::imagefiles {
namespace {

OIIO::TypeDesc typeOf(SampleType type) {
    switch (type) {
        case SampleType::UInt16:
            return OIIO::TypeDesc::UINT16;
        case SampleType::Half:
            return OIIO::TypeDesc::HALF;
        case SampleType::Float:
            return OIIO::TypeDesc::FLOAT;
        case SampleType::UInt8:
            break;
    }
    return OIIO::TypeDesc::UINT8;
}

bool isFloatType(OIIO::TypeDesc type) {
    return type.basetype == OIIO::TypeDesc::FLOAT || type.basetype == OIIO::TypeDesc::HALF ||
           type.basetype == OIIO::TypeDesc::DOUBLE;
}

bool readImage(const std::string& path, const AcceptHeader& accept, DecodedImage& image,
               std::string& error) {
    // Shaders expect straight alpha, which is what PNG and TIFF store.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        error = OIIO::geterror();
        return false;
    }
    // Its first frame would stand for the whole movie without a word.
    if (std::string(input->format_name()).rfind("FFmpeg", 0) == 0) {
        error = "is a movie, not a still picture";
        return false;
    }
    const OIIO::ImageSpec& spec = input->spec();
    ImageHeader& header = image.header;
    header.width = spec.width;
    header.height = spec.height;
    header.channels = std::min(spec.nchannels, 4);
    header.isFloat = isFloatType(spec.format);
    if (!accept(header, error)) return false;
    const size_t count = size_t(header.width) * header.height * header.channels;
    bool ok = false;
    if (header.isFloat) {
        image.floats.resize(count);
        ok =
            input->read_image(0, 0, 0, header.channels, OIIO::TypeDesc::FLOAT, image.floats.data());
    } else {
        image.bytes.resize(count);
        ok = input->read_image(0, 0, 0, header.channels, OIIO::TypeDesc::UINT8, image.bytes.data());
    }
    if (!ok) error = input->geterror();
    return ok;
}

OIIO::ImageSpec specFor(const ImageToWrite& image) {
    OIIO::ImageSpec spec(image.width, image.height, image.channels, typeOf(image.stored));
    spec.attribute("oiio:ColorSpace", image.linear ? "Linear" : "sRGB");
    // Without this PNG and TIFF output would divide straight alpha out.
    if (image.straightAlpha) spec.attribute("oiio:UnassociatedAlpha", 1);
    if (!image.compression.empty()) spec.attribute("Compression", image.compression);
    if (image.tiffPredictor > 0) spec.attribute("tiff:Predictor", image.tiffPredictor);
    return spec;
}

// Some writers (JPEG-2000) report a failed encode only through geterror().
bool writeImage(const std::string& path, const ImageToWrite& image, std::string& error) {
    auto output = OIIO::ImageOutput::create(path);
    if (!output) {
        error = OIIO::geterror();
        return false;
    }
    if (!output->open(path, specFor(image))) {
        error = output->geterror();
        return false;
    }
    const bool written = output->write_image(typeOf(image.given), image.samples);
    const bool closed = output->close();
    if (!written || !closed || output->has_error()) {
        error = output->geterror();
        return false;
    }
    return true;
}

bool drawText(const std::string& utf8, int fontSize, const std::string& fontFile, int margin,
              int maxSide, TextCoverage& coverage, std::string& error) {
    const OIIO::ROI extent = OIIO::ImageBufAlgo::text_size(utf8, fontSize, fontFile);
    if (!extent.defined()) {
        error = "no usable font (DejaVu Sans)";
        return false;
    }
    const int width = std::min(extent.width() + 2 * margin, maxSide);
    const int height = std::min(extent.height() + 2 * margin, maxSide);
    OIIO::ImageBuf canvas(OIIO::ImageSpec(width, height, 1, OIIO::TypeDesc::UINT8));
    OIIO::ImageBufAlgo::zero(canvas);
    const float white = 1.0f;
    if (!OIIO::ImageBufAlgo::render_text(canvas, margin - extent.xbegin, margin - extent.ybegin,
                                         utf8, fontSize, fontFile, {&white, 1})) {
        error = canvas.geterror();
        return false;
    }
    coverage.width = width;
    coverage.height = height;
    coverage.alpha.resize(size_t(width) * height);
    canvas.get_pixels(OIIO::ROI(0, width, 0, height, 0, 1, 0, 1), OIIO::TypeDesc::UINT8,
                      coverage.alpha.data());
    return true;
}

constexpr Functions kFunctions{kAbiVersion, readImage, writeImage, drawText};

}  // namespace
}  // namespace lumivane::imagefiles

extern "C" __attribute__((visibility("default"))) const lumivane::imagefiles::Functions*
lumivane_imagefiles() {
    return &lumivane::imagefiles::kFunctions;
}
