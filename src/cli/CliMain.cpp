#include "cli/CliMain.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "base/Log.h"
#include "cli/CommandLine.h"
#include "cli/HelpText.h"
#include "cli/RenderComposition.h"
#include "cli/RendererState.h"
#include "cli/TerminationPath.h"
#include "platform/media/MediaLog.h"
#include "shared/ConnectRenderSettings.h"

namespace lumivane {
namespace {

constexpr const char* kLinkModeArgument = "QCServerConnection";

bool isLinkMode(int argc, const char* const* argv) {
    return argc == 3 && strncmp(argv[1], kLinkModeArgument, strlen(kLinkModeArgument)) == 0;
}

// Link mode: every setting comes from the application's record. The client
// stays alive for the whole run; its pending traffic is served between frames.
bool connectToApplication(const char* serviceName, RenderSettings& settings,
                          std::shared_ptr<LinkClient>& client) {
    auto connected = connectRenderSettings(serviceName, settings);
    // A wait on the application cut short by a stop is a stop, not a failure.
    terminationCheckpoint();
    if (!connected) {
        logLine("Failed to connect to Lumivane Service [" + std::string(serviceName) + "]");
        logLine(connected.error());
        return false;
    }
    client = connected.value();
    setRunLoopPass([client] { client->servePending(); });
    return true;
}

// A refusal of what the options asked is an option error (255); of what the
// application or a recording asked, a failed render (254).
int renderAndReport(RenderSettings& settings, bool linkMode) {
    int result = -1;
    try {
        result = renderComposition(settings);
    } catch (const std::exception& error) {
        // A report the application could not take, or a failure nothing else caught.
        logLine(std::string("LumivaneCLI: ") + error.what());
    }
    // A wait cut short by a stop surfaces as a failure; it is a stop.
    if (result != 0) terminationCheckpoint();
    if (result == kRenderRefused && !linkMode) return -1;
    if (result != 0) {
        nsLog("rendering failed");
        return -2;
    }
    try {
        if (auto controller = settings.appController()) controller->finishedRendering();
    } catch (...) {
        // Deliberately ignored: the render succeeded whether or not anyone hears of it.
    }
    return 0;
}

}  // namespace

int cliMain(int argc, const char* const* argv) {
    installTerminationPath();
    setLogProgramName("LumivaneCLI");
    if (argc < 2) {
        printBanner(stdout);
        printHelp(stdout, argv[0]);
        return 0;
    }

    auto settings = std::make_unique<RenderSettings>();
    applyRendererDefaults(*settings);

    std::shared_ptr<LinkClient> link;
    const bool linkMode = isLinkMode(argc, argv);
    if (linkMode) {
        if (!connectToApplication(argv[2], *settings, link)) {
            printHelp(stdout, argv[0]);
            return -1;
        }
    } else if (auto stop = scanCommandLine(argc, argv, *settings, stdout, stderr)) {
        return *stop;
    }
    // FFmpeg's own warnings and notes only when -v asks for more.
    setMediaLogVerbosity(verbosityLevel());
    fflush(stdout);
    return renderAndReport(*settings, linkMode);
}

}  // namespace lumivane
