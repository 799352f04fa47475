// Chunk movies joined by LumivaneJoin against the movie of the whole render:
// the same container timing, and for lossless codecs the same frames.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "MediaTestSupport.h"
#include "MovieProbe.h"
#include "ProcessRunner.h"
#include "platform/media/MovieChunk.h"
#include "platform/media/MovieWriter.h"

namespace lumivane {
namespace {

using test::runProcess;
using test::TempDir;

constexpr int kWidth = 48;
constexpr int kHeight = 32;

struct Recipe {
    std::string fourcc = "png ";
    double framerate = 30.0;
    int quality = 2;
    int width = kWidth;
    int frames = -1;      // frames added; the chunk's count when -1
    bool rewrite = true;  // false: left fragmented, as a killed render leaves it
    std::string origin;   // what the chunk says it was rendered with
};

// Frames first..last of a render (or all `total` when there is no chunk),
// each frame the same image wherever it is written.
void writeMovie(const std::string& path, int first, int last, std::optional<MovieChunk> chunk,
                const Recipe& recipe = {}) {
    auto writer = MovieWriter::create(path, recipe.fourcc, recipe.quality, recipe.framerate,
                                      recipe.width, kHeight, chunk);
    ASSERT_TRUE(writer) << writer.error();
    const int frames = recipe.frames >= 0 ? recipe.frames : last - first + 1;
    for (int i = 0; i < frames; ++i) {
        auto added = (*writer)->addFrame(test::gradientFrame(recipe.width, kHeight, first - 1 + i));
        ASSERT_TRUE(added) << added.error();
    }
    auto finished = recipe.rewrite ? (*writer)->updateMovieFile() : (*writer)->finishFragments();
    ASSERT_TRUE(finished) << finished.error();
}

void writeChunk(const std::string& path, MovieChunk chunk, const Recipe& recipe = {}) {
    chunk.origin = recipe.origin;
    writeMovie(path, chunk.first, chunk.last, chunk, recipe);
}

test::ProcessResult join(const std::string& output, const std::vector<std::string>& pieces,
                         bool verify = false) {
    std::vector<std::string> argv = {LUMIVANE_JOIN_PROGRAM, "-o", output};
    if (verify) argv.insert(argv.begin() + 1, "--verify");
    argv.insert(argv.end(), pieces.begin(), pieces.end());
    return runProcess(argv);
}

// ffprobe's lines for the stream, the container and every packet, less what
// depends on the encoded bytes (sizes, rates, positions) and the file name.
std::string containerTiming(const std::string& path) {
    const auto probe =
        runProcess({"/usr/bin/ffprobe", "-v", "error", "-show_streams", "-show_format",
                    "-show_entries", "packet=pts,dts,duration", "-of", "flat", path});
    std::string kept;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        static const char* const kContent[] = {"size", "bit_rate", "filename", "pos", "extradata"};
        bool content = false;
        for (const char* word : kContent) content |= line.find(word) != std::string::npos;
        if (!content) kept += line + "\n";
    }
    return kept;
}

// Presentation times in display order, and decoding times in file order.
struct Times {
    std::vector<int64_t> pts;
    std::vector<int64_t> dts;
    std::vector<int64_t> durations;
};

Times packetTimes(const std::string& path) {
    const auto probe = runProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                   "packet=pts,dts,duration", "-of", "csv=p=0", path});
    Times times;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        int64_t pts = 0, dts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%ld,%ld,%ld", &pts, &dts, &duration) != 3) continue;
        times.pts.push_back(pts);
        times.dts.push_back(dts);
        times.durations.push_back(duration);
    }
    std::sort(times.pts.begin(), times.pts.end());
    return times;
}

struct Lossless {
    std::string fourcc;
    bool intraOnly;  // FFV1 carries its coder's state from frame to frame
    std::string extension = ".mov";
    int quality = 2;
};

class LosslessJoin : public testing::TestWithParam<Lossless> {};

