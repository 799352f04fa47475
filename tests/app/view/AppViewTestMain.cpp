// Runs the view tests inside a QApplication; settings go to a temporary
// folder, never the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "app/view/GLSetup.h"

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    lumivane::prepareGLEnvironment();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
