#include "shared/RecordedEvents.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "HostileDocuments.h"
#include "ProcessRunner.h"
#include "base/PlistValue.h"
#include "platform/events/OBEvent.h"
#include "shared/EventPropertyList.h"

namespace lumivane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

RecordedEventEntry entryAt(double time, std::shared_ptr<const Event> event, Point mouse = {}) {
    return {std::move(event), mouse, time};
}

std::shared_ptr<const Event> click(Point at) {
    return OBEvent::mouseEventWithType(NSLeftMouseDown, at, 0, 0, 0, 1, 1, 1);
}

std::shared_ptr<const Event> key(const char* characters) {
    return OBEvent::keyEventWithType(NSKeyDown, {}, 0, 0, 0, characters, characters, false, 0);
}

// A recording file written from a property-list value, for the loader.
class RecordingFile : public ::testing::Test {
protected:
    std::string composition() const { return m_dir.file("take.qtz"); }
    std::string recording() const { return m_dir.file("take.QCRecording"); }
    void writeRecording(const PlistValue& root) { writeFile(recording(), *xmlPropertyList(root)); }
    std::vector<RecordedEventEntry> load(double& total) {
        return RecordedEvents::recordedEventsArrayForComposition(composition(), &total);
    }
    PlistValue savedRoot() { return *parsePropertyList(readFile(recording())); }

    TempDir m_dir;
};

PlistValue rootWithTake(PlistDict take, std::optional<double> total = 1.0) {
    PlistDict root{{"takes", PlistDict{{"default", std::move(take)}}}};
    if (total) root.set("totalSec", *total);
    return PlistValue(std::move(root));
}

PlistDict keyPlist(const char* characters) {
    return PlistDict{{"type", "NSKeyDown"},
                     {"characters", characters},
                     {"QCRendererMouseLocationKey", "{0.5, 0.25}"}};
}

// --- file names -------------------------------------------------------------------

TEST(RecordingFileName, ReplacesOnlyTheLastExtensionOfTheLastComponent) {
    auto name = RecordedEvents::recordedEventsFileForComposition;
    EXPECT_EQ(name("/tmp/scene.qtz"), "/tmp/scene.QCRecording");
    EXPECT_EQ(name("scene.final.qtz"), "scene.final.QCRecording");
    EXPECT_EQ(name("take"), "take.QCRecording");
    EXPECT_EQ(name("a/b.c/d"), "a/b.c/d.QCRecording");
    EXPECT_EQ(name("dir/.hidden"), "dir/.hidden.QCRecording");
    EXPECT_EQ(name("scene.qtz/"), "scene.QCRecording");
    EXPECT_EQ(name("take.qtz"), name("take.QCRecording"));
    EXPECT_EQ(name(""), "");
}

// --- loading --------------------------------------------------------------------------

TEST_F(RecordingFile, TimeKeysLoadInNumericOrder) {
    PlistDict take;
    for (const char* time : {"10", "2", "9", "0.5", "1e-3"}) take.set(time, keyPlist(time));
    writeRecording(rootWithTake(take, 12.5));
    double total = -1;
    auto entries = load(total);
    ASSERT_EQ(entries.size(), 5u);
    std::vector<double> times;
    for (const auto& entry : entries) times.push_back(*entry.eventTime);
    EXPECT_EQ(times, (std::vector<double>{0.001, 0.5, 2, 9, 10}));
    EXPECT_EQ(entries[0].event->characters(), "1e-3");
    EXPECT_EQ(entries[0].mouseLocation, (Point{0.5f, 0.25f}));
    EXPECT_EQ(total, 12.5);
}

TEST_F(RecordingFile, KeysThatAreNotNumbersComeLastByText) {
    PlistDict take;
    for (const char* time : {"zz", "3", "abc", "1"}) take.set(time, keyPlist(time));
    writeRecording(rootWithTake(take));
    double total = 0;
    auto entries = load(total);
    ASSERT_EQ(entries.size(), 4u);
    std::vector<std::string> order;
    for (const auto& entry : entries) order.push_back(*entry.event->characters());
    EXPECT_EQ(order, (std::vector<std::string>{"1", "3", "abc", "zz"}));
    EXPECT_EQ(*entries[2].eventTime, 0);  // the text's own number
}

