#include <gtest/gtest.h>

#include "LinkTestSupport.h"
#include "platform/events/OBEvent.h"
#include "platform/link/LinkClient.h"
#include "platform/link/RenderServiceName.h"
#include "shared/ConnectRenderSettings.h"
#include "shared/EventPropertyList.h"
#include "shared/RemoteAppController.h"
#include "shared/RenderSettingsVendor.h"

namespace lumivane {
namespace {

using test::RegistryTest;
using test::ServerThread;

// The application's controller, keeping every callback as a line of text.
class RecordingController : public AppControllerProxy {
public:
    void indicateStatus(const std::string& status) override { add("status " + status); }
    void indicateFrame(int index, int count) override {
        add("frame " + std::to_string(index) + " of " + std::to_string(count));
    }
    void indicateError(const std::string& error) override { add("error " + error); }
    void enableControls() override { add("enableControls"); }
    void finishedRendering() override { add("finishedRendering"); }
    std::vector<std::string> lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    void add(std::string line) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

std::shared_ptr<Event> mouseDown(Point at) {
    return OBEvent::mouseEventWithType(NSLeftMouseDown, at, 0, 0, 0, 7, 1, 1.0f);
}

std::shared_ptr<Event> keyDown(const std::string& characters, uint16_t keyCode) {
    return OBEvent::keyEventWithType(NSKeyDown, {0, 0}, NSShiftKeyMask, 0, 0, characters,
                                     characters, false, keyCode);
}

class HandOverTest : public RegistryTest {
protected:
    void serve(std::shared_ptr<RenderSettings> settings) {
        m_name = makeRenderServiceName();
        auto server = LinkServer::create(m_name, std::make_shared<RenderSettingsVendor>(settings));
        ASSERT_TRUE(server.ok()) << server.error();
        m_server = std::make_unique<ServerThread>(std::move(server.value()));
    }
    void TearDown() override {
        m_server.reset();
        RegistryTest::TearDown();
    }

    std::string m_name;
    std::unique_ptr<ServerThread> m_server;
};

std::shared_ptr<RenderSettings> filledRecord(std::shared_ptr<AppControllerProxy> controller) {
    auto s = std::make_shared<RenderSettings>();
    // The application's order of setting.
    s->setCodec("public.png");
    s->setAA(2.0);
    s->setMotionBlur(4);
    s->setAppController(std::move(controller));
    s->setMoviePath("/tmp/out dir/take 1");
    s->setCompositionFile("/tmp/Soft rings.qtz");
    s->setRecordButton(ObjectReference{"recordButton"});
    s->setWidth("1280");
    s->setHeight("720px");
    s->setQuality(5);
    s->setFramerate(29.97);
    s->setDuration(12.5);
    s->setInputValues(PlistValue(
        PlistDict{{"speed", "1.5"}, {"invert", true}, {"tint", PlistArray{1.0, 0.5, 0.0, 1.0}}}));
    s->setStartTime(1.25);
    s->setTimeScale(0.5);
    EventArray events{
        {mouseDown({120, 45}), Point{0.25f, 0.75f}, 0.5},
        {keyDown("a", 0), Point{0.25f, 0.75f}, 0.75},
        // An entry whose event is missing: the chain keeps the last location.
        {nullptr, Point{0.5f, 0.5f}, 1.0},
        {keyDown("b", 11), std::nullopt, 1.5},
        {mouseDown({300, 200}), Point{1.0f, 0.0f}, std::nullopt},
        {keyDown("c", 8), Point{0, 0}, 2.0},
    };
    s->setEvents(std::make_shared<const EventArray>(std::move(events)));
    return s;
}

// The renderer's command-line defaults, which link mode replaces completely.
void applyDefaults(RenderSettings& s) {
    s.setWidth("640");
    s.setHeight("480");
    s.setCodec("avc1");
    s.setFramerate(30);
    s.setDuration(10);
    s.setQuality(3);
    s.setMoviePath("LumivaneRender.mov");
    s.setAA(1);
    s.setTimeScale(1);
}

TEST_F(HandOverTest, FilledRecordArrivesWholeAndCallbacksComeBackInOrder) {
    auto controller = std::make_shared<RecordingController>();
    serve(filledRecord(controller));
    RenderSettings mine;
    applyDefaults(mine);
    Result<std::shared_ptr<LinkClient>> client = connectRenderSettings(m_name, mine);
    ASSERT_TRUE(client.ok()) << client.error();

    EXPECT_EQ(mine.width(), "1280");
    EXPECT_EQ(mine.height(), "720px");
    EXPECT_EQ(mine.codec(), "public.png");
    EXPECT_DOUBLE_EQ(mine.framerate(), 29.97);
    EXPECT_DOUBLE_EQ(mine.duration(), 12.5);
    EXPECT_DOUBLE_EQ(mine.AA(), 2.0);
    EXPECT_EQ(mine.motionBlur(), 4);
    EXPECT_EQ(mine.quality(), 5);
    EXPECT_EQ(mine.compositionFile(), "/tmp/Soft rings.qtz");
    EXPECT_EQ(mine.moviePath(), "/tmp/out dir/take 1");
    EXPECT_EQ(mine.inputValues(),
              PlistValue(PlistDict{
                  {"speed", "1.5"}, {"invert", true}, {"tint", PlistArray{1.0, 0.5, 0.0, 1.0}}}));
    EXPECT_EQ(mine.recordButton(), ObjectReference{"recordButton"});
    EXPECT_DOUBLE_EQ(mine.startTime(), 1.25);
    EXPECT_DOUBLE_EQ(mine.timeScale(), 0.5);

    auto events = mine.events();
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 6u);
    const EventArray& e = *events;
    ASSERT_TRUE(e[0].event && e[1].event && e[3].event && e[4].event && e[5].event);
    EXPECT_FALSE(e[2].event);
    EXPECT_EQ(e[0].event->type(), NSLeftMouseDown);
    EXPECT_EQ(e[0].event->locationInWindow(), (Point{120, 45}));
    EXPECT_EQ(e[0].event->eventNumber(), 7);
    // Key events carry no location: each takes the one rebuilt before it.
    EXPECT_EQ(e[1].event->locationInWindow(), (Point{120, 45}));
    EXPECT_EQ(e[3].event->locationInWindow(), (Point{120, 45}));
    EXPECT_EQ(e[3].event->characters(), "b");
    EXPECT_EQ(e[3].event->keyCode(), 11);
    EXPECT_EQ(e[3].event->modifierFlags(), NSShiftKeyMask);
    EXPECT_EQ(e[5].event->locationInWindow(), (Point{300, 200}));
    EXPECT_EQ(e[0].mouseLocation, (Point{0.25f, 0.75f}));
    EXPECT_EQ(e[2].mouseLocation, (Point{0.5f, 0.5f}));
    EXPECT_FALSE(e[3].mouseLocation);
    EXPECT_EQ(e[1].eventTime, 0.75);
    EXPECT_FALSE(e[4].eventTime);

