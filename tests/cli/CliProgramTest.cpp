// The LumivaneCLI program as users and scripts see it: exact output and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "HostileDocuments.h"
#include "ProcessRunner.h"

namespace lumivane {
namespace {

using test::runProcess;

const std::string kUsageTail = " [options] [Composition File]\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(CliProgram, NoArgumentsPrintsBannerAndHelp) {
    auto r = runProcess({test::cliPath()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Lumivane 2.1 (20140915 X86)\t", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, "usage: " + test::cliPath() + kUsageTail));
    EXPECT_TRUE(contains(r.out, "Where Options are as follows:\n"));
    // The help text ends with its last option line and one line feed.
    EXPECT_TRUE(r.out.ends_with("   * -v\t\t\tincreases verbosity.  Default is 0 (no output).\n"));
    EXPECT_TRUE(r.err.empty());
}

// The README's usage block is the help text itself, so the two cannot drift.
TEST(CliProgram, ReadmeShowsTheHelpTextAsItIs) {
    const std::string readme = test::readFile(std::string(LUMIVANE_SOURCE_DIR) + "/README.md");
    const std::string opening = "```\nusage: LumivaneCLI";
    const size_t start = readme.find(opening);
    ASSERT_NE(start, std::string::npos) << "README has no usage block";
    const size_t end = readme.find("```", start + 3);
    ASSERT_NE(end, std::string::npos);
    const std::string block = readme.substr(start + 4, end - start - 4);

    auto help = runProcess({test::cliPath(), "--help"});
    std::string text = help.out;
    const std::string programUsage = "usage: " + test::cliPath();
    ASSERT_EQ(text.rfind(programUsage, 0), 0u);
    text.replace(0, programUsage.size(), "usage: LumivaneCLI");
    EXPECT_EQ(block, text);
}

TEST(CliProgram, HelpAndVersionExitWith255) {
    auto help = runProcess({test::cliPath(), "--help"});
    EXPECT_EQ(help.status, 255);
    EXPECT_EQ(help.out.rfind("usage: ", 0), 0u) << "no banner before the usage line";
    EXPECT_TRUE(help.err.empty());

    auto version = runProcess({test::cliPath(), "--version"});
    EXPECT_EQ(version.status, 255);
    EXPECT_EQ(version.out.rfind("Lumivane 2.1 (20140915 X86)", 0), 0u);
    EXPECT_TRUE(contains(version.out, "usage: "));

    EXPECT_EQ(runProcess({test::cliPath(), "-help"}).status, 255);
    EXPECT_EQ(runProcess({test::cliPath(), "-version"}).status, 255);
}

TEST(CliProgram, OptionErrorsGoToStandardErrorBeforeTheHelp) {
    auto r = runProcess({test::cliPath(), "-w", "0", "scene.qtz"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Width must be positive (and non-zero)\n");
    EXPECT_TRUE(contains(r.out, "usage: "));

    auto trailing = runProcess({test::cliPath(), "scene.qtz", "-o"});
    EXPECT_EQ(trailing.status, 255);
    EXPECT_EQ(trailing.err, "Unrecognized option [-o]\n");

    auto none = runProcess({test::cliPath(), "-v"});
    EXPECT_EQ(none.status, 255);
    EXPECT_EQ(none.err, "No composition file specified\n");
}

TEST(CliProgram, CodecListEndsTheProcess) {
    auto r = runProcess({test::cliPath(), "-c", "help", "-w", "0", "more", "args"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Available codecs:\n", 0), 0u);
    for (const char* code : {"avc1", "mp4v", "jpeg"})
        EXPECT_TRUE(contains(r.out, std::string("   * use \"") + code + "\" for ")) << code;
    for (const char* skipped : {"\"h263\"", "\"SVQ1\"", "\"yuv2\"", "\"tga \""})
        EXPECT_FALSE(contains(r.out, skipped)) << skipped;
    EXPECT_TRUE(
        r.out.ends_with("Available Image Sequence formats:\n"
                        "   * use \"public.jpeg\" for JPEG sequences\n"
                        "   * use \"public.jpeg-2000\" for JPEG-2000 sequences\n"
                        "   * use \"public.png\" for PNG sequences\n"
                        "   * use \"public.tiff\" for TIFF sequences\n"
                        "   * use \"com.ilm.openexr-image\" for OpenEXR sequences\n"));
    EXPECT_EQ(runProcess({test::cliPath(), "-c", "helpme"}).status, 0);
}

TEST(CliProgram, UnloadableCompositionFailsTheRender) {
    test::TempDir dir;
    auto r = runProcess({test::cliPath(), "-e", "take.qtz", "-s", "2", "-o", dir.file("x.mov"),
                         dir.file("missing.qtz")});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(contains(
        r.err, "LumivaneCLI: Failed to load composition [" + dir.file("missing.qtz") + "]\n"));
    EXPECT_TRUE(r.err.ends_with("] rendering failed\n")) << r.err;
}

// Documents built to crash or exhaust the renderer fail it with a line that
// says what is wrong; a recording no one could have made replays as none.
TEST(CliProgram, HostileDocumentsFailWithAReasonOrReplayAsNoRecording) {
    test::TempDir dir;
    const std::string body = "*/\nvoid main() { gl_FragColor = vec4(1.0); }\n";
    test::writeFile(dir.file("plain.qtz"), "/*{}" + body);
    test::writeFile(dir.file("deep.qtz"),
                    "/*{\"INPUTS\": [{\"NAME\": \"m\", \"TYPE\": \"long\", \"LABELS\": " +
                        test::deepJsonArray(100000) + "}]}" + body);
    test::writeFile(dir.file("huge.qtz"),
                    "/*{\"PASSES\": [{\"TARGET\": \"t\", \"WIDTH\": "
                    "\"$WIDTH * 1000\", \"HEIGHT\": \"100000\", "
                    "\"FLOAT\": true}, {}]}" +
                        body);
    std::filesystem::create_directory(dir.file("folder.qtz"));
    const auto deepBinary = test::deepBinaryPropertyList(100000);
    test::writeFile(dir.file("binary.QCRecording"),
                    std::string(deepBinary.begin(), deepBinary.end()));
    test::writeFile(dir.file("xml.QCRecording"), test::deepXmlPropertyList(200000));
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {{dir.file("deep.qtz")}, 254, "more than 512 deep"},
        {{dir.file("folder.qtz")}, 254, "folder.qtz\": is not a regular file but a directory"},
        {{dir.file("huge.qtz")}, 254, "cannot draw into \"t\""},
        {{"-e", dir.file("binary.QCRecording"), dir.file("plain.qtz")}, 0, ""},
        {{"-e", dir.file("xml.QCRecording"), dir.file("plain.qtz")}, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {
            test::cliPath(), "-w", "8", "-h", "8", "-d", "0.1", "-c", "public.png", "-o",
            dir.file("out")};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        auto r = runProcess(argv, test::withTimeout(120));
        EXPECT_EQ(r.status, c.status) << c.arguments.back() << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.said)) << r.err;
    }
}

TEST(CliProgram, LinkModeNeedsExactlyTwoArguments) {
    auto r = runProcess({test::cliPath(), "QCServerConnection", "net.orbek.Lumivane.0.nobody"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(
        contains(r.err, "Failed to connect to Lumivane Service [net.orbek.Lumivane.0.nobody]"));
    EXPECT_TRUE(contains(r.out, "usage: "));

    auto three = runProcess({test::cliPath(), "QCServerConnection", "name", "third"});
    EXPECT_EQ(three.status, 255);
    EXPECT_EQ(three.err, "Only one composition can be specified [name]\n");
}

}  // namespace
}  // namespace lumivane
