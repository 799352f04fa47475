#include "cli/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/Log.h"
#include "base/SystemError.h"
#include "cli/HelpText.h"
#include "cli/RenderPlan.h"
#include "cli/RendererState.h"
#include "cli/StoppableWait.h"
#include "platform/media/AnimationWriter.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/MovieContainer.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

enum class Option {
    Version,
    Help,
    Output,
    Width,
    Height,
    Codec,
    Framerate,
    Quality,
    Duration,
    StartTime,
    TimeScale,
    Antialias,
    MotionBlur,
    Verbose,
    Parameter,
    Events,
    Frames,
    Opaque,
    Audio,
    AudioCodec,
};

struct OptionSpec {
    const char* text;
    bool takesValue;
    Option option;
};

// Tested in this order; an argument matches when it begins with the option text.
constexpr OptionSpec kOptions[] = {
    {"--version", false, Option::Version}, {"-version", false, Option::Version},
    {"--help", false, Option::Help},       {"-help", false, Option::Help},
    {"-o", true, Option::Output},          {"-w", true, Option::Width},
    {"-h", true, Option::Height},          {"-c", true, Option::Codec},
    {"-f", true, Option::Framerate},       {"-q", true, Option::Quality},
    {"-d", true, Option::Duration},        {"-s", true, Option::StartTime},
    {"-l", true, Option::TimeScale},       {"-a", true, Option::Antialias},
    {"-m", true, Option::MotionBlur},      {"-v", false, Option::Verbose},
    {"-p", true, Option::Parameter},       {"-e", true, Option::Events},
    {"--frames", true, Option::Frames},    {"--opaque", false, Option::Opaque},
    {"--audio", true, Option::Audio},      {"--audio-codec", true, Option::AudioCodec},
};

// Options added since the prefix rule match only when spelt in full, so
// that no argument refused before quietly means something now.
bool matchesOnlyInFull(Option option) {
    return option == Option::Frames || option == Option::Opaque || option == Option::Audio ||
           option == Option::AudioCodec;
}

constexpr const char* kFrameCountValue = "count";

// atoi without its undefined behaviour on overflow.
int integerValue(const char* text) {
    long long value = strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool isPositiveFinite(double value) {
    return std::isfinite(value) && value > 0;
}

// A frame number: 1 to 9 decimal digits and nothing else.
std::optional<int> frameNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    return std::stoi(text);
}

struct Scan {
    RenderSettings& settings;
    FILE* out;
    FILE* err;
    const char* programPath;
    // The -o value wherever it stands, so "-c help" can list its container's codecs.
    std::optional<std::string> namedOutput;
    double explicitDuration = 0;
    double recordingLength = 0;
    bool haveComposition = false;
    bool frameCountAsked = false;
    bool codecNamed = false;

    std::optional<int> fail(const std::string& message) {
        fputs(message.c_str(), err);
        fflush(err);
        printHelp(out, programPath);
        return -1;
    }

    std::optional<int> apply(Option option, const char* argument, const char* value);
    std::optional<int> applyParameter(const char* value);
    std::optional<int> applyEvents(const char* value);
    std::optional<int> applyFrames(const char* value);
    std::optional<int> finish(bool durationFromRecording);
};

std::optional<int> Scan::applyParameter(const char* value) {
    auto inputValues = settings.inputValues();
    if (!inputValues) inputValues = PlistValue(PlistDict{});
    std::string text(value);
    size_t equals = text.find('=');
    if (equals == std::string::npos || text.size() < 3)
        return fail("Incorrectly formatted parameter [" + text + "]\n");
    if (PlistDict* dict = inputValues->asDict())
        dict->set(text.substr(0, equals), PlistValue(text.substr(equals + 1)));
    settings.setInputValues(std::move(inputValues));
    return std::nullopt;
}

std::optional<int> Scan::applyEvents(const char* value) {
    double total = 0;
    // A large recording takes a while to read; a stop must not wait for it.
    auto events = runStoppable(
        [&] { return RecordedEvents::recordedEventsArrayForComposition(value, &total); });
    // Its length would become the duration: an endless one renders forever.
    if (!std::isfinite(total))
        return fail("Recording time must be finite [" + std::string(value) + "]\n");
    settings.setEvents(std::make_shared<const EventArray>(std::move(events)));
    recordingLength = total;
    return std::nullopt;
}