TEST_F(RecordingFile, EventsWithoutLocationFollowThePreviousRebuiltEvent) {
    PlistDict take;
    take.set("0", keyPlist("first"));
    take.set("1", PlistDict{{"type", "NSLeftMouseDown"}, {"locationInWindow", "{120, 80}"}});
    take.set("2", PlistDict{{"type", "NSBogus"}, {"locationInWindow", "{5, 5}"}});
    take.set("3", keyPlist("second"));
    writeRecording(rootWithTake(take));
    double total = 0;
    ::testing::internal::CaptureStderr();
    auto entries = load(total);
    std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].event->locationInWindow(), (Point{0, 0}));
    EXPECT_FALSE(entries[2].event);  // kept in place, without an event
    EXPECT_EQ(*entries[2].eventTime, 2);
    EXPECT_EQ(entries[3].event->locationInWindow(), (Point{120, 80}));
    EXPECT_NE(log.find("Error creating event"), std::string::npos);
}

TEST_F(RecordingFile, MissingLevelsAndTotals) {
    double total = -1;
    writeRecording(
        PlistValue(PlistDict{{"takes", PlistDict{{"other", PlistDict{}}}}, {"totalSec", 4.5}}));
    EXPECT_TRUE(load(total).empty());
    EXPECT_EQ(total, 4.5);

    writeRecording(rootWithTake(PlistDict{{"1", keyPlist("k")}}, std::nullopt));
    EXPECT_EQ(load(total).size(), 1u);
    EXPECT_EQ(total, 0);

    writeRecording(PlistValue(PlistDict{{"takes", "not a dict"}, {"totalSec", "2.5"}}));
    EXPECT_TRUE(load(total).empty());
    EXPECT_EQ(total, 2.5);
}

TEST_F(RecordingFile, UnreadableFilesAreNoRecording) {
    double total = -1;
    EXPECT_TRUE(load(total).empty());  // no file
    EXPECT_EQ(total, 0);
    auto xml = *xmlPropertyList(rootWithTake(PlistDict{{"1", keyPlist("k")}}, 3.0));
    const std::string bad[] = {"",
                               "garbage",
                               xml.substr(0, xml.size() - 20),
                               *xmlPropertyList(PlistValue(PlistArray{1, 2})),
                               *xmlPropertyList(PlistValue("root is text")),
                               std::string("bplist00\xff\xff\xff\xff", 12)};
    for (const std::string& bytes : bad) {
        writeFile(recording(), bytes);
        total = -1;
        EXPECT_TRUE(load(total).empty()) << bytes;
        EXPECT_EQ(total, 0);
    }
    std::filesystem::remove(recording());
    std::filesystem::create_directory(recording());
    EXPECT_TRUE(load(total).empty());
}

// A recording nested deeper than any real one is no recording: its events
// are not replayed, and reading it does not take the process down.
TEST_F(RecordingFile, DeeplyNestedRecordingsLoadAsNoRecording) {
    const auto takeHolding = [](int depth) {
        std::string xml =
            "<plist><dict><key>totalSec</key><real>2</real><key>takes</key><dict>"
            "<key>default</key><dict><key>1</key>";
        for (int i = 0; i < depth; ++i) xml += "<array>";
        for (int i = 0; i < depth; ++i) xml += "</array>";
        return xml + "</dict></dict></dict></plist>";
    };
    const auto binary = test::deepBinaryPropertyList(100000);
    const std::string bad[] = {takeHolding(200000), std::string(binary.begin(), binary.end())};
    for (const std::string& bytes : bad) {
        writeFile(recording(), bytes);
        double total = -1;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(load(total).empty());
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(total, 0);
        EXPECT_NE(log.find("\"" + recording() +
                           "\": is not a property list (or nests past 512 "
                           "levels); replaying no recorded events"),
                  std::string::npos)
            << log;
    }
    // The same shape, shallow, is read: one entry that holds no event.
    writeFile(recording(), takeHolding(10));
    double total = -1;
    EXPECT_EQ(load(total).size(), 1u);
    EXPECT_EQ(total, 2);
}

