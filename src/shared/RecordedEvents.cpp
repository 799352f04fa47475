#include "shared/RecordedEvents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "base/BoundedFile.h"
#include "base/FileHandles.h"
#include "base/Log.h"
#include "base/PathString.h"
#include "base/PlistValue.h"
#include "base/SystemError.h"
#include "shared/EventPropertyList.h"

namespace lumivane {
namespace {

// --- loading ------------------------------------------------------------------

// A recording that is there but cannot be replayed says why in the log; it
// then replays as none, like a missing one.
void reportUnreadable(const std::string& reason) {
    nsLog("%s; replaying no recorded events", reason.c_str());
}

std::optional<std::string> readRecordingFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return std::nullopt;
    // Only regular files: a FIFO or device under that name must not block or
    // stream forever.
    auto bytes = readBoundedFile(path, RecordedEvents::kMaxFileSize);
    if (!bytes) {
        reportUnreadable(bytes.error());
        return std::nullopt;
    }
    return std::move(bytes.value());
}

const PlistDict* dictUnder(const PlistDict* dict, const char* key) {
    if (!dict) return nullptr;
    const PlistValue* value = dict->find(key);
    return value ? value->asDict() : nullptr;
}

// A time key as a number, if all of its text is one; NaN sorts with the
// keys that are not numbers so that the order stays strict.
std::optional<double> timeKeyNumber(const std::string& key) {
    const char* first = key.data();
    const char* last = first + key.size();
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
    if (first < last && *first == '+') ++first;
    double value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || std::isnan(value)) return std::nullopt;
    return value;
}

// Numeric keys in ascending order, then keys that are not numbers by their
// text; equal numbers keep a fixed order through their text.
std::vector<const PlistDict::Entry*> entriesInTimeOrder(const PlistDict& take) {
    struct Keyed {
        std::optional<double> number;
        const PlistDict::Entry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(take.size());
    for (const auto& entry : take) keyed.push_back({timeKeyNumber(entry.first), &entry});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.number.has_value() != b.number.has_value()) return a.number.has_value();
        if (a.number && *a.number != *b.number) return *a.number < *b.number;
        return a.entry->first < b.entry->first;
    });
    std::vector<const PlistDict::Entry*> ordered;
    ordered.reserve(keyed.size());
    for (const Keyed& k : keyed) ordered.push_back(k.entry);
    return ordered;
}

RecordedEventEntry entryFrom(const PlistDict::Entry& timed, Point& previousLocation) {
    // An event that is not a dictionary is read as an empty one: its entry
    // keeps its place and time but has no event.
    static const PlistDict emptyPlist;
    const PlistDict* plist = timed.second.asDict();
    if (!plist) plist = &emptyPlist;

    RecordedEventEntry entry;
    const PlistValue* locationText = plist->find(QCRendererMouseLocationKey);
    const std::string* text = locationText ? locationText->asString() : nullptr;
    entry.mouseLocation = text ? pointFromString(*text) : Point{};
    if (auto event = eventFromPropertyList(*plist, previousLocation)) {
        previousLocation = event->locationInWindow();
        entry.event = std::move(event);
    }
    entry.eventTime = PlistValue(timed.first).doubleValue();
    return entry;
}

// --- saving -------------------------------------------------------------------

PlistDict takeFrom(const std::vector<RecordedEventEntry>& entries) {
    // Keys are found through a hash, not PlistDict::set's search, so that a
    // long recording saves in linear time.
    std::unordered_map<std::string, size_t> places;
    std::vector<PlistDict::Entry> timed;
    places.reserve(entries.size());
    timed.reserve(entries.size());
    for (const RecordedEventEntry& entry : entries) {
        // An entry without an event has no form in the file; writing only its
        // location and time would read back as an event that fails to build
        // on every load, so it is left out.
        if (!entry.event) continue;
        PlistDict plist = propertyListRepresentation(*entry.event);
        plist.set(QCRendererMouseLocationKey,
                  stringFromPoint(entry.mouseLocation.value_or(Point{})));
        // Equal times give equal keys; the later entry replaces the earlier
        // in its place.
        std::string key = shortestText(entry.eventTime.value_or(0.0));
        auto [place, isNew] = places.try_emplace(key, timed.size());
        if (isNew)
            timed.emplace_back(std::move(key), std::move(plist));
        else
            timed[place->second].second = std::move(plist);
    }
    PlistDict take;
    take.reserve(timed.size());
    for (auto& [key, plist] : timed) take.append(std::move(key), std::move(plist));
    return take;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

// The replaced file keeps its permissions; a new one is readable by all.
mode_t modeForNewFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
    return 0644;
}