    std::shared_ptr<AppControllerProxy> remote = mine.appController();
    ASSERT_TRUE(remote);
    remote->indicateStatus("preparing to encode");
    remote->indicateFrame(0, 3);
    remote->indicateFrame(2, 3);
    remote->indicateStatus("Complete");
    remote->enableControls();
    remote->finishedRendering();
    remote->indicateError("failed to create movie");
    EXPECT_EQ(controller->lines(),
              (std::vector<std::string>{"status preparing to encode", "frame 0 of 3",
                                        "frame 2 of 3", "status Complete", "enableControls",
                                        "finishedRendering", "error failed to create movie"}));

    // The application vanishing shows in the next callback.
    m_server.reset();
    EXPECT_THROW(remote->indicateFrame(3, 3), LinkError);
}

TEST_F(HandOverTest, EmptyRecordLeavesEverythingAbsent) {
    serve(std::make_shared<RenderSettings>());
    RenderSettings mine;
    applyDefaults(mine);
    mine.setInputValues(PlistValue(PlistDict{{"x", 1}}));
    Result<std::shared_ptr<LinkClient>> client = connectRenderSettings(m_name, mine);
    ASSERT_TRUE(client.ok()) << client.error();
    EXPECT_FALSE(mine.width());
    EXPECT_FALSE(mine.height());
    EXPECT_FALSE(mine.codec());
    EXPECT_FALSE(mine.moviePath());
    EXPECT_FALSE(mine.compositionFile());
    EXPECT_FALSE(mine.inputValues());
    EXPECT_FALSE(mine.recordButton());
    EXPECT_FALSE(mine.appController());
    EXPECT_FALSE(mine.events());
    EXPECT_EQ(mine.framerate(), 0);
    EXPECT_EQ(mine.duration(), 0);
    EXPECT_EQ(mine.AA(), 0);
    EXPECT_EQ(mine.timeScale(), 0);
    EXPECT_EQ(mine.quality(), 0);
}

TEST_F(HandOverTest, VendorRefusesCallsItCannotServe) {
    auto controller = std::make_shared<RecordingController>();
    serve(filledRecord(controller));
    auto client = LinkClient::connect(m_name);
    ASSERT_TRUE(client.ok());
    LinkClient& c = *client.value();
    EXPECT_EQ(c.get("appController"), PlistValue(PlistDict{{"$ref", "appController"}}));
    EXPECT_EQ(c.get("recordButton"), PlistValue(PlistDict{{"$ref", "recordButton"}}));
    EXPECT_EQ(c.get("width"), PlistValue("1280"));
    EXPECT_EQ(c.get("motionBlur"), PlistValue(4));
    EXPECT_THROW(c.get("movie"), LinkError);
    EXPECT_THROW(c.get("baseTime"), LinkError);
    EXPECT_THROW(c.call("appController", "indicateFrame:of:", {1}), LinkError);
    EXPECT_THROW(c.call("appController", "indicateFrame:of:", {"1", "2"}), LinkError);
    EXPECT_THROW(c.call("appController", "indicateFrame:of:", {int64_t{1} << 40, 2}), LinkError);
    EXPECT_THROW(c.call("appController", "indicateStatus:", {}), LinkError);
    EXPECT_THROW(c.call("appController", "indicateStatus:", {5}), LinkError);
    EXPECT_THROW(c.call("appController", "enableControls", {1}), LinkError);
    EXPECT_THROW(c.call("appController", "terminate:", {}), LinkError);
    EXPECT_THROW(c.call("recordButton", "performClick:", {}), LinkError);
    EXPECT_THROW(c.call("root", "indicateStatus:", {"x"}), LinkError);
    c.call("appController", "finishedRendering:", {});
    EXPECT_EQ(controller->lines(), std::vector<std::string>{"finishedRendering"});
}

// A root object that claims to be a settings record but hands out bad values.
class WrongValues : public LinkObject {
public:
    explicit WrongValues(std::string className, std::string badKey, PlistValue badValue)
        : m_className(std::move(className)),
          m_badKey(std::move(badKey)),
          m_bad(std::move(badValue)) {}
    std::string className() const override { return m_className; }
    std::optional<PlistValue> get(const std::string& key) override {
        if (key == m_badKey) return m_bad;
        return std::nullopt;
    }
    void call(const std::string&, const std::string&, const PlistArray&) override {}

private:
    std::string m_className, m_badKey;
    PlistValue m_bad;
};

TEST_F(HandOverTest, WrongClassMissingRootAndWrongTypesFailWithAMessage) {
    struct Case {
        std::shared_ptr<LinkObject> root;
        std::string expected;
    };
    std::vector<Case> cases{
        {std::make_shared<WrongValues>("NSObject", "", PlistValue()), "not a RenderSettings"},
        {nullptr, "no root object"},
        {std::make_shared<WrongValues>("RenderSettings", "width", PlistArray{}), "\"width\""},
        {std::make_shared<WrongValues>("RenderSettings", "AA", "2"), "\"AA\""},
        {std::make_shared<WrongValues>("RenderSettings", "appController", "appController"),
         "\"appController\""},
        {std::make_shared<WrongValues>("RenderSettings", "events", PlistDict{}), "\"events\""},
        {std::make_shared<WrongValues>("RenderSettings", "events", PlistArray{5}), "events[0]"},
        {std::make_shared<WrongValues>("RenderSettings", "events",
                                       PlistArray{PlistDict{{QCRendererEventKey, "x"}}}),
         "events[0]"},
    };
    for (const Case& c : cases) {
        std::string name = makeRenderServiceName();
        auto server = LinkServer::create(name, c.root);
        ASSERT_TRUE(server.ok());
        ServerThread serving(std::move(server.value()));
        RenderSettings mine;
        Result<std::shared_ptr<LinkClient>> client = connectRenderSettings(name, mine);
        ASSERT_FALSE(client.ok()) << c.expected;
        EXPECT_NE(client.error().find(c.expected), std::string::npos) << client.error();
    }
    RenderSettings mine;
    Result<std::shared_ptr<LinkClient>> nobody =
        connectRenderSettings("net.orbek.Lumivane.0.0", mine);
    ASSERT_FALSE(nobody.ok());
    EXPECT_NE(nobody.error().find("net.orbek.Lumivane.0.0"), std::string::npos);
}

TEST_F(HandOverTest, NumbersInStringPropertiesReadAsTheirText) {
    auto root = std::make_shared<WrongValues>("RenderSettings", "width", PlistValue(640));
    std::string name = makeRenderServiceName();
    auto server = LinkServer::create(name, root);
    ASSERT_TRUE(server.ok());
    ServerThread serving(std::move(server.value()));
    RenderSettings mine;
    ASSERT_TRUE(connectRenderSettings(name, mine).ok());
    EXPECT_EQ(mine.width(), "640");
}

}  // namespace
}  // namespace lumivane