TEST_F(RecordingFile, AFifoDoesNotBlockTheLoader) {
    ASSERT_EQ(mkfifo(recording().c_str(), 0600), 0);
    double total = -1;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load(total).empty());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(total, 0);
    EXPECT_NE(log.find("is not a regular file but a FIFO; replaying no recorded events"),
              std::string::npos)
        << log;
    // A missing recording is no news.
    std::filesystem::remove(recording());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load(total).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(RecordingFile, EventsThatAreNotDictionariesKeepTheirPlace) {
    PlistDict take{{"1", keyPlist("a")}, {"2", "just text"}, {"3", keyPlist("b")}};
    writeRecording(rootWithTake(take));
    double total = 0;
    ::testing::internal::CaptureStderr();
    auto entries = load(total);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[1].event);
    EXPECT_EQ(entries[1].mouseLocation, (Point{}));
}

TEST_F(RecordingFile, LoadsWithoutATotalPointer) {
    writeRecording(rootWithTake(PlistDict{{"1", keyPlist("k")}}));
    EXPECT_EQ(RecordedEvents::recordedEventsArrayForComposition(composition(), nullptr).size(), 1u);
}

// --- saving ---------------------------------------------------------------------------

TEST_F(RecordingFile, SaveThenLoadReproducesTheRecording) {
    std::vector<RecordedEventEntry> entries{
        entryAt(0.1 + 0.2, click({120, 80}), {0.25f, 0.75f}),
        entryAt(1.0 / 3, key("x"), {0.5f, 0.5f}),
        entryAt(2, OBEvent::scrollWheelEvent(-10, 5, 0, {}), {1, 1}),
    };
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(entries, 7.25, composition()));
    double total = 0;
    auto loaded = load(total);
    EXPECT_EQ(total, 7.25);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(*loaded[0].eventTime, 0.1 + 0.2);  // time keys keep every bit
    EXPECT_EQ(*loaded[1].eventTime, 1.0 / 3);
    EXPECT_EQ(loaded[0].mouseLocation, (Point{0.25f, 0.75f}));
    EXPECT_EQ(loaded[0].event->locationInWindow(), (Point{120, 80}));
    EXPECT_EQ(loaded[1].event->characters(), "x");
    EXPECT_EQ(loaded[1].event->locationInWindow(), (Point{120, 80}));
    EXPECT_FLOAT_EQ(loaded[2].event->deltaY(), -1);
    EXPECT_FLOAT_EQ(loaded[2].event->deltaX(), 0.5f);
}

TEST_F(RecordingFile, EqualTimesSaveAsOneAndTheLaterWins) {
    std::vector<RecordedEventEntry> entries{entryAt(1.5, key("first")), entryAt(0, key("zero")),
                                            entryAt(1.5, key("second"))};
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(entries, 2, composition()));
    const PlistValue root = savedRoot();
    const PlistDict& take = *root.asDict()->find("takes")->asDict()->find("default")->asDict();
    ASSERT_EQ(take.size(), 2u);
    EXPECT_EQ(*take.find("1.5")->asDict()->find("characters")->asString(), "second");
}

TEST_F(RecordingFile, EmptyRecordingSavesAnEmptyTake) {
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({}, 3.5, composition()));
    PlistValue root = savedRoot();
    EXPECT_EQ(root, PlistValue(PlistDict{{"takes", PlistDict{{"default", PlistDict{}}}},
                                         {"totalSec", 3.5}}));
}

TEST_F(RecordingFile, EntriesWithoutAnEventAreLeftOut) {
    std::vector<RecordedEventEntry> entries{entryAt(1, nullptr, {1, 1}), entryAt(2, key("k"))};
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(entries, 3, composition()));
    double total = 0;
    auto loaded = load(total);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(*loaded[0].eventTime, 2);
}

