#include "platform/media/ImageSequenceCheck.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/media/ImageSequence.h"

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

void note(Findings& findings, const std::string& name, const SequenceFileName& entry, int digits) {
    if (entry.partial) {
        findings.partials.insert(name);
        return;
    }
    const int frameCount = int(findings.present.size()) - 1;
    const bool padded = entry.number.size() == size_t(digits);
    const long long number = entry.number.size() > 9 ? -1 : std::stoll(entry.number);
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
        if (auto entry = parseSequenceFileName(name)) note(findings, name, *entry, digits);
    }
    if (error) return errorAt(directory, "cannot be read (" + error.message() + ")");
    const std::string problems = report(findings);
    if (!problems.empty()) return errorAt(directory, problems);
    return {};
}

}  // namespace lumivane
