// Lumivane, the desktop application: previews a composition and starts the
// renderer for each movie.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMainWindow>
#include <QTranslator>

#include "app/controller/AppController.h"
#include "app/controller/AppResources.h"
#include "app/view/GLSetup.h"
#include "base/Log.h"
#include "base/Version.h"

int main(int argc, char* argv[]) {
    lumivane::setLogProgramName("Lumivane");
    lumivane::prepareGLEnvironment();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumivane"));
    QApplication::setApplicationName(QStringLiteral("Lumivane"));
    QApplication::setApplicationVersion(QString::fromLatin1(lumivane::kVersionText));
    QApplication::setDesktopFileName(QStringLiteral("lumivane"));
    QApplication::setWindowIcon(QIcon(AppResources::iconPath(QStringLiteral("Lumivane"))));

    // The English table gives the name-like keys their texts; Qt's own table
    // translates its standard buttons.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("lumivane"), QStringLiteral("_"),
                        AppResources::translationsDirectory()) ||
        translator.load(QStringLiteral("lumivane_en"), AppResources::translationsDirectory()))
        QApplication::installTranslator(&translator);
    else
        lumivane::logLine("no translations in " +
                          AppResources::translationsDirectory().toStdString());

    AppController controller;
    // The controller decides when the application may go; closing the main
    // window is one of its questions, not the end by itself.
    QObject::connect(&controller, &AppController::quitApproved, &application,
                     &QCoreApplication::quit);
    controller.applicationWillFinishLaunching();
    controller.window()->show();

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) controller.openFile(arguments.at(1));

    return application.exec();
}
