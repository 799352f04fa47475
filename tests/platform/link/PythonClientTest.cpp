// An outside client, written from the protocol description alone with
// Python's standard library, drives a server of ours.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "LinkTestSupport.h"
#include "ProcessRunner.h"
#include "platform/events/OBEvent.h"
#include "platform/link/RenderServiceName.h"
#include "shared/RenderSettingsVendor.h"

namespace lumivane {
namespace {

using test::RegistryTest;
using test::ServerThread;

const char* kOutsideClient = R"PY(
import json, os, plistlib, socket, struct, sys
path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "lumivane", sys.argv[1])
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.settimeout(10)
s.connect(path)

def read_exactly(n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data

def send(message):
    body = plistlib.dumps(message, fmt=plistlib.FMT_BINARY)
    s.sendall(struct.pack(">I", len(body)) + body)

def receive():
    (length,) = struct.unpack(">I", read_exactly(4))
    return plistlib.loads(read_exactly(length))

replies = []
next_id = 1
def request(**fields):
    global next_id
    send(dict(id=next_id, **fields))
    next_id += 1
    replies.append(receive())

request(op="class", object="root")
for key in ["width", "height", "framerate", "quality", "moviePath", "inputValues",
            "appController", "recordButton", "events"]:
    request(op="get", object="root", key=key)
request(op="call", object="appController", selector="indicateStatus:", args=["preparing to encode"])
request(op="call", object="appController", selector="indicateFrame:of:", args=[0, 2])
request(op="call", object="appController", selector="indicateFrame:of:", args=[1, 2])
request(op="call", object="appController", selector="enableControls", args=[])
request(op="call", object="appController", selector="finishedRendering:", args=[])
request(op="call", object="appController", selector="explode:", args=[])
request(op="get", object="root", key="nonesuch")
s.sendall(struct.pack(">I", 5) + b"hello")
try:
    closed = s.recv(1) == b""
except ConnectionResetError:
    closed = True
print(json.dumps({"replies": replies, "closed_after_garbage": closed}))
)PY";

class RecordingController : public AppControllerProxy {
public:
    void indicateStatus(const std::string& s) override { m_lines.push_back("status " + s); }
    void indicateFrame(int i, int n) override {
        m_lines.push_back("frame " + std::to_string(i) + "/" + std::to_string(n));
    }
    void indicateError(const std::string& e) override { m_lines.push_back("error " + e); }
    void enableControls() override { m_lines.push_back("enableControls"); }
    void finishedRendering() override { m_lines.push_back("finishedRendering"); }
    std::vector<std::string> m_lines;  // read after the server thread is gone
};

std::string runPython(const std::string& name) {
    std::string command = "python3 -c '" + std::string(kOutsideClient) + "' " + name;
    test::ShellResult result = test::runShell(command);
    return result.ok() ? std::move(result.output) : std::string();
}

class PythonClientTest : public RegistryTest {};

TEST_F(PythonClientTest, OutsideClientSpeaksTheProtocol) {
    if (system("python3 -c 'import plistlib' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 with plistlib is not available";
    auto controller = std::make_shared<RecordingController>();
    auto settings = std::make_shared<RenderSettings>();
    settings->setWidth("320");
    settings->setHeight("240");
    settings->setFramerate(12.5);
    settings->setQuality(2);
    settings->setInputValues(PlistValue(PlistDict{{"speed", "2"}, {"invert", true}}));
    settings->setAppController(controller);
    settings->setRecordButton(ObjectReference{"recordButton"});
    settings->setEvents(std::make_shared<const EventArray>(
        EventArray{{OBEvent::mouseEventWithType(NSLeftMouseDown, {12, 34}, 0, 0, 0, 0, 1, 1.0f),
                    Point{0.5f, 0.25f}, 0.125}}));
    std::string name = makeRenderServiceName();
    auto server = LinkServer::create(name, std::make_shared<RenderSettingsVendor>(settings));
    ASSERT_TRUE(server.ok()) << server.error();
    std::string output;
    {
        ServerThread serving(std::move(server.value()));
        output = runPython(name);
    }
    ASSERT_FALSE(output.empty()) << "the outside client failed";
    nlohmann::json result = nlohmann::json::parse(output);
    const nlohmann::json& r = result["replies"];
    ASSERT_EQ(r.size(), 17u);
    for (size_t i = 0; i < r.size(); ++i) EXPECT_EQ(r[i]["id"], i + 1);
    EXPECT_EQ(r[0]["result"], "RenderSettings");
    EXPECT_EQ(r[1]["result"], "320");
    EXPECT_EQ(r[2]["result"], "240");
    EXPECT_EQ(r[3]["result"], 12.5);
    EXPECT_EQ(r[4]["result"], 2);
    EXPECT_FALSE(r[5].contains("result"));  // moviePath was never set
    EXPECT_FALSE(r[5].contains("error"));
    EXPECT_EQ(r[6]["result"], (nlohmann::json{{"speed", "2"}, {"invert", true}}));
    EXPECT_EQ(r[7]["result"], (nlohmann::json{{"$ref", "appController"}}));
    EXPECT_EQ(r[8]["result"], (nlohmann::json{{"$ref", "recordButton"}}));
    const nlohmann::json& entry = r[9]["result"][0];
    EXPECT_EQ(entry["QCRendererMouseLocationKey"], "{0.5, 0.25}");
    EXPECT_EQ(entry["eventTime"], 0.125);
    EXPECT_EQ(entry["QCRendererEventKey"]["type"], "NSLeftMouseDown");
    EXPECT_EQ(entry["QCRendererEventKey"]["locationInWindow"], "{12, 34}");
    for (size_t i = 10; i <= 14; ++i) EXPECT_EQ(r[i], (nlohmann::json{{"id", i + 1}}));
    EXPECT_TRUE(r[15].contains("error"));
    EXPECT_TRUE(r[16].contains("error"));
    EXPECT_TRUE(result["closed_after_garbage"]);
    EXPECT_EQ(controller->m_lines,
              (std::vector<std::string>{"status preparing to encode", "frame 0/2", "frame 1/2",
                                        "enableControls", "finishedRendering"}));
}

}  // namespace
}  // namespace lumivane