TEST_F(RecordingFile, SaveReplacesTheWholeFileAndLeavesNoTemporaryFiles) {
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({entryAt(1, key("a"))}, 1, composition()));
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({entryAt(2, key("b"))}, 2, composition()));
    double total = 0;
    auto loaded = load(total);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].event->characters(), "b");
    int files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(m_dir.path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(RecordingFile, ASaveThatCannotWriteFailsAndKeepsTheOldFile) {
    ASSERT_TRUE(
        RecordedEvents::saveRecordedEventsArray({entryAt(1, key("old"))}, 1, composition()));
    const std::string before = readFile(recording());

    // A file-size limit makes the write itself fail, even for root.
    std::vector<RecordedEventEntry> many;
    for (int i = 0; i < 2000; ++i) many.push_back(entryAt(i, key("new")));
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const Result<void> saved_ok = RecordedEvents::saveRecordedEventsArray(many, 9, composition());
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    ASSERT_FALSE(saved_ok);
    // The reason names the file and what failed, for the window to show.
    EXPECT_NE(saved_ok.error().find(recording()), std::string::npos) << saved_ok.error();
    EXPECT_NE(saved_ok.error().find("cannot write the recording"), std::string::npos)
        << saved_ok.error();
    EXPECT_EQ(readFile(recording()), before);
    int files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(m_dir.path()))
        ++files;
    EXPECT_EQ(files, 1);  // the temporary file is gone
}

TEST_F(RecordingFile, ASaveIntoAPathThatCannotHoldAFileFails) {
    // The parent of the recording is a regular file.
    writeFile(m_dir.file("notadir"), "x");
    EXPECT_FALSE(RecordedEvents::saveRecordedEventsArray({}, 1, m_dir.file("notadir/take.qtz")));
    EXPECT_EQ(readFile(m_dir.file("notadir")), "x");
    // The recording path is a directory with something in it.
    std::filesystem::create_directories(m_dir.file("take.QCRecording/inside"));
    EXPECT_FALSE(RecordedEvents::saveRecordedEventsArray({}, 1, composition()));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.file("take.QCRecording/inside")));
    EXPECT_FALSE(RecordedEvents::saveRecordedEventsArray({}, 1, ""));
}

TEST_F(RecordingFile, SavesUnderANameNearTheFileSystemLimit) {
    // 240 + ".QCRecording" is 252 characters: valid, with no room to spare.
    std::string composition = m_dir.file(std::string(240, 'n') + ".qtz");
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({entryAt(1, key("k"))}, 1, composition));
    double total = 0;
    EXPECT_EQ(RecordedEvents::recordedEventsArrayForComposition(composition, &total).size(), 1u);
}

TEST_F(RecordingFile, SaveKeepsTheOldFilePermissions) {
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({}, 1, composition()));
    EXPECT_EQ(std::filesystem::status(recording()).permissions(), std::filesystem::perms(0644));
    std::filesystem::permissions(recording(), std::filesystem::perms(0600));
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray({}, 2, composition()));
    EXPECT_EQ(std::filesystem::status(recording()).permissions(), std::filesystem::perms(0600));
}

// A desktop application runs under the user's locale; a decimal comma there
// must not change how time keys and points read.
TEST_F(RecordingFile, LoadingIgnoresTheNumericLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
    std::string previous = setlocale(LC_NUMERIC, nullptr);
    bool switched = false;
    for (const char* name : names) switched = switched || setlocale(LC_NUMERIC, name);
    if (!switched) {
        // Build a comma-decimal locale where the system ships the sources.
        std::string dir = m_dir.file("locales");
        std::string command = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
        std::filesystem::create_directory(dir);
        if (std::system(command.c_str()) == 0) {
            setenv("LOCPATH", dir.c_str(), 1);
            switched = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
            unsetenv("LOCPATH");
        }
    }
    if (!switched) GTEST_SKIP() << "no locale with a decimal comma";
    ASSERT_EQ(std::string(localeconv()->decimal_point), ",");

    PlistDict take{{"0.5", keyPlist("a")}, {"0.25", keyPlist("b")}};
    writeRecording(rootWithTake(take, 1.75));
    double total = 0;
    auto entries = load(total);
    setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(*entries[0].eventTime, 0.25);
    EXPECT_EQ(*entries[1].eventTime, 0.5);
    EXPECT_EQ(entries[0].mouseLocation, (Point{0.5f, 0.25f}));
}

}  // namespace
}  // namespace lumivane
