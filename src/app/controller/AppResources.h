// Where the application's resources lie: share/lumivane beside the bin/
// directory of the executable, in the build tree as in an install.
#pragma once

#include <QString>

class AppResources {
public:
    static QString shareDirectory();
    static QString translationsDirectory();
    static QString helpPage();
    // A window icon by name ("Lumivane", "LumivaneWorking").
    static QString iconPath(const QString& name);
    // The renderer beside the application's executable.
    static QString rendererPath();
};
