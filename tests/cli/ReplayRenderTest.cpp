// Recorded input drives a render: each event must reach the composition at the
// right frame, with the right location, whatever form the recording file has.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "platform/events/OBEvent.h"
#include "shared/RecordedEvents.h"

namespace lumivane {
namespace {

using test::runProcess;

struct State {
    float mouseX, mouseY;
    int buttons;
    float clickX, clickY;
    float scrollY;
    int held, pressed, toggled;
    int modifiers;  // bits 16-23 of the modifier flags
};

RecordedEventEntry entry(std::shared_ptr<const Event> event, double time, Point normalized) {
    return {std::move(event), normalized, time};
}

RecordedEventEntry mouse(int type, double time, Point normalized) {
    Point window{normalized.x * 640, normalized.y * 480};
    return entry(OBEvent::mouseEventWithType(type, window, 0, 0, 0, 1, 1, 1.0f), time, normalized);
}

RecordedEventEntry key(int type, double time, uint32_t flags) {
    return entry(OBEvent::keyEventWithType(type, {}, flags, 0, 0, "a", "a", false, 0), time,
                 {0.75f, 0.25f});
}

RecordedEventEntry scroll(double time, int32_t wheelY) {
    return entry(OBEvent::scrollWheelEvent(wheelY, 0, 0, {}), time, {0.75f, 0.25f});
}

// At 30 frames a second, frame i renders at i / 30.
std::vector<RecordedEventEntry> takeOfOneGesture() {
    return {
        mouse(NSMouseMoved, 0.05, {0.25f, 0.5f}),       // frame 2
        mouse(NSLeftMouseDown, 0.1, {0.25f, 0.5f}),     // frame 3: due at its own time
        mouse(NSLeftMouseDragged, 0.12, {0.5f, 0.5f}),  // frame 4 delivers the last drag
        mouse(NSLeftMouseDragged, 0.13, {0.75f, 0.25f}),
        mouse(NSLeftMouseUp, 0.2, {0.75f, 0.25f}),  // frame 6
        scroll(0.25, 10),                           // frame 8: one folded scroll, 1.0 + 0.5
        scroll(0.26, 5),
        key(NSKeyDown, 0.3, NSShiftKeyMask),  // frame 9
        key(NSKeyUp, 0.31, 0),                // frame 10
    };
}

class ReplayRender : public ::testing::Test {
protected:
    std::string composition() const {
        return std::string(LUMIVANE_SOURCE_DIR) + "/tests/cli/data/inputstate.qtz";
    }

    test::ProcessResult render(const std::string& recording, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {
            test::cliPath(),      "-w", "16",     "-h", "4", "-c", "public.png", "-o",
            m_dir.file("frames"), "-e", recording};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(composition());
        return runProcess(argv, test::withTimeout(120));
    }

    State frame(int number) const {
        char name[64];
        snprintf(name, sizeof name, "Image-%02d.png", number);
        return frameFile(name);
    }

    State frameFile(const std::string& name) const {
        OIIO::ImageBuf image(m_dir.file("frames/" + name));
        EXPECT_TRUE(image.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << name;
        auto at = [&](int block) {
            std::vector<float> v(4);
            image.getpixel(block * 4 + 1, 2, v.data(), 4);
            return v;
        };
        auto b0 = at(0), b1 = at(1), b2 = at(2), b3 = at(3);
        auto byte = [](float v) { return static_cast<int>(std::lround(v * 255)); };
        return {b0[0],       b0[1],       static_cast<int>(std::lround(b0[2] * 7)),
                b1[0],       b1[1],       (b1[2] - 0.5f) * 20,
                byte(b2[0]), byte(b2[1]), byte(b2[2]),
                byte(b3[0])};
    }

    void expectGestureFrames(int offset = 0) {
        auto f = [&](int i) { return frame(i + 1 - offset); };
        EXPECT_NEAR(f(1).mouseX, 0, 0.01) << "nothing due before the first event";
        EXPECT_NEAR(f(2).mouseX, 0.25, 0.01);
        EXPECT_NEAR(f(2).mouseY, 0.5, 0.01);
        EXPECT_EQ(f(2).buttons, 0);
        EXPECT_EQ(f(3).buttons, 1);
        EXPECT_NEAR(f(3).clickX, 0.25, 0.01);
        EXPECT_NEAR(f(4).mouseX, 0.75, 0.01) << "the last drag of the run";
        EXPECT_NEAR(f(4).mouseY, 0.25, 0.01);
        EXPECT_EQ(f(5).buttons, 1);
        EXPECT_EQ(f(6).buttons, 0);
        EXPECT_NEAR(f(7).scrollY, 0, 0.1);
        EXPECT_NEAR(f(8).scrollY, 1.5, 0.1);
        State down = f(9);
        EXPECT_EQ(down.held, 255);
        EXPECT_EQ(down.pressed, 255);
        EXPECT_EQ(down.toggled, 255);
        EXPECT_EQ(down.modifiers, NSShiftKeyMask >> 16);
        State up = f(10);
        EXPECT_EQ(up.held, 0);
        EXPECT_EQ(up.pressed, 0);
        EXPECT_EQ(up.toggled, 255);
        EXPECT_NEAR(f(11).scrollY, 1.5, 0.1) << "input state is kept between renders";
    }

    test::TempDir m_dir;
};

TEST_F(ReplayRender, XmlRecordingArrivesFrameByFrame) {
    std::string take = m_dir.file("take.qtz");
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(takeOfOneGesture(), 0.4, take));
    auto result = render(take);
    ASSERT_EQ(result.status, 0) << result.err;
    expectGestureFrames();
    // -e without -d renders the recording's length: 0.4 s is 12 frames.
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("frames/Image-13.png")));
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("frames/Image-12.png")));
}

