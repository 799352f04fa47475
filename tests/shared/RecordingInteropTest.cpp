// Recording files checked against an independent property-list implementation:
// Python's plistlib reads what the store writes and writes what the store reads.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ProcessRunner.h"
#include "platform/events/OBEvent.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

using test::TempDir;
using test::writeFile;

class PythonPlist : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("python3 -c 'import plistlib' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "python3 with plistlib is not available";
    }
    // Runs a Python snippet with the recording path as its argument; the
    // snippet's assertions decide.
    int runPython(const std::string& script) {
        std::string scriptPath = m_dir.file("check.py");
        writeFile(scriptPath, script);
        std::string command = "python3 '" + scriptPath + "' '" + recording() + "'";
        return std::system(command.c_str());
    }
    std::string composition() const { return m_dir.file("scene.final.qtz"); }
    std::string recording() const { return m_dir.file("scene.final.QCRecording"); }

    TempDir m_dir;
};

TEST_F(PythonPlist, ReadsTheXmlTheStoreWrites) {
    std::vector<RecordedEventEntry> entries{
        {OBEvent::mouseEventWithType(NSLeftMouseDown, {120, 45}, 0, 0, 0, 7, 1, 1.0f),
         Point{0.5f, 0.25f}, 0.5},
        {OBEvent::keyEventWithType(NSKeyDown, {}, NSShiftKeyMask, 0, 0, "A&<", "a", false, 0),
         Point{0.1f, 0.2f}, 2.0},
        {OBEvent::scrollWheelEvent(-10, 3, 0, {}), Point{1, 1}, 0.1 + 0.2},
    };
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(entries, 12.75, composition()));
    int status = runPython(R"PY(
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    data = f.read()
assert data.startswith(b'<?xml'), data[:40]
root = plistlib.loads(data, fmt=plistlib.FMT_XML)
assert root['totalSec'] == 12.75, root
take = root['takes']['default']
assert list(root['takes'].keys()) == ['default'], root['takes'].keys()
assert sorted(take.keys(), key=float) == ['0.30000000000000004', '0.5', '2'], take.keys()
click = take['0.5']
assert click == {'type': 'NSLeftMouseDown', 'clickCount': 1, 'eventNumber': 7,
                 'pressure': 1.0, 'locationInWindow': '{120, 45}',
                 'QCRendererMouseLocationKey': '{0.5, 0.25}'}, click
assert list(click.keys())[:5] == ['type', 'clickCount', 'eventNumber', 'pressure',
                                  'locationInWindow'], list(click.keys())
key = take['2']
assert key == {'type': 'NSKeyDown', 'modifierFlags': 131072, 'characters': 'A&<',
               'charactersIgnoringModifiers': 'a', 'isARepeat': 0, 'keyCode': 0,
               'QCRendererMouseLocationKey': '{0.1, 0.2}'}, key
scroll = take['0.30000000000000004']
assert scroll['type'] == 'NSScrollWheel' and scroll['deltaY'] == -1.0, scroll
assert abs(scroll['deltaX'] - 0.3) < 1e-6 and 'deltaZ' not in scroll, scroll
assert 'locationInWindow' not in scroll, scroll
)PY");
    EXPECT_EQ(status, 0);
}

const char* kPythonWriter = R"PY(
import plistlib, sys
fmt = plistlib.FMT_BINARY if sys.argv[2] == 'binary' else plistlib.FMT_XML
take = {
    '10': {'type': 'NSKeyUp', 'characters': 'z', 'keyCode': 6,
           'QCRendererMouseLocationKey': '{0.9, 0.1}'},
    '9': {'type': 'NSLeftMouseUp', 'locationInWindow': '{30, 40}', 'modifierFlags': -2147483648,
          'pressure': 0.5, 'QCRendererMouseLocationKey': '{0.3, 0.4}'},
    '0.5': {'type': 'NSKeyDown', 'characters': 'a', 'isARepeat': True, 'keyCode': 0,
            'QCRendererMouseLocationKey': '{0, 1}'},
}
with open(sys.argv[1], 'wb') as f:
    plistlib.dump({'totalSec': 11.5, 'takes': {'default': take, 'other': {}}}, f, fmt=fmt)
)PY";

class PythonWrittenRecording : public PythonPlist,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(PythonWrittenRecording, LoadsInTimeOrder) {
    std::string scriptPath = m_dir.file("write.py");
    writeFile(scriptPath, kPythonWriter);
    std::string command =
        "python3 '" + scriptPath + "' '" + recording() + "' " + std::string(GetParam());
    ASSERT_EQ(std::system(command.c_str()), 0);

    double total = 0;
    auto entries = RecordedEvents::recordedEventsArrayForComposition(composition(), &total);
    EXPECT_EQ(total, 11.5);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(*entries[0].eventTime, 0.5);
    EXPECT_EQ(*entries[1].eventTime, 9);
    EXPECT_EQ(*entries[2].eventTime, 10);
    ASSERT_TRUE(entries[0].event && entries[1].event && entries[2].event);
    EXPECT_TRUE(entries[0].event->isARepeat());
    EXPECT_EQ(entries[0].event->locationInWindow(), (Point{0, 0}));
    EXPECT_EQ(entries[1].event->modifierFlags(), 0x80000000u);
    EXPECT_FLOAT_EQ(entries[1].event->pressure(), 0.5f);
    EXPECT_EQ(entries[2].event->locationInWindow(), (Point{30, 40}));
    EXPECT_EQ(entries[2].event->keyCode(), 6);
    EXPECT_EQ(entries[2].mouseLocation, (Point{0.9f, 0.1f}));
}

INSTANTIATE_TEST_SUITE_P(Formats, PythonWrittenRecording, ::testing::Values("xml", "binary"));

}  // namespace
}  // namespace lumivane
