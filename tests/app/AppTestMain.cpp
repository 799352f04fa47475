// Runs the application tests inside a QApplication whose settings go to a
// temporary XDG_CONFIG_HOME, never the user's, and whose render links
// register in a temporary XDG_RUNTIME_DIR, with the English string table
// loaded as the application loads it.
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include "app/controller/AppResources.h"
#include "app/view/GLSetup.h"

int main(int argc, char** argv) {
    QTemporaryDir configHome;
    if (!configHome.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QTemporaryDir runtimeDir;
    if (!runtimeDir.isValid()) return 2;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    lumivane::prepareGLEnvironment();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumivane"));
    QApplication::setApplicationName(QStringLiteral("Lumivane"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTranslator translator;
    if (!translator.load(QStringLiteral("lumivane_en"), AppResources::translationsDirectory()))
        return 3;
    QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
