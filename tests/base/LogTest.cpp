#include "base/Log.h"

#include <gtest/gtest.h>

namespace lumivane {
namespace {

// A log entry is one line whatever the message holds: a name from outside
// must not be able to end it and start a forged one.
TEST(LogLine, ControlCharactersAreEscapedOnOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"service\nLumivaneCLI[1] forged", "service\\nLumivaneCLI[1] forged"},
        {"a\rb\tc", "a\\rb\\tc"},
        {std::string("nul\0bell\adel", 12) + "\x7F", "nul\\x00bell\\x07del\\x7F"},
        {"ünïcode ✓", "ünïcode ✓"},
    };
    for (const auto& [message, written] : cases) {
        testing::internal::CaptureStderr();
        logLine(message);
        const std::string line = testing::internal::GetCapturedStderr();
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
        EXPECT_EQ(line.substr(line.find("] ") + 2), written + "\n");
    }
}

}  // namespace
}  // namespace lumivane
