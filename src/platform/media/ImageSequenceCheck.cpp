#include "platform/media/ImageSequenceCheck.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"
#include "platform/imagefiles/ImageFileLibrary.h"
#include "platform/media/ImageSequence.h"
#include "platform/media/SequenceManifest.h"

namespace lumivane {
namespace {

std::string rangesText(const std::vector<int>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (j > i) text += "-" + std::to_string(numbers[j]);
        i = j + 1;
    }
    return text;
}

template <class Names>
std::string namesText(const Names& names, const char* separator = ", ") {
    std::string text;
    int shown = 0;
    for (const std::string& name : names) {
        if (shown++ == 5) return text + separator + "...";
        text += (text.empty() ? "" : separator) + name;
    }
    return text;
}

struct Findings {
    std::vector<std::string> frames;  // by number; empty: not there
    std::set<std::string> extensions;
    std::set<std::string> partials;
    std::set<std::string> beyond;
    std::vector<std::string> problems;
};

void note(Findings& findings, const std::string& name, const SequenceFileName& entry, int digits) {
    if (entry.partial) {
        findings.partials.insert(name);
        return;
    }
    const int frameCount = int(findings.frames.size()) - 1;
    const bool padded = entry.number.size() == size_t(digits);
    const long long number = entry.number.size() > 9 ? -1 : std::stoll(entry.number);
    if (padded && number >= 1 && number <= frameCount) {
        findings.frames[size_t(number)] = name;
        findings.extensions.insert(entry.extension);
    } else {
        // Also a frame numbered for a render of another length: its digits say so.
        findings.beyond.insert(name);
    }
}

void reportNames(Findings& findings) {
    std::vector<int> missing;
    for (size_t n = 1; n < findings.frames.size(); ++n) {
        if (findings.frames[n].empty()) missing.push_back(int(n));
    }
    if (!missing.empty()) {
        findings.problems.push_back((missing.size() == 1 ? "frame " : "frames ") +
                                    rangesText(missing) + (missing.size() == 1 ? " is" : " are") +
                                    " missing");
    }
    if (!findings.partials.empty()) {
        findings.problems.push_back("frames left half written: " + namesText(findings.partials));
    }
    if (!findings.beyond.empty()) {
        findings.problems.push_back("files that are no frame 1-" +
                                    std::to_string(findings.frames.size() - 1) + ": " +
                                    namesText(findings.beyond));
    }
    if (findings.extensions.size() > 1) {
        findings.problems.push_back("frames in more than one format: " +
                                    namesText(findings.extensions));
    }
}

// The chunks that wrote into the directory must be chunks of this one render.
void reportManifests(Findings& findings, const std::string& directory, int frameCount) {
    auto manifests = SequenceManifest::readAll(directory);
    if (!manifests) {
        findings.problems.push_back(manifests.error());
        return;
    }
    for (const SequenceManifest::Found& found : *manifests) {
        const SequenceManifest::Found& model = manifests->front();
        if (found.chunk.total != frameCount) {
            findings.problems.push_back(found.name + " is a chunk of a render of " +
                                        std::to_string(found.chunk.total) + " frames");
        } else if (auto different =
                       originDifference(found.chunk.origin, model.chunk.origin, model.name)) {
            findings.problems.push_back(
                found.name + " is a chunk of another render: rendered with " + *different);
        }
    }
}

// The file's last bytes, where PNG and JPEG end with a fixed marker that a
// file cut short lacks even when its pixels decode.
bool endsWith(int fd, off_t size, const void* marker, size_t length) {
    if (size < off_t(length)) return false;
    char tail[16];
    return ::pread(fd, tail, length, size - off_t(length)) == ssize_t(length) &&
           std::memcmp(tail, marker, length) == 0;
}

bool hasFormatEnd(int fd, off_t size, const std::string& name) {
    static const unsigned char kPngEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    static const unsigned char kJpegEnd[] = {0xFF, 0xD9};
    const std::string extension = name.substr(name.rfind('.') + 1);
    if (extension == "png") return endsWith(fd, size, kPngEnd, sizeof kPngEnd);
    if (extension == "jpg") return endsWith(fd, size, kJpegEnd, sizeof kJpegEnd);
    return true;
}

// Why the frame is no regular file that ends as its format does; empty when it is.
std::string fileProblem(const std::string& path, const std::string& name) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0) {
            return systemErrorText("is a symbolic link that leads to no file");
        }
    }
    // Not blocking: a FIFO in a frame's place must not stop the check.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat file {};
    if (!fd || ::fstat(fd.get(), &file) != 0) return systemErrorText("cannot be read");
    if (S_ISDIR(file.st_mode)) return "is a directory";
    if (!S_ISREG(file.st_mode)) return "is no regular file";
    if (file.st_size == 0) return "is empty";
    if (!hasFormatEnd(fd.get(), file.st_size, name))
        return "is cut short (its format's end is missing)";
    return {};
}