// "FIRST-LAST", from 1, or "count". Whether the range fits the render is
// known only once every option is read.
std::optional<int> Scan::applyFrames(const char* value) {
    const std::string text(value);
    frameCountAsked = text == kFrameCountValue;
    if (frameCountAsked) {
        settings.setFrameRange(std::nullopt);
        return std::nullopt;
    }
    const size_t dash = text.find('-');
    auto first = frameNumber(text.substr(0, dash));
    auto last = dash == std::string::npos ? std::nullopt : frameNumber(text.substr(dash + 1));
    if (!first || !last) return fail("Incorrectly formatted frame range [" + text + "]\n");
    if (*first == 0) return fail("Frames are numbered from 1 [" + text + "]\n");
    if (*last < *first) return fail("Frame range ends before it begins [" + text + "]\n");
    settings.setFrameRange(FrameRange{*first, *last});
    return std::nullopt;
}

std::optional<int> Scan::apply(Option option, const char* argument, const char* value) {
    switch (option) {
        case Option::Version:
            printBanner(out);
            printHelp(out, programPath);
            return -1;
        case Option::Help:
            printHelp(out, programPath);
            return -1;
        case Option::Output:
            settings.setMoviePath(std::string(value));
            break;
        case Option::Width:
            settings.setWidth(std::string(value));
            if (PlistValue(value).intValue() <= 0)
                return fail("Width must be positive (and non-zero)\n");
            break;
        case Option::Height:
            settings.setHeight(std::string(value));
            if (PlistValue(value).intValue() <= 0)
                return fail("Height must be positive (and non-zero)\n");
            break;
        case Option::Codec:
            if (strncmp(value, "help", 4) == 0) {
                // The list is the whole answer: stop the scan, exit with success.
                printCodecList(out, namedOutput);
                fflush(out);
                return 0;
            }
            settings.setCodec(std::string(value));
            codecNamed = true;
            break;
        case Option::Framerate:
            settings.setFramerate(atof(value));
            // An endless rate would make every frame time the same; refuse it with the rest.
            if (!isPositiveFinite(settings.framerate()))
                return fail("Framerate must be positive (and non-zero)\n");
            break;
        case Option::Quality:
            settings.setQuality(integerValue(value));
            break;
        case Option::Duration:
            explicitDuration = atof(value);
            if (!isPositiveFinite(explicitDuration))
                return fail("Duration must be positive (and non-zero)\n");
            break;
        case Option::StartTime: {
            double start = atof(value);
            // The pre-roll up to an endless start time would never end.
            if (!std::isfinite(start)) return fail("Start time must be finite\n");
            settings.setStartTime(start > 0 ? start : 0.0);
            break;
        }
        case Option::TimeScale:
            settings.setTimeScale(atof(value));
            // Every frame would be at the same endless (or no) time.
            if (!std::isfinite(settings.timeScale())) return fail("Time scale must be finite\n");
            break;
        case Option::Antialias:
            settings.setAA(atof(value));
            break;
        case Option::MotionBlur:
            settings.setMotionBlur(integerValue(value));
            break;
        case Option::Verbose:
            setVerbosityLevel(verbosityLevel() + static_cast<int32_t>(strlen(argument) - 1));
            break;
        case Option::Parameter:
            return applyParameter(value);
        case Option::Events:
            return applyEvents(value);
        case Option::Frames:
            return applyFrames(value);
        case Option::Opaque:
            settings.setOpaque(true);
            break;
        case Option::Audio:
            settings.setSoundtrack(std::string(value));
            break;
        case Option::AudioCodec:
            if (strcmp(value, "pcm") != 0 && strcmp(value, "aac") != 0)
                return fail("Audio codec must be pcm or aac [" + std::string(value) + "]\n");
            settings.setSoundtrackCodec(std::string(value));
            break;
    }
    return std::nullopt;
}

const OptionSpec* matchOption(const char* argument, bool valueFollows) {
    for (const OptionSpec& spec : kOptions) {
        if (strncmp(argument, spec.text, strlen(spec.text)) != 0) continue;
        if (matchesOnlyInFull(spec.option) && strcmp(argument, spec.text) != 0) continue;
        if (spec.takesValue && !valueFollows) continue;
        return &spec;
    }
    return nullptr;
}

