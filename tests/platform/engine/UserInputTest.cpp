#include <gtest/gtest.h>

#include <array>

#include "EngineTestSupport.h"
#include "platform/engine/OffscreenRenderer.h"
#include "platform/engine/UserInputState.h"

namespace lumivane {
namespace {

using test::dataPath;

RenderArguments argumentsFor(Event::Fields fields, std::optional<Point> location = std::nullopt) {
    RenderArguments arguments;
    arguments.event = std::make_shared<Event>(std::move(fields));
    arguments.mouseLocation = location;
    return arguments;
}

Event::Fields keyEvent(int type, const char* characters, uint16_t keyCode, bool repeat = false) {
    Event::Fields fields;
    fields.type = type;
    if (characters) fields.characters = fields.charactersIgnoringModifiers = characters;
    fields.keyCode = keyCode;
    fields.isARepeat = repeat;
    return fields;
}

TEST(UserInputKeys, JavaScriptCodesFromCharactersAndKeyCodes) {
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, "a", 0))), 65);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, "Z", 6))), 90);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, "!", 0x12))), 49);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, "\xEF\x9C\x82", 0x7B))),
              37);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, nullptr, 0x0E))), 69);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, "/", 0x2C))), 191);
    EXPECT_EQ(UserInputState::javaScriptKeyCode(Event(keyEvent(NSKeyDown, nullptr, 0x3FF))), 0);
}

class EngineUserInput : public ::testing::Test {
protected:
    void SetUp() override {
        LUMIVANE_REQUIRE_GL();
        m_renderer = std::make_unique<OffscreenRenderer>(
            5, 1, ColorSpace::GenericRGB,
            Composition::compositionWithFile(dataPath("user_input.qtz")), TargetFormat::RGBAFloat);
    }
    std::array<float, 4> render(const RenderArguments* arguments, int column) {
        EXPECT_TRUE(m_renderer->renderAtTime(m_time += 0.1, arguments));
        const ImageRGBAF image = m_renderer->createSnapshotImageFloat();
        const float* p = image.pixels.data() + column * 4;
        return {p[0], p[1], p[2], p[3]};
    }

    std::unique_ptr<OffscreenRenderer> m_renderer;
    double m_time = 0;
};

TEST_F(EngineUserInput, MouseLocationButtonsAndClicks) {
    Event::Fields down;
    down.type = NSLeftMouseDown;
    auto press = argumentsFor(down, Point{0.25f, 0.75f});
    EXPECT_EQ(render(&press, 0), (std::array<float, 4>{0.25f, 0.75f, 0.25f, 0.75f}));
    EXPECT_EQ(render(nullptr, 1)[0], 1.0f);  // held across renders without events

    Event::Fields right;
    right.type = NSRightMouseDown;
    auto rightPress = argumentsFor(right, Point{0.5f, 0.5f});
    EXPECT_EQ(render(&rightPress, 1)[0], 3.0f);

    Event::Fields up;
    up.type = NSLeftMouseUp;
    auto release = argumentsFor(up, Point{0.6f, 0.1f});
    EXPECT_EQ(render(&release, 1)[0], 2.0f);
    // The location moves with every event; the click stays where it was.
    EXPECT_EQ(render(nullptr, 0), (std::array<float, 4>{0.6f, 0.1f, 0.5f, 0.5f}));

    RenderArguments moveOnly;
    moveOnly.mouseLocation = Point{0.9f, 0.2f};
    EXPECT_EQ(render(&moveOnly, 0)[0], 0.9f);
}

TEST_F(EngineUserInput, ScrollSumsAndModifiersFollowEvents) {
    Event::Fields scroll;
    scroll.type = NSScrollWheel;
    scroll.deltaX = 1.5f;
    scroll.deltaY = -2.0f;
    scroll.modifierFlags = NSShiftKeyMask;
    auto first = argumentsFor(scroll);
    render(&first, 2);
    scroll.deltaY = 0.5f;
    scroll.deltaZ = 1.0f;
    auto second = argumentsFor(scroll);
    EXPECT_EQ(render(&second, 2), (std::array<float, 4>{3.0f, -1.5f, 1.0f, 1.0f}));
    EXPECT_EQ(render(nullptr, 1)[1], float(NSShiftKeyMask));
}

TEST_F(EngineUserInput, KeyboardRowsHeldPressedToggled) {
    auto down = argumentsFor(keyEvent(NSKeyDown, "a", 0));
    EXPECT_EQ(render(&down, 3), (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_EQ(render(nullptr, 3), (std::array<float, 4>{1, 0, 1, 1}));  // pressed lasts one render
    auto repeat = argumentsFor(keyEvent(NSKeyDown, "a", 0, true));
    EXPECT_EQ(render(&repeat, 3), (std::array<float, 4>{1, 0, 1, 1}));
    auto up = argumentsFor(keyEvent(NSKeyUp, "a", 0));
    EXPECT_EQ(render(&up, 3), (std::array<float, 4>{0, 0, 1, 1}));
    EXPECT_EQ(render(&down, 3), (std::array<float, 4>{1, 1, 0, 1}));  // second press untoggles

    Event::Fields shift = keyEvent(NSFlagsChanged, nullptr, 0x38);
    shift.modifierFlags = NSShiftKeyMask;
    auto shiftDown = argumentsFor(shift);
    auto arrow = argumentsFor(keyEvent(NSKeyDown, "\xEF\x9C\x82", 0x7B));
    render(&shiftDown, 4);
    const auto columns = render(&arrow, 4);
    EXPECT_EQ(columns[0], 1.0f);
    EXPECT_EQ(columns[1], 1.0f);
    EXPECT_EQ(columns[2], 1.0f);        // 256 wide
    EXPECT_EQ(columns[3], 3.0f / 256);  // 3 rows
    shift.modifierFlags = 0;
    auto shiftUp = argumentsFor(shift);
    EXPECT_EQ(render(&shiftUp, 4)[0], 0.0f);
}

}  // namespace
}  // namespace lumivane
