#include "app/controller/AppResources.h"

#include <QCoreApplication>
#include <QDir>

QString AppResources::shareDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/lumivane");
}

QString AppResources::translationsDirectory() {
    return shareDirectory() + "/translations";
}

QString AppResources::helpPage() {
    return shareDirectory() + "/help/index.html";
}

QString AppResources::iconPath(const QString& name) {
    return shareDirectory() + "/icons/" + name + ".png";
}

QString AppResources::rendererPath() {
    return QCoreApplication::applicationDirPath() + "/LumivaneCLI";
}