// The frame count, once the duration is known; the range checked against it.
// A count beyond the limit is the options' fault, or the recording's when its
// length made the duration.
std::optional<int> Scan::finish(bool durationFromRecording) {
    if (auto problem = frameCountProblem(settings.framerate(), settings.duration())) {
        if (!durationFromRecording) return fail(*problem + "\n");
        logLine("LumivaneCLI: " + *problem + " (the duration is the recording's)");
        return -2;
    }
    const long long frameCount = frameCountFor(settings.framerate(), settings.duration());
    if (frameCountAsked) {
        // A count nobody received must not read as one: scripts cut renders by
        // it (standard output closed or full).
        errno = 0;
        if (fprintf(out, "%lld\n", frameCount) < 0 || fflush(out) != 0 || ferror(out)) {
            logLine("LumivaneCLI: " + systemErrorText("cannot write the frame count", errno));
            return -2;
        }
        return 0;
    }
    auto range = settings.frameRange();
    if (!range) return std::nullopt;
    if (auto problem = frameRangeProblem(*range, static_cast<int>(frameCount)))
        return fail(*problem + "\n");
    return std::nullopt;
}

// A codec the output's container cannot hold is refused before anything is
// written. An unknown codec is the render's to report, as it always was.
// A GIF or WebP name without -c takes the picture's own codec rather than the
// movie default.
std::optional<int> refuseContainer(Scan& scan) {
    const MovieContainer& container = containerForPath(scan.settings.moviePath().value_or(""));
    if (!scan.codecNamed && container.animation)
        scan.settings.setCodec(std::string(container.animation));
    const std::string codec = scan.settings.codec().value_or("");
    if (isImageSequenceType(codec)) return std::nullopt;
    if (auto refusal = AnimationWriter::rateRefusal(scan.settings.moviePath().value_or(""),
                                                    scan.settings.framerate()))
        return scan.fail(*refusal + "\n");
    if (auto refusal = containerRefusal(scan.settings.moviePath().value_or(""), codec)) {
        refusal->front() = char(std::toupper(static_cast<unsigned char>(refusal->front())));
        return scan.fail(*refusal + "\n");
    }
    return std::nullopt;
}

// The last -o value, found as the scan will find it.
std::optional<std::string> outputNamed(int argc, const char* const* argv) {
    std::optional<std::string> named;
    for (int i = 1; i < argc; ++i) {
        const OptionSpec* spec = matchOption(argv[i], i + 1 < argc);
        if (!spec || !spec->takesValue) continue;
        if (spec->option == Option::Output) named = argv[i + 1];
        ++i;
    }
    return named;
}

}  // namespace

void applyRendererDefaults(RenderSettings& settings) {
    settings.setWidth(std::string("640"));
    settings.setHeight(std::string("480"));
    settings.setCodec(std::string("avc1"));
    settings.setFramerate(30.0);
    settings.setDuration(10.0);
    settings.setQuality(3);
    settings.setMoviePath(std::string("LumivaneRender.mov"));
    settings.setMotionBlur(0);
    settings.setAA(1.0);
    settings.setStartTime(0.0);
    settings.setTimeScale(1.0);
}

std::optional<int> scanCommandLine(int argc, const char* const* argv, RenderSettings& settings,
                                   FILE* out, FILE* err) {
    Scan scan{settings, out, err, argv[0], outputNamed(argc, argv)};
    setVerbosityLevel(0);
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        bool valueFollows = i + 1 < argc;
        if (const OptionSpec* spec = matchOption(argument, valueFollows)) {
            const char* value = spec->takesValue ? argv[++i] : nullptr;
            if (auto stop = scan.apply(spec->option, argument, value)) return stop;
        } else if (argument[0] == '-') {
            return scan.fail("Unrecognized option [" + std::string(argument) + "]\n");
        } else if (scan.haveComposition) {
            return scan.fail("Only one composition can be specified [" + std::string(argument) +
                             "]\n");
        } else {
            settings.setCompositionFile(std::string(argument));
            scan.haveComposition = true;
        }
    }

    bool durationFromRecording = false;
    if (scan.explicitDuration != 0) {
        settings.setDuration(scan.explicitDuration);
    } else if (scan.recordingLength > 0) {
        settings.setDuration(scan.recordingLength - settings.startTime());
        durationFromRecording = true;
    }

    if (!settings.compositionFile()) {
        fputs("No composition file specified\n", err);
        fflush(err);
        printHelp(out, argv[0]);
        return -1;
    }
    if (auto refused = refuseContainer(scan)) return refused;
    // The sound would need stretching to stay with frames at another speed.
    if (settings.soundtrack() && settings.timeScale() != 1.0) {
        char scale[32];
        snprintf(scale, sizeof scale, "%g", settings.timeScale());
        return scan.fail("A soundtrack plays at time scale 1 only (-l " + std::string(scale) +
                         " with --audio)\n");
    }
    return scan.finish(durationFromRecording);
}

}  // namespace lumivane