// Lossless frames decode as the whole render's, in the same container
// timing; intra-only ones come out as the whole render wrote them, so the
// file is the same.
TEST_P(LosslessJoin, GivesTheWholeRendersMovie) {
    TempDir scratch;
    Recipe recipe;
    recipe.fourcc = GetParam().fourcc;
    recipe.quality = GetParam().quality;
    const auto file = [&](const std::string& name) {
        return scratch.file(name + GetParam().extension);
    };
    writeMovie(file("whole"), 1, 30, std::nullopt, recipe);
    writeChunk(file("c"), {26, 30, 30}, recipe);
    writeChunk(file("a"), {1, 1, 30}, recipe);
    writeChunk(file("b"), {2, 25, 30}, recipe);
    const auto joined = join(file("joined"), {file("c"), file("a"), file("b")}, true);
    ASSERT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(joined.err, "");
    EXPECT_EQ(containerTiming(file("joined")), containerTiming(file("whole")));
    const auto whole = test::decodeRGBA(file("whole"));
    ASSERT_EQ(whole.size(), size_t(30) * kWidth * kHeight * 4);
    EXPECT_TRUE(whole == test::decodeRGBA(file("joined")));
    if (GetParam().intraOnly) {
        // Byte for byte, container included.
        EXPECT_TRUE(test::readFile(file("whole")) == test::readFile(file("joined")));
    }
    const bool matroska = GetParam().extension == ".mkv" || GetParam().extension == ".webm";
    if (!matroska) {
        EXPECT_TRUE(test::isFinishedMovie(file("joined")));
    }
}

// Matroska's times are whole milliseconds: the pieces' must come out as the
// whole render's rounding, not as a sum of rounded durations.
INSTANTIATE_TEST_SUITE_P(Codecs, LosslessJoin,
                         testing::Values(Lossless{"png ", true}, Lossless{"FFV1", false},
                                         // x264's lossless level: pieces decode alike
                                         Lossless{"avc1", false, ".mp4", 5},
                                         Lossless{"FFV1", false, ".mkv"},
                                         Lossless{"vp09", false, ".webm", 5}),
                         [](const auto& info) {
                             return info.param.fourcc.substr(0, 3) + info.param.extension.substr(1);
                         });

// H.264 with B-frames: every piece is encoded on its own, so the bytes differ,
// but the frames sit and decode where the whole render's do, with the whole
// render's edit list; a piece too short to reorder anything joins as well.
TEST(AvcJoin, KeepsTheWholeRendersTiming) {
    TempDir scratch;
    Recipe recipe;
    recipe.fourcc = "avc1";
    writeMovie(scratch.file("whole.mov"), 1, 60, std::nullopt, recipe);
    writeChunk(scratch.file("a.mov"), {1, 2, 60}, recipe);
    writeChunk(scratch.file("b.mov"), {3, 40, 60}, recipe);
    writeChunk(scratch.file("c.mov"), {41, 60, 60}, recipe);
    const auto joined = join(scratch.file("joined.mov"),
                             {scratch.file("b.mov"), scratch.file("c.mov"), scratch.file("a.mov")});
    ASSERT_EQ(joined.status, 0) << joined.err;
    const Times whole = packetTimes(scratch.file("whole.mov"));
    const Times pieces = packetTimes(scratch.file("joined.mov"));
    ASSERT_EQ(whole.pts.size(), 60u);
    EXPECT_EQ(pieces.pts, whole.pts);
    EXPECT_EQ(pieces.dts, whole.dts);
    EXPECT_EQ(pieces.durations, whole.durations);
    auto stream = test::probeStream(scratch.file("joined.mov"));
    auto single = test::probeStream(scratch.file("whole.mov"));
    for (const char* key : {"time_base", "r_frame_rate", "codec_tag_string", "pix_fmt",
                            "color_space", "color_primaries", "color_transfer", "color_range",
                            "start_pts", "duration_ts", "nb_frames"}) {
        EXPECT_EQ(stream[key], single[key]) << key;
    }
    EXPECT_FALSE(stream["format"]["tags"].contains(kMovieChunkKey));
    EXPECT_EQ(test::decodedFrames(scratch.file("joined.mov")), 60);
    const auto decoded = test::decodeRGBA(scratch.file("joined.mov"));
    EXPECT_EQ(decoded.size(), size_t(60) * kWidth * kHeight * 4);
}

TEST(ChunkTag, SurvivesTheRewriteAndLeavesTheRestOfTheMovie) {
    TempDir scratch;
    writeChunk(scratch.file("chunk.mov"), {121, 180, 300});
    auto stream = test::probeStream(scratch.file("chunk.mov"));
    EXPECT_EQ(stream["format"]["tags"][kMovieChunkKey], "121-180/300");
    EXPECT_EQ(stream["nb_read_packets"], "60");
    EXPECT_TRUE(test::isFinishedMovie(scratch.file("chunk.mov")));
}

struct Refusal {
    const char* name;
    std::function<std::vector<std::string>(const TempDir&)> pieces;
    const char* reason;
};

// Pieces a.mov (1-10/30), b.mov (11-20/30), c.mov (21-30/30) are written
// alike; each case adds the odd one out.
std::string odd(const TempDir& scratch, MovieChunk chunk, const Recipe& recipe = {}) {
    writeChunk(scratch.file("odd.mov"), chunk, recipe);
    return scratch.file("odd.mov");
}

