// Plays the application's part of a render job for end-to-end tests: vends a
// settings record under a fresh render service name, launches the renderer
// with "QCServerConnection" and that name, serves the link until the renderer
// exits, and prints every callback as one JSON line with a monotonic time.
//
//   link_test_app [options] [renderer path]      (or env LUMIVANE_CLI)
//     --composition P  --movie P  --width W  --height H  --codec C
//     --duration D  --framerate F  --quality Q  --aa A  --motion-blur M
//     --start S  --time-scale T  -p key=value (repeatable)
//     --events FILE         recording to hand over (read as the renderer's -e does)
//     --quit-after-frames K close the server after K frame reports
//     --fail SELECTOR       answer that callback with an error
//     --no-app-controller   vend no appController
//     --timeout SECONDS     kill the renderer after this long (default 300)
//
// Output lines: {"t": ns, "registered": name}, {"t": ns, "callback": selector,
// "args": [...]}, {"t": ns, "server_closed": true}, then {"t": ns, "exit": status}
// or {"t": ns, "signal": number}.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/MonotonicClock.h"
#include "platform/link/LinkServer.h"
#include "platform/link/RenderServiceName.h"
#include "shared/RecordedEvents.h"
#include "shared/RenderSettingsVendor.h"

extern char** environ;

namespace lumivane {
namespace {

void printLine(nlohmann::json line) {
    line["t"] = static_cast<int64_t>(monotonicNanoseconds());
    std::string text = line.dump() + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

struct Options {
    std::shared_ptr<RenderSettings> settings = std::make_shared<RenderSettings>();
    std::string rendererPath;
    std::optional<int> quitAfterFrames;
    std::string failingSelector;
    bool vendController = true;
    double timeoutSeconds = 300;
};

// The application's controller: prints each callback, and counts frames.
class PrintingController : public AppControllerProxy {
public:
    explicit PrintingController(const Options& options) : m_options(options) {}

    void indicateStatus(const std::string& status) override { report("indicateStatus:", {status}); }
    void indicateFrame(int index, int count) override {
        report("indicateFrame:of:", {index, count});
        ++m_frames;
    }
    void indicateError(const std::string& error) override { report("indicateError:", {error}); }
    void enableControls() override { report("enableControls", nlohmann::json::array()); }
    void finishedRendering() override { report("finishedRendering:", nlohmann::json::array()); }

    bool quitDue() const {
        return m_options.quitAfterFrames && m_frames >= *m_options.quitAfterFrames;
    }

private:
    void report(const char* selector, nlohmann::json args) {
        printLine({{"callback", selector}, {"args", std::move(args)}});
        if (m_options.failingSelector == selector)
            throw std::runtime_error(std::string("the test application refuses ") + selector);
    }

    const Options& m_options;
    int m_frames = 0;
};

void applyApplicationDefaults(RenderSettings& s) {
    s.setCodec("avc1");
    s.setAA(1);
    s.setMotionBlur(0);
    s.setMoviePath("LumivaneRender.mov");
    s.setRecordButton(ObjectReference{"recordButton"});
    s.setWidth("640");
    s.setHeight("480");
    s.setQuality(3);
    s.setFramerate(30);
    s.setDuration(10);
    s.setStartTime(0);
    s.setTimeScale(1);
}

bool addParameter(RenderSettings& s, const std::string& pair) {
    size_t equals = pair.find('=');
    if (equals == std::string::npos) return false;
    PlistDict values;
    if (auto current = s.inputValues(); current && current->isDict()) values = *current->asDict();
    values.set(pair.substr(0, equals), pair.substr(equals + 1));
    s.setInputValues(PlistValue(std::move(values)));
    return true;
}

// Returns false with a message on standard error for a bad command line.
bool parseOptions(int argc, char** argv, Options& options) {
    RenderSettings& s = *options.settings;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        auto value = [&] { return std::string(argv[++i]); };
        auto real = [&] { return std::atof(argv[++i]); };
        if (option == "--no-app-controller")
            options.vendController = false;
        else if (!hasValue && option.rfind("-", 0) == 0) {
            fprintf(stderr, "link_test_app: %s needs a value\n", option.c_str());
            return false;
        } else if (option == "--composition")
            s.setCompositionFile(value());
        else if (option == "--movie")
            s.setMoviePath(value());
        else if (option == "--width")
            s.setWidth(value());
        else if (option == "--height")
            s.setHeight(value());
        else if (option == "--codec")
            s.setCodec(value());
        else if (option == "--duration")
            s.setDuration(real());
        else if (option == "--framerate")
            s.setFramerate(real());
        else if (option == "--quality")
            s.setQuality(std::atoi(argv[++i]));
        else if (option == "--aa")
            s.setAA(real());
        else if (option == "--motion-blur")
            s.setMotionBlur(std::atoi(argv[++i]));
        else if (option == "--start")
            s.setStartTime(real());
        else if (option == "--time-scale")
            s.setTimeScale(real());
        else if (option == "--quit-after-frames")
            options.quitAfterFrames = std::atoi(argv[++i]);
        else if (option == "--fail")
            options.failingSelector = value();
        else if (option == "--timeout")
            options.timeoutSeconds = real();
        else if (option == "--events") {
            auto entries = RecordedEvents::recordedEventsArrayForComposition(value(), nullptr);
            s.setEvents(std::make_shared<const EventArray>(std::move(entries)));
        } else if (option == "-p") {
            if (!addParameter(s, value())) {
                fprintf(stderr, "link_test_app: -p takes key=value\n");
                return false;
            }
        } else if (option.rfind("-", 0) == 0) {
            fprintf(stderr, "link_test_app: unknown option %s\n", option.c_str());
            return false;
        } else {
            options.rendererPath = option;
        }
    }
    if (options.rendererPath.empty()) {
        const char* fromEnvironment = std::getenv("LUMIVANE_CLI");
        if (fromEnvironment) options.rendererPath = fromEnvironment;
    }
    if (options.rendererPath.empty()) {
        fprintf(stderr, "link_test_app: no renderer (give its path or set LUMIVANE_CLI)\n");
        return false;
    }
    return true;
}

std::optional<pid_t> launchRenderer(const std::string& path, const std::string& serviceName) {
    std::vector<std::string> arguments{path, "QCServerConnection", serviceName};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return std::nullopt;
    return child;
}

void reportExit(int status) {
    if (WIFEXITED(status))
        printLine({{"exit", WEXITSTATUS(status)}});
    else if (WIFSIGNALED(status))
        printLine({{"signal", WTERMSIG(status)}});
}

int run(Options& options) {
    auto controller = std::make_shared<PrintingController>(options);
    if (options.vendController) options.settings->setAppController(controller);
    std::string name = makeRenderServiceName();
    auto created =
        LinkServer::create(name, std::make_shared<RenderSettingsVendor>(options.settings));
    if (!created) {
        fprintf(stderr, "link_test_app: %s\n", created.error().c_str());
        return 1;
    }
    std::unique_ptr<LinkServer> server = std::move(created.value());
    printLine({{"registered", name}});
    std::optional<pid_t> child = launchRenderer(options.rendererPath, name);
    if (!child) {
        fprintf(stderr, "link_test_app: cannot launch \"%s\"\n", options.rendererPath.c_str());
        return 1;
    }
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int64_t>(options.timeoutSeconds * 1000));
    for (;;) {
        if (server)
            server->serveFor(std::chrono::milliseconds(10));
        else
            usleep(10000);
        if (server && controller->quitDue()) {
            server.reset();  // the application vanishes
            printLine({{"server_closed", true}});
        }
        int status = 0;
        if (waitpid(*child, &status, WNOHANG) == *child) {
            if (server) server->servePending();
            reportExit(status);
            return 0;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(*child, SIGKILL);
            waitpid(*child, &status, 0);
            printLine({{"timeout", true}});
            reportExit(status);
            return 1;
        }
    }
}

}  // namespace
}  // namespace lumivane

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    lumivane::Options options;
    lumivane::applyApplicationDefaults(*options.settings);
    if (!lumivane::parseOptions(argc, argv, options)) return 2;
    return lumivane::run(options);
}
