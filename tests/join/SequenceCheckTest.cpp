// LumivaneJoin --sequence on directories that chunk renders left: only a
// directory holding every frame once, named as the writer names them, each a
// whole image of the first frame's size, from one render, passes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

#include "ProcessRunner.h"
#include "platform/media/ImageSequenceWriter.h"
#include "platform/media/SequenceManifest.h"

namespace lumivane {
namespace {

using test::runProcess;
using test::TempDir;

// A frame of noise (so it does not compress to nothing) written by the
// sequence writer; one file's bytes per extension and width.
std::string frameBytes(const std::string& extension, int width = 32) {
    static std::map<std::pair<std::string, int>, std::string> made;
    std::string& bytes = made[{extension, width}];
    if (!bytes.empty()) return bytes;
    static const std::map<std::string, std::string> kTypes = {{"png", "public.png"},
                                                              {"jpg", "public.jpeg"},
                                                              {"tiff", "public.tiff"},
                                                              {"exr", "com.ilm.openexr-image"}};
    TempDir scratch;
    auto writer = ImageSequenceWriter::open(scratch.path(), kTypes.at(extension), 1, 3);
    EXPECT_TRUE(writer) << writer.error();
    ImageRGBA8 frame{width, 32, std::vector<uint8_t>(size_t(width) * 32 * 4)};
    std::mt19937 noise(7);
    for (uint8_t& value : frame.pixels) value = uint8_t(noise());
    auto written = (*writer)->writeFrame(0, frame);
    EXPECT_TRUE(written) << written.error();
    bytes = test::readFile((*writer)->pathForFrame(0));
    return bytes;
}

void touch(const TempDir& scratch, const std::string& name, const std::string& bytes = "frame") {
    test::writeFile(scratch.file(name), bytes);
}

// Frames 1..count, 0-padded to `digits`, except those in `skipped`.
void writeFrames(const TempDir& scratch, int count, int digits, const std::string& extension,
                 const std::vector<int>& skipped = {}) {
    for (int n = 1; n <= count; ++n) {
        if (std::find(skipped.begin(), skipped.end(), n) != skipped.end()) continue;
        char name[64];
        std::snprintf(name, sizeof name, "Image-%0*d.%s", digits, n, extension.c_str());
        touch(scratch, name, frameBytes(extension));
    }
}

// Ten PNG frames with frame 4 replaced by what `damage` puts there.
std::function<void(const TempDir&)> damaged(std::function<void(const std::string&)> damage) {
    return [damage](const TempDir& s) {
        writeFrames(s, 10, 2, "png", {4});
        damage(s.file("Image-04.png"));
    };
}

std::function<void(const std::string&)> cutTo(std::function<size_t(size_t)> keep) {
    return [keep](const std::string& path) {
        const std::string bytes = frameBytes("png");
        test::writeFile(path, bytes.substr(0, keep(bytes.size())));
    };
}

// Two chunks' manifests beside whole frames.
std::function<void(const TempDir&)> chunks(const std::string& origin, int total = 10) {
    return [origin, total](const TempDir& s) {
        writeFrames(s, 10, 2, "png");
        EXPECT_TRUE(
            SequenceManifest::write(s.path(), {1, 5, 10, "composition=5e1f\nantialias=1\n"}));
        EXPECT_TRUE(SequenceManifest::write(s.path(), {6, 10, total, origin}));
    };
}

test::ProcessResult check(const TempDir& scratch, int count) {
    return runProcess({LUMIVANE_JOIN_PROGRAM, "--sequence", scratch.path(), std::to_string(count)});
}

struct Case {
    const char* name;
    int count;
    std::function<void(const TempDir&)> fill;
    std::string reason;  // empty: the sequence is whole
};

std::vector<Case> cases() {
    const std::string bad = "frame 4 is bad: Image-04.png ";
    return {
        {"Whole", 120, [](const TempDir& s) { writeFrames(s, 120, 3, "png"); }, ""},
        {"WholeBesideOtherFiles", 9,
         [](const TempDir& s) {
             writeFrames(s, 9, 1, "exr");
             touch(s, "slurm-12.out");
             touch(s, "Image-notes.txt");
         },
         ""},
        {"WholeChunks", 10, chunks("composition=5e1f\nantialias=1\n"), ""},
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
             touch(s, "Image-2.jpg", frameBytes("jpg"));
         },
         "frames in more than one format: jpg, png"},
        {"CutByAByte", 10, damaged(cutTo([](size_t n) { return n - 1; })), bad + "is cut short"},
        {"CutByAKilobyte", 10, damaged(cutTo([](size_t n) { return n - 1024; })),
         bad + "is cut short"},
        {"CutInHalf", 10, damaged(cutTo([](size_t n) { return n / 2; })), bad + "is cut short"},
        {"Empty", 10, damaged(cutTo([](size_t) { return 0; })), bad + "is empty"},
        {"Garbage", 10,
         damaged([](const std::string& path) { test::writeFile(path, std::string(4000, 'x')); }),
         bad},
        {"OtherSize", 10,
         damaged([](const std::string& path) { test::writeFile(path, frameBytes("png", 48)); }),
         bad + "is 48x32, 4 channels, not 32x32, 4 channels"},
        {"ADirectory", 10,
         damaged([](const std::string& path) { std::filesystem::create_directory(path); }),
         bad + "is a directory"},
        {"AFifo", 10, damaged([](const std::string& path) { ::mkfifo(path.c_str(), 0600); }),
         bad + "is no regular file"},
        {"ADanglingSymlink", 10, damaged([](const std::string& path) {
             std::filesystem::create_symlink(path + ".gone", path);
         }),
         bad + "is a symbolic link that leads to no file"},
        {"ASymlinkLoop", 10,
         damaged([](const std::string& path) { std::filesystem::create_symlink(path, path); }),
         bad + "is a symbolic link that leads to no file"},
        {"ForeignOrigin", 10, chunks("composition=5e1f\nantialias=4\n"),
         ".lumivane-chunk-6-10.txt is a chunk of another render: rendered with antialias=4 where "
         ".lumivane-chunk-1-5.txt has 1"},
        {"ChunkOfAnotherLength", 10, chunks("composition=5e1f\nantialias=1\n", 20),
         ".lumivane-chunk-6-10.txt is a chunk of a render of 20 frames"},
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
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
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
