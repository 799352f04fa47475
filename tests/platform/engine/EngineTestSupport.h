// Shared by the engine tests: where the test documents are, and a skip for
// machines on which no EGL display can be opened at all.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/engine/HeadlessGLContext.h"

namespace lumivane::test {

inline std::string dataPath(const std::string& name) {
    return std::string(LUMIVANE_SOURCE_DIR) + "/tests/platform/engine/data/" + name;
}

inline bool haveGL() {
    static const bool available = HeadlessGLContext::create().ok();
    return available;
}

}  // namespace lumivane::test

#define LUMIVANE_REQUIRE_GL()                                                \
    do {                                                                     \
        if (!::lumivane::test::haveGL()) {                                   \
            GTEST_SKIP() << "no EGL display can be created here: "           \
                         << ::lumivane::HeadlessGLContext::create().error(); \
        }                                                                    \
    } while (0)
