// LumivaneJoin --sequence on directories that chunk renders left: only a
// directory holding every frame once, named as the writer names them, passes.
#include <gtest/gtest.h>

#include <filesystem>

#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::runProcess;
using test::TempDir;

void touch(const TempDir& scratch, const std::string& name) {
    test::writeFile(scratch.file(name), "frame");
}

// Frames 1..count, 0-padded to `digits`, except those in `skipped`.
void writeFrames(const TempDir& scratch, int count, int digits, const std::string& extension,
                 const std::vector<int>& skipped = {}) {
    for (int n = 1; n <= count; ++n) {
        if (std::find(skipped.begin(), skipped.end(), n) != skipped.end()) continue;
        char name[64];
        std::snprintf(name, sizeof name, "Image-%0*d.%s", digits, n, extension.c_str());
        touch(scratch, name);
    }
}

test::ProcessResult check(const TempDir& scratch, int count) {
    return runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", scratch.path(), std::to_string(count)});
}

struct Case {
    const char* name;
    int count;
    std::function<void(const TempDir&)> fill;
    const char* reason;  // empty: the sequence is whole
};

std::vector<Case> cases() {
    return {
        {"Whole", 120, [](const TempDir& s) { writeFrames(s, 120, 3, "png"); }, ""},
        {"WholeBesideOtherFiles", 9,
         [](const TempDir& s) {
             writeFrames(s, 9, 1, "exr");
             touch(s, "slurm-12.out");
             touch(s, "Image-notes.txt");
         },
         ""},
        {"MissingRanges", 300,
         [](const TempDir& s) {
             writeFrames(s, 300, 3, "jpg", {1, 121, 122, 150, 300});
         },
         "frames 1, 121-122, 150, 300 are missing"},
        {"OneMissing", 10, [](const TempDir& s) { writeFrames(s, 10, 2, "png", {7}); },
         "frame 7 is missing"},
        {"PartialLeftOver", 10,
         [](const TempDir& s) {
             writeFrames(s, 10, 2, "png");
             touch(s, ".Image-04.partial-4242.png");
         },
         "frames left half written: .Image-04.partial-4242.png"},
        {"BeyondTheCount", 10,
         [](const TempDir& s) {
             writeFrames(s, 10, 2, "tiff");
             touch(s, "Image-11.tiff");
         },
         "files that are no frame 1-10: Image-11.tiff"},
        {"PaddedForAnotherCount", 10, [](const TempDir& s) { writeFrames(s, 10, 3, "png"); },
         "frames 1-10 are missing; files that are no frame 1-10: Image-001.png"},
        {"TwoFormats", 4,
         [](const TempDir& s) {
             writeFrames(s, 4, 1, "png");
             touch(s, "Image-2.jpg");
         },
         "frames in more than one format: jpg, png"},
    };
}

class SequenceCheck : public testing::TestWithParam<Case> {};

TEST_P(SequenceCheck, PassesOnlyAWholeSequence) {
    TempDir scratch;
    GetParam().fill(scratch);
    const auto run = check(scratch, GetParam().count);
    const std::string reason = GetParam().reason;
    if (reason.empty()) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("LumivaneJoin: \"" + scratch.path() + "\": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Directories, SequenceCheck, testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SequenceCheckDirectory, MustExist) {
    TempDir scratch;
    const auto run =
        runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", scratch.file("nowhere"), "10"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("nowhere\": is no directory"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace lumivane
