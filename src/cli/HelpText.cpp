#include "cli/HelpText.h"

#include <array>
#include <string_view>

#include "base/Version.h"
#include "platform/media/CodecRegistry.h"
#include "platform/media/MovieContainer.h"

namespace lumivane {
namespace {

constexpr const char* kArchitectureName = "X86";
constexpr const char* kVendorNotice =
    "Copyright (c) 2026 the Lumivane developers. Frame-exact renders of compositions.";

constexpr const char* kOptionList =
    "Where Options are as follows:\n"
    "   * --version\t\tprints the current version/build number\n"
    "   * --help\t\tprints this message\n"
    "   * -o [file]\t\toutput file name\n"
    "   * -w [width]\t\toutput width, in pixels.  Default is 640\n"
    "   * -h [height]\toutput height, in pixels.  Default is 480\n"
    "   * -c [codec]\t\toutput codec (use '-c help' to list available codecs).  Default is "
    "'avc1'\n"
    "   * -f [framerate]\toutput framerate, in frames per second.  Default is 30\n"
    "   * -q [quality]\tcodec quality -- 0-5, lowest to highest.  Default is 3\n"
    "   * -a [antialias]\tamount of anti-aliasing -- 1-8 are sane values.  Default is 1 (none)\n"
    "   * -m [motionblur]\tamount of motion blur -- 1-1024 are sane values.  Default is 1 "
    "(none)\n"
    "   * -d [duration]\tlength of movie in seconds.  Default is 10\n"
    "   * -s [start time]\tinitial frame time.  Default is 0\n"
    "   * -l [time scale]\ttime multiplier.  Default is 1\n"
    "   * -p [key=value]\tparameter control.\n"
    "   * -e [file]\t\ta QCRecording event file to render.  If specified, and no duration is "
    "specified,\n"
    "\t\t\trenders entire QCRecording event file.\n"
    "   * --frames [first-last]\tframes first to last only (counted from 1), to split a render "
    "into "
    "chunks;\n"
    "\t\t\t'--frames count' prints the render's frame count.  Default is every frame\n"
    "   * --opaque\t\timage sequences without alpha: RGB over black.  Default keeps alpha\n"
    "   * --audio [file]\tsoundtrack: the movie gets the file's audio from the start time on,\n"
    "\t\t\tin step with the frames (time scale 1 only; none in image sequences)\n"
    "   * --audio-codec [pcm|aac]\tthe soundtrack's codec.  Default is AAC beside lossy codecs,\n"
    "\t\t\tPCM beside intra-only and lossless ones\n"
    "   * -v\t\t\tincreases verbosity.  Default is 0 (no output).";

void printCodecs(FILE* out, const char* heading, const MovieContainer& container) {
    fputs(heading, out);
    for (const CodecInfo& codec : offeredCodecs(container.muxer)) {
        fprintf(out, "   * use \"%s\" for %s\n", codec.fourcc.c_str(), codec.name.c_str());
    }
}

}  // namespace

void printBanner(FILE* out) {
    fprintf(out, "Lumivane %i.%i (%i %s)", kVersionMajor, kVersionMinor, kBuildNumber,
            kArchitectureName);
    fprintf(out, "\t%s\n%s\n", kHomepageAddress, kVendorNotice);
}

void printHelp(FILE* out, const char* programPath) {
    fprintf(out, "usage: %s [options] [Composition File]\n", programPath);
    fprintf(out, "%s\n", kOptionList);
}

void printCodecList(FILE* out, const std::optional<std::string>& output) {
    // The output's container (QuickTime when none is named) comes first, under
    // the heading the list always had.
    const MovieContainer& first = containerForPath(output.value_or(""));
    printCodecs(out, "Available codecs:\n", first);
    for (const MovieContainer& container : movieContainers()) {
        if (output || std::string(container.muxer) == first.muxer) continue;
        const std::string heading = "Available codecs in " + std::string(container.name) +
                                    " movies (-o names ending " + container.extensions + "):\n";
        printCodecs(out, heading.c_str(), container);
    }
    fputs("Available Image Sequence formats:\n", out);
    fputs("   * use \"public.jpeg\" for JPEG sequences\n", out);
    fputs("   * use \"public.jpeg-2000\" for JPEG-2000 sequences\n", out);
    fputs("   * use \"public.png\" for PNG sequences\n", out);
    fputs("   * use \"public.tiff\" for TIFF sequences\n", out);
    fputs("   * use \"com.ilm.openexr-image\" for OpenEXR sequences\n", out);
}

}  // namespace lumivane