TEST_F(ReplayRender, BinaryRecordingReadsTheSame) {
    std::string take = m_dir.file("take.qtz");
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(takeOfOneGesture(), 0.4, take));
    std::string xml = RecordedEvents::recordedEventsFileForComposition(take);
    auto converted =
        runProcess({"/usr/bin/env", "python3", "-c",
                    "import plistlib,sys\n"
                    "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                    "plistlib.dump(d, open(sys.argv[1], 'wb'), fmt=plistlib.FMT_BINARY)\n",
                    xml});
    ASSERT_EQ(converted.status, 0) << converted.err;
    ASSERT_EQ(test::readFile(xml).rfind("bplist00", 0), 0u);
    auto result = render(take);
    ASSERT_EQ(result.status, 0) << result.err;
    expectGestureFrames();
}

TEST_F(ReplayRender, StartTimeConsumesEarlierEventsInThePreRoll) {
    std::string take = m_dir.file("take.qtz");
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(takeOfOneGesture(), 0.4, take));
    auto result = render(take, {"-s", "0.2"});
    ASSERT_EQ(result.status, 0) << result.err;
    // Duration 0.4 - 0.2: six frames, the first at 0.2.
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("frames/Image-6.png")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("frames/Image-7.png")));
    OIIO::ImageBuf first(m_dir.file("frames/Image-1.png"));
    std::vector<float> pointer(4), click(4);
    ASSERT_TRUE(first.read(0, 0, true, OIIO::TypeDesc::FLOAT));
    first.getpixel(1, 2, pointer.data(), 4);
    first.getpixel(5, 2, click.data(), 4);
    EXPECT_NEAR(pointer[0], 0.75, 0.01);
    EXPECT_NEAR(pointer[2], 0, 0.01) << "the up arrives with the first frame";
    EXPECT_NEAR(click[0], 0.25, 0.01);
}

TEST_F(ReplayRender, EventsThatCannotBeRebuiltAreLeftOut) {
    std::string take = m_dir.file("odd.qtz");
    test::writeFile(RecordedEvents::recordedEventsFileForComposition(take),
                    R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>takes</key><dict><key>default</key><dict>
<key>0.05</key><dict><key>type</key><string>nsleftmousedown</string>
<key>locationInWindow</key><string>{10, 10}</string>
<key>QCRendererMouseLocationKey</key><string>{0.5, 0.5}</string></dict>
</dict></dict><key>totalSec</key><real>0.1</real></dict></plist>)");
    auto result = render(take);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Error creating event ["), std::string::npos);
    EXPECT_EQ(frameFile("Image-3.png").buttons, 0);
    EXPECT_NEAR(frameFile("Image-3.png").mouseX, 0.5, 0.01) << "its location still counts";
}

}  // namespace
}  // namespace lumivane

namespace lumivane {
namespace {

// The bundled paint example, driven by its own recording, shows all three strokes
// in their colours: warm white, then red after R, then magenta after B.
TEST(PaintExample, RecordingDrawsItsStrokes) {
    test::TempDir dir;
    std::string paint = std::string(LUMIVANE_SOURCE_DIR) + "/resources/compositions/paint.qtz";
    auto result = runProcess({test::cliPath(), "-w", "160", "-h", "120", "-c", "public.png", "-o",
                              dir.file("frames"), "-e", paint, "-s", "7.9", paint},
                             test::withTimeout(120));
    ASSERT_EQ(result.status, 0) << result.err;
    OIIO::ImageBuf last(dir.file("frames/Image-2.png"));
    ASSERT_TRUE(last.read(0, 0, true, OIIO::TypeDesc::FLOAT));
    int white = 0, red = 0, magenta = 0;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            float p[4];
            last.getpixel(x, y, p, 4);
            if (p[0] > 0.9f && p[1] > 0.85f && p[2] > 0.7f) ++white;
            if (p[0] > 0.9f && p[1] < 0.3f && p[2] < 0.3f) ++red;
            if (p[0] > 0.9f && p[1] < 0.3f && p[2] > 0.9f) ++magenta;
        }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(red, 100);
    EXPECT_GT(magenta, 50);
}

}  // namespace
}  // namespace lumivane