std::string headerText(const imagefiles::ImageHeader& header) {
    return std::to_string(header.width) + "x" + std::to_string(header.height) + ", " +
           std::to_string(header.channels) + (header.channels == 1 ? " channel" : " channels") +
           (header.isFloat ? " (float)" : "");
}

// Decodes the frame; `expected` null: any header is taken (the first frame).
std::string decodeProblem(const std::string& path, const imagefiles::ImageHeader* expected,
                          imagefiles::ImageHeader& found) {
    auto decoded =
        ImageFileLibrary::read(path, [&](const imagefiles::ImageHeader& header, std::string& why) {
            found = header;
            if (!expected) return true;
            const bool same =
                header.width == expected->width && header.height == expected->height &&
                header.channels == expected->channels && header.isFloat == expected->isFloat;
            if (!same) why = "is " + headerText(header) + ", not " + headerText(*expected);
            return same;
        });
    if (decoded) return {};
    const std::string why = decoded.error();
    return why.rfind("is ", 0) == 0 ? why : "does not decode (" + why + ")";
}

struct FrameCheck {
    std::string name;
    std::string problem;
};

std::string checkFrame(const std::string& directory, FrameCheck& frame,
                       const imagefiles::ImageHeader* expected, imagefiles::ImageHeader& found) {
    const std::string path = directory + "/" + frame.name;
    frame.problem = fileProblem(path, frame.name);
    if (frame.problem.empty()) frame.problem = decodeProblem(path, expected, found);
    return frame.problem;
}

// Every frame read through, a few at once: the first good one in number
// order sets the size and channels the others must have.
void reportFrames(Findings& findings, const std::string& directory) {
    std::vector<int> numbers;
    std::vector<FrameCheck> frames;
    for (size_t n = 1; n < findings.frames.size(); ++n) {
        if (findings.frames[n].empty()) continue;
        numbers.push_back(int(n));
        frames.push_back({findings.frames[n], {}});
    }
    imagefiles::ImageHeader expected;
    size_t first = 0;
    while (first < frames.size() &&
           !checkFrame(directory, frames[first], nullptr, expected).empty())
        ++first;
    std::atomic<size_t> next{first + 1};
    auto work = [&] {
        imagefiles::ImageHeader found;
        for (size_t i; (i = next++) < frames.size();)
            checkFrame(directory, frames[i], &expected, found);
    };
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    std::vector<int> bad;
    std::vector<std::string> reasons;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].problem.empty()) continue;
        bad.push_back(numbers[i]);
        reasons.push_back(frames[i].name + " " + frames[i].problem);
    }
    if (bad.empty()) return;
    findings.problems.push_back((bad.size() == 1 ? "frame " : "frames ") + rangesText(bad) +
                                (bad.size() == 1 ? " is" : " are") +
                                " bad: " + namesText(reasons, "; "));
}

}  // namespace

Result<void> ImageSequenceCheck::check(const std::string& directory, int frameCount) {
    if (frameCount < 1) return errorAt(directory, "a sequence holds at least one frame");
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        return errorAt(directory, "is no directory");
    }
    Findings findings;
    findings.frames.assign(size_t(frameCount) + 1, std::string());
    const int digits = sequenceDigitCount(frameCount);
    std::filesystem::directory_iterator entries(directory, error), end;
    for (; !error && entries != end; entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (auto entry = parseSequenceFileName(name)) note(findings, name, *entry, digits);
    }
    if (error) return errorAt(directory, "cannot be read (" + error.message() + ")");
    reportNames(findings);
    reportManifests(findings, directory, frameCount);
    reportFrames(findings, directory);
    if (!findings.problems.empty()) return errorAt(directory, namesText(findings.problems, "; "));
    return {};
}

}  // namespace lumivane
