// The path rules of base/PathString.h for Qt strings, in the file system's
// encoding.
#pragma once

#include <QFile>
#include <QString>

#include "base/PathString.h"

namespace lumivane {

inline QString pathExtensionOf(const QString& path) {
    return QFile::decodeName(pathExtension(QFile::encodeName(path).toStdString()).c_str());
}
inline QString deletingPathExtensionOf(const QString& path) {
    return QFile::decodeName(deletingPathExtension(QFile::encodeName(path).toStdString()).c_str());
}
inline QString lastPathComponentOf(const QString& path) {
    return QFile::decodeName(lastPathComponent(QFile::encodeName(path).toStdString()).c_str());
}
inline QString withoutTrailingSlashesOf(const QString& path) {
    return QFile::decodeName(withoutTrailingSlashes(QFile::encodeName(path).toStdString()).c_str());
}

}  // namespace lumivane