// b.mov (frames 11-20) as odd.mov, `keep` of its bytes left.
std::string cut(const TempDir& scratch, const std::function<size_t(size_t)>& keep) {
    const std::string bytes = test::readFile(scratch.file("b.mov"));
    test::writeFile(scratch.file("odd.mov"), bytes.substr(0, keep(bytes.size())));
    return scratch.file("odd.mov");
}

std::vector<std::string> withOdd(const TempDir& s) {
    return {s.file("a.mov"), s.file("odd.mov"), s.file("c.mov")};
}

// Two pieces of a render of 30 frames, the second with `origin`.
std::vector<std::string> originPair(const TempDir& s, const std::string& origin) {
    Recipe first, second;
    first.origin = "composition=5e1f\nmotion_blur=1\n";
    second.origin = origin;
    writeChunk(s.file("x.mov"), {1, 15, 30}, first);
    writeChunk(s.file("y.mov"), {16, 30, 30}, second);
    return {s.file("y.mov"), s.file("x.mov")};
}

std::vector<Refusal> damagedPieces() {
    return {
        {"CutByAByte",
         [](const TempDir& s) {
             cut(s, [](size_t n) { return n - 1; });
             return withOdd(s);
         },
         "odd.mov\": is cut short: frame 20 and what follows lie beyond its end"},
        {"LastFragmentCut",
         [](const TempDir& s) {
             Recipe killed;
             killed.rewrite = false;
             writeChunk(s.file("b.mov"), {11, 20, 30}, killed);
             // Past the fragment index at the end, into the last frame.
             cut(s, [](size_t n) { return n - 200; });
             return withOdd(s);
         },
         "odd.mov\": is cut short: frame 20 and what follows lie beyond its end"},
        {"CutByAKilobyte",
         [](const TempDir& s) {
             cut(s, [](size_t n) { return n - 1024; });
             return withOdd(s);
         },
         "odd.mov\": is cut short: frame "},
        {"CutInHalf",
         [](const TempDir& s) {
             cut(s, [](size_t n) { return n / 2; });
             return withOdd(s);
         },
         "odd.mov\": is cut short: frame "},
        {"Empty",
         [](const TempDir& s) {
             cut(s, [](size_t) { return 0; });
             return withOdd(s);
         },
         "odd.mov\": "},
        {"ADirectory",
         [](const TempDir& s) {
             std::filesystem::create_directory(s.file("odd.mov"));
             return withOdd(s);
         },
         "odd.mov\": is a directory, no movie"},
        {"AFifo",
         [](const TempDir& s) {
             ::mkfifo(s.file("odd.mov").c_str(), 0600);
             return withOdd(s);
         },
         "odd.mov\": is a FIFO, no movie"},
        {"ASymlinkLoop",
         [](const TempDir& s) {
             std::filesystem::create_symlink(s.file("odd.mov"), s.file("odd.mov"));
             return withOdd(s);
         },
         "odd.mov\": cannot be read: Too many levels of symbolic links"},
        {"ForeignOrigin",
         [](const TempDir& s) { return originPair(s, "composition=5e1f\nmotion_blur=4\n"); },
         "y.mov\": is a chunk of another render: rendered with motion_blur=4 where"},
        {"NoOrigin", [](const TempDir& s) { return originPair(s, ""); },
         "y.mov\": does not say how it was rendered"},
        {"OutputIsAPiece",
         [](const TempDir& s) {
             return std::vector<std::string>{"-o", s.file("b.mov"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "b.mov\": is the piece"},
        {"OutputIsAHardLinkToAPiece",
         [](const TempDir& s) {
             std::filesystem::create_hard_link(s.file("c.mov"), s.file("link.mov"));
             return std::vector<std::string>{"-o", s.file("link.mov"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "link.mov\": is the piece"},
        {"OutputIsASymlinkToAPiece",
         [](const TempDir& s) {
             std::filesystem::create_symlink(s.file("a.mov"), s.file("link.mov"));
             return std::vector<std::string>{"-o", s.file("link.mov"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "link.mov\": is the piece"},
    };
}

std::vector<Refusal> refusals() {
    Recipe jpeg, wider, slower, killed, fragmented;
    jpeg.fourcc = "jpeg";
    wider.width = kWidth + 16;
    slower.framerate = 25.0;
    killed.frames = 6;
    fragmented.frames = 4;
    fragmented.rewrite = false;
    return {
        {"NoTag",
         [](const TempDir& s) {
             writeMovie(s.file("odd.mov"), 21, 30, std::nullopt);
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"), s.file("odd.mov")};
         },
         "holds no chunk of a split render"},
        {"OtherTotal",
         [](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"),
                                             odd(s, {21, 30, 40})};
         },
         "is a chunk of 40 frames"},
        {"Gap",
         [](const TempDir& s) {
             return std::vector<std::string>{s.file("c.mov"), s.file("a.mov")};
         },
         "frames 11-20 are missing (between"},
        {"MissingEnd",
         [](const TempDir& s) {
             return std::vector<std::string>{s.file("b.mov"), s.file("a.mov")};
         },
         "frames 21-30 are missing (after"},
        {"Overlap",
         [](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), odd(s, {8, 20, 30}), s.file("c.mov")};
         },
         "overlap (frames 8-10)"},
        {"SamePieceTwice",
         [](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"), s.file("b.mov"),
                                             s.file("c.mov")};
         },
         "overlap (frames 11-20)"},
        {"StoppedEarly",
         [killed](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), odd(s, {11, 20, 30}, killed),
                                             s.file("c.mov")};
         },
         "holds 6 frames where its tag (11-20/30) says 10"},
        {"KilledFragmented",
         [fragmented](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), odd(s, {11, 20, 30}, fragmented),
                                             s.file("c.mov")};
         },
         "holds 4 frames where its tag (11-20/30) says 10"},
        {"OtherCodec",
         [jpeg](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"),
                                             odd(s, {21, 30, 30}, jpeg)};
         },
         "has codec mjpeg (not png)"},
        {"OtherSize",
         [wider](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"),
                                             odd(s, {21, 30, 30}, wider)};
         },
         "has size 64x32 (not 48x32)"},
        {"OtherFrameRate",
         [slower](const TempDir& s) {
             return std::vector<std::string>{s.file("a.mov"), s.file("b.mov"),
                                             odd(s, {21, 30, 30}, slower)};
         },
         "has time base 1/15000 (not 1/18000)"},
        {"OtherEncoderSettings",
         [](const TempDir& s) {
             Recipe coarse, fine;
             coarse.fourcc = fine.fourcc = "avc1";
             fine.quality = 4;
             writeChunk(s.file("x.mov"), {1, 15, 30}, coarse);
             writeChunk(s.file("y.mov"), {16, 30, 30}, fine);
             return std::vector<std::string>{s.file("y.mov"), s.file("x.mov")};
         },
         "y.mov\": has other encoder settings (its codec header differs) than"},
        {"OutputIsADirectory",
         [](const TempDir& s) {
             std::filesystem::create_directory(s.file("out.mov.d"));
             return std::vector<std::string>{"-o", s.file("out.mov.d"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "out.mov.d\": is no file a movie can replace"},
        {"OutputInAnotherContainer",
         [](const TempDir& s) {
             return std::vector<std::string>{"-o", s.file("out.webm"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "a.mov\": is a QuickTime or MP4 movie, and the join writes WebM"},
        {"OutputIsAGif",
         [](const TempDir& s) {
             return std::vector<std::string>{"-o", s.file("out.gif"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "out.gif\": GIF and WebP pictures are not joined"},
        {"OutputDirectoryMissing",
         [](const TempDir& s) {
             return std::vector<std::string>{"-o", s.file("none/out.mov"), s.file("a.mov"),
                                             s.file("b.mov"), s.file("c.mov")};
         },
         "none/out.mov\": its directory does not exist"},
        {"NoMovie",
         [](const TempDir& s) {
             test::writeFile(s.file("odd.mov"), "not a movie");
             return std::vector<std::string>{s.file("a.mov"), s.file("odd.mov")};
         },
         "odd.mov\": "},
    };
}

// Name -> bytes of every regular file in the directory; FIFOs and links are
// not read.
std::map<std::string, std::string> regularFiles(const TempDir& scratch) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        std::error_code error;
        if (entry.is_regular_file(error) && !entry.is_symlink(error)) {
            files[entry.path().filename().string()] = test::readFile(entry.path().string());
        }
    }
    return files;
}

class JoinRefusal : public testing::TestWithParam<Refusal> {};

// A refusal names what is wrong in one line and leaves the output alone.
TEST_P(JoinRefusal, NamesTheFaultAndLeavesTheOutput) {
    TempDir scratch;
    writeChunk(scratch.file("a.mov"), {1, 10, 30});
    writeChunk(scratch.file("b.mov"), {11, 20, 30});
    writeChunk(scratch.file("c.mov"), {21, 30, 30});
    std::vector<std::string> pieces = GetParam().pieces(scratch);
    std::string output = scratch.file("out.mov");
    if (pieces.front() == "-o") {  // a case of its own output
        output = pieces[1];
        pieces.erase(pieces.begin(), pieces.begin() + 2);
    }
    test::writeFile(scratch.file("out.mov"), "an older movie");
    const auto before = regularFiles(scratch);
    const auto joined = join(output, pieces);
    EXPECT_EQ(joined.status, 1);
    EXPECT_EQ(joined.err.rfind("LumivaneJoin: ", 0), 0u) << joined.err;
    EXPECT_NE(joined.err.find(GetParam().reason), std::string::npos) << joined.err;
    EXPECT_EQ(std::count(joined.err.begin(), joined.err.end(), '\n'), 1) << joined.err;
    // The output and every piece as they were, and nothing left beside them.
    EXPECT_TRUE(regularFiles(scratch) == before);
}

INSTANTIATE_TEST_SUITE_P(Pieces, JoinRefusal, testing::ValuesIn(refusals()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Damaged, JoinRefusal, testing::ValuesIn(damagedPieces()),
                         [](const auto& info) { return std::string(info.param.name); });

// The joined movie takes the place of an older one whole, with its mode, and
// leftovers of a join killed before its rename go.
TEST(JoinOutput, ReplacesTheOlderMovieAndItsLeftovers) {
    TempDir scratch;
    writeChunk(scratch.file("a.mov"), {1, 4, 8});
    writeChunk(scratch.file("b.mov"), {5, 8, 8});
    test::writeFile(scratch.file("out.mov"), "an older movie");
    ::chmod(scratch.file("out.mov").c_str(), 0640);
    test::writeFile(scratch.file(".out.mov.rewrite-Ab12Cd"), "a killed join's");
    const auto joined =
        join(scratch.file("out.mov"), {scratch.file("b.mov"), scratch.file("a.mov")});
    ASSERT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(test::decodedFrames(scratch.file("out.mov")), 8);
    struct stat made {};
    ASSERT_EQ(::stat(scratch.file("out.mov").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0640u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.mov", "b.mov", "out.mov"}));
}

// A frame damaged inside keeps its size, so only decoding finds it: --verify
// refuses the join and leaves the output as it was.
TEST(JoinVerify, DecodesEveryFrameOfTheResult) {
    TempDir scratch;
    writeChunk(scratch.file("a.mov"), {1, 5, 10});
    writeChunk(scratch.file("b.mov"), {6, 10, 10});
    std::string bytes = test::readFile(scratch.file("b.mov"));
    bytes.replace(bytes.size() - 200, 64, std::string(64, '\x5a'));  // inside the last frame
    test::writeFile(scratch.file("b.mov"), bytes);
    const std::vector<std::string> pieces = {scratch.file("a.mov"), scratch.file("b.mov")};
    const auto verified = join(scratch.file("out.mov"), pieces, true);
    EXPECT_EQ(verified.status, 1);
    EXPECT_NE(verified.err.find("frame 10 does not decode"), std::string::npos) << verified.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.file("out.mov")));
    EXPECT_EQ(join(scratch.file("out.mov"), pieces).status, 0);
}

TEST(JoinUsage, RefusesIncompleteCommandLines) {
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {LUMIVANE_JOIN_PROGRAM},
             {LUMIVANE_JOIN_PROGRAM, "-o", "out.mov"},
             {LUMIVANE_JOIN_PROGRAM, "--sequence", "frames"},
             {LUMIVANE_JOIN_PROGRAM, "--sequence", "frames", "12x"},
             {LUMIVANE_JOIN_PROGRAM, "--frames", "1-2"}}) {
        const auto run = runProcess(argv);
        EXPECT_EQ(run.status, 2) << argv.back();
        EXPECT_EQ(run.err.rfind("LumivaneJoin: ", 0), 0u) << run.err;
    }
    const auto help = runProcess({LUMIVANE_JOIN_PROGRAM, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: LumivaneJoin [--verify] -o OUTPUT PIECE...", 0), 0u)
        << help.out;
}

TEST(ChunkText, ReadsOnlyRangesOfARender) {
    EXPECT_EQ(parseMovieChunk("121-180/300").value(), (MovieChunk{121, 180, 300}));
    EXPECT_EQ(movieChunkText({1, 1, 1}), "1-1/1");
    for (const char* bad : {"", "1-2", "0-2/3", "3-2/3", "1-4/3", "1-2/3 ", "+1-2/3", "1--2/3",
                            "1-2/99999999999", "a-b/c", "1/2-3"}) {
        EXPECT_FALSE(parseMovieChunk(bad)) << bad;
    }
}

}  // namespace
}  // namespace lumivane
