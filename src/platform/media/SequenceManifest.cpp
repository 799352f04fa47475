#include "platform/media/SequenceManifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/FileHandles.h"
#include "base/SystemError.h"

namespace lumivane {
namespace {

constexpr const char* kPrefix = ".lumivane-chunk-";
constexpr const char* kSuffix = ".txt";
constexpr const char* kFramesKey = "frames=";
// A manifest is a few hundred bytes; anything larger is no manifest.
constexpr off_t kLargest = 1 << 20;

bool isManifestName(const std::string& name) {
    const std::string prefix = kPrefix, suffix = kSuffix;
    return name.size() > prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += size_t(written);
    }
    return true;
}

// Opened without blocking and checked as a file before a byte is read, so a
// FIFO in its place cannot stop the check.
Result<std::string> readManifest(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return errorAt(path, systemErrorText("cannot be read"));
    struct stat file {};
    if (::fstat(fd.get(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_size > kLargest) {
        return errorAt(path, "is no chunk manifest (not a small regular file)");
    }
    std::string text(size_t(file.st_size), '\0');
    if (::pread(fd.get(), text.data(), text.size(), 0) != ssize_t(text.size())) {
        return errorAt(path, systemErrorText("cannot be read"));
    }
    return text;
}

Result<MovieChunk> parseManifest(const std::string& path, const std::string& text) {
    const size_t end = text.find('\n');
    const std::string first = text.substr(0, end);
    if (first.rfind(kFramesKey, 0) != 0 || end == std::string::npos) {
        return errorAt(path, "is no chunk manifest (no frames line)");
    }
    auto chunk = parseMovieChunk(first.substr(std::string(kFramesKey).size()));
    if (!chunk) return errorAt(path, chunk.error());
    chunk->origin = text.substr(end + 1);
    return chunk;
}

}  // namespace

std::string SequenceManifest::fileName(int first, int last) {
    return kPrefix + std::to_string(first) + "-" + std::to_string(last) + kSuffix;
}

Result<void> SequenceManifest::write(const std::string& directory, const MovieChunk& chunk) {
    const std::string path = directory + "/" + fileName(chunk.first, chunk.last);
    // Named for this process, so chunks rerun at once do not share it; its
    // mode is a new file's, as the frames' are.
    const std::string partialPath = path + ".partial-" + std::to_string(::getpid());
    UniqueFd fd(::open(partialPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return errorAt(path, systemErrorText("cannot be written"));
    TemporaryFile partial(partialPath);
    const std::string text = kFramesKey + movieChunkText(chunk) + "\n" + chunk.origin;
    if (!writeAll(fd.get(), text) || !fd.close()) {
        return errorAt(path, systemErrorText("cannot be written"));
    }
    if (!partial.renameTo(path)) return errorAt(path, systemErrorText("cannot be written"));
    return {};
}

Result<std::vector<SequenceManifest::Found>> SequenceManifest::readAll(
    const std::string& directory) {
    std::vector<Found> found;
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error), end;
    for (; !error && entries != end; entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (!isManifestName(name)) continue;
        auto text = readManifest(entries->path().string());
        if (!text) return Error{text.error()};
        auto chunk = parseManifest(entries->path().string(), *text);
        if (!chunk) return Error{chunk.error()};
        found.push_back({name, std::move(*chunk)});
    }
    if (error) return errorAt(directory, "cannot be read (" + error.message() + ")");
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.name < b.name; });
    return found;
}

}  // namespace lumivane