void syncDirectory(const std::string& directory) {
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The new file is in place once renamed; a directory that cannot be
    // synced only leaves the rename to the file system's own schedule.
    if (dir) ::fsync(dir.get());
}

Result<void> writeAtomically(const std::string& path, const std::string& bytes) {
    if (path.empty() || path.back() == '/') return errorAt(path, "names no file to write");
    const std::string directory = directoryOf(path);
    // The temporary name stays within the file system's name limit even for
    // a recording whose own name is near it.
    std::string pattern = directory + "/." + baseNameOf(path).substr(0, 200) + ".XXXXXX";
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd) return errorAt(path, systemErrorText("cannot create a file in " + directory));
    TemporaryFile temporary(pattern);
    if (::fchmod(fd.get(), modeForNewFile(path)) != 0)
        return errorAt(path, systemErrorText("cannot set the file's permissions"));
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.close())
        return errorAt(path, systemErrorText("cannot write the recording"));
    if (!temporary.renameTo(path))
        return errorAt(path, systemErrorText("cannot replace the recording file"));
    syncDirectory(directory);
    return {};
}

}  // namespace

std::string RecordedEvents::recordedEventsFileForComposition(const std::string& compositionPath) {
    if (compositionPath.empty()) return {};
    return deletingPathExtension(compositionPath) + "." + kRecordingExtension;
}

std::vector<RecordedEventEntry> RecordedEvents::recordedEventsArrayForComposition(
    const std::string& compositionPath, double* totalRecordingTime) {
    if (totalRecordingTime) *totalRecordingTime = 0;
    std::vector<RecordedEventEntry> entries;
    auto bytes = readRecordingFile(recordedEventsFileForComposition(compositionPath));
    if (!bytes) return entries;
    auto root = parsePropertyList(*bytes);
    const PlistDict* rootDict = root ? root->asDict() : nullptr;
    if (!rootDict) {
        reportUnreadable(describeAt(
            recordedEventsFileForComposition(compositionPath),
            root ? "holds no dictionary" : "is not a property list (or nests past 512 levels)"));
        return entries;
    }

    const PlistDict* take = dictUnder(dictUnder(rootDict, kTakesKey), kDefaultTakeKey);
    if (take) {
        entries.reserve(take->size());
        Point previousLocation{};
        for (const PlistDict::Entry* timed : entriesInTimeOrder(*take))
            entries.push_back(entryFrom(*timed, previousLocation));
    }
    if (totalRecordingTime) {
        const PlistValue* total = rootDict->find(kTotalSecKey);
        *totalRecordingTime = total ? total->doubleValue() : 0;
    }
    return entries;
}

Result<void> RecordedEvents::saveRecordedEventsArray(const std::vector<RecordedEventEntry>& entries,
                                                     double totalRecordingTime,
                                                     const std::string& compositionPath) {
    PlistDict takes;
    takes.set(kDefaultTakeKey, takeFrom(entries));
    PlistDict root;
    root.set(kTakesKey, std::move(takes));
    root.set(kTotalSecKey, totalRecordingTime);
    auto xml = xmlPropertyList(root);
    if (!xml)
        return errorAt(recordedEventsFileForComposition(compositionPath),
                       "the recording cannot be written as a property list");
    return writeAtomically(recordedEventsFileForComposition(compositionPath), *xml);
}

}  // namespace lumivane
