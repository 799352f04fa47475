#include "platform/media/ImageSequenceCheck.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/media/ImageSequence.h"

namespace lumivane {
namespace {

// What a name in the directory is to the sequence.
struct Entry {
    enum Kind { Other, Frame, Partial } kind = Other;
    std::string digits;
    std::string extension;
};

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "Image-<digits>.<extension>" and ".Image-<digits>.partial-<pid>.<extension>".
Entry classify(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    const std::string extension = name.substr(dot + 1);
    if (!isImageSequenceExtension(extension)) return {};
    std::string stem = name.substr(0, dot);
    Entry::Kind kind = Entry::Frame;
    if (stem.rfind(".Image-", 0) == 0) {
        const size_t partial = stem.rfind(".partial-");
        if (partial == std::string::npos || !allDigits(stem.substr(partial + 9))) return {};
        stem = stem.substr(1, partial - 1);
        kind = Entry::Partial;
    }
    if (stem.rfind("Image-", 0) != 0 || !allDigits(stem.substr(6))) return {};
    return Entry{kind, stem.substr(6), extension};
}

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

std::string namesText(const std::set<std::string>& names) {
    std::string text;
    int shown = 0;
    for (const std::string& name : names) {
        if (shown++ == 5) return text + ", ...";
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

struct Findings {
    std::vector<bool> present;
    std::set<std::string> extensions;
    std::set<std::string> partials;
    std::set<std::string> beyond;
};

void note(Findings& findings, const std::string& name, const Entry& entry, int digits) {
    if (entry.kind == Entry::Partial) {
        findings.partials.insert(name);
        return;
    }
    const int frameCount = int(findings.present.size()) - 1;
    const bool padded = entry.digits.size() == size_t(digits);
    const long long number = entry.digits.size() > 9 ? -1 : std::stoll(entry.digits);
    if (padded && number >= 1 && number <= frameCount) {
        findings.present[size_t(number)] = true;
        findings.extensions.insert(entry.extension);
    } else {
        // Also a frame numbered for a render of another length: its digits say so.
        findings.beyond.insert(name);
    }
}

std::string report(const Findings& findings) {
    std::vector<int> missing;
    for (size_t n = 1; n < findings.present.size(); ++n) {
        if (!findings.present[n]) missing.push_back(int(n));
    }
    std::vector<std::string> problems;
    if (!missing.empty()) {
        problems.push_back((missing.size() == 1 ? "frame " : "frames ") + rangesText(missing) +
                           (missing.size() == 1 ? " is" : " are") + " missing");
    }
    if (!findings.partials.empty()) {
        problems.push_back("frames left half written: " + namesText(findings.partials));
    }
    if (!findings.beyond.empty()) {
        problems.push_back("files that are no frame 1-" +
                           std::to_string(findings.present.size() - 1) + ": " +
                           namesText(findings.beyond));
    }
    if (findings.extensions.size() > 1) {
        problems.push_back("frames in more than one format: " + namesText(findings.extensions));
    }
    std::string text;
    for (const std::string& problem : problems) text += (text.empty() ? "" : "; ") + problem;
    return text;
}

}  // namespace

Result<void> ImageSequenceCheck::check(const std::string& directory, int frameCount) {
    if (frameCount < 1) return errorAt(directory, "a sequence holds at least one frame");
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        return errorAt(directory, "is no directory");
    }
    Findings findings;
    findings.present.assign(size_t(frameCount) + 1, false);
    const int digits = sequenceDigitCount(frameCount);
    std::filesystem::directory_iterator entries(directory, error), end;
    for (; !error && entries != end; entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const Entry entry = classify(name);
        if (entry.kind != Entry::Other) note(findings, name, entry, digits);
    }
    if (error) return errorAt(directory, "cannot be read (" + error.message() + ")");
    const std::string problems = report(findings);
    if (!problems.empty()) return errorAt(directory, problems);
    return {};
}

}  // namespace lumivane
