#include "filesystem/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef _WIN32
#include "native/executable_folder_native.h"
#endif

namespace filesystem {

QString executableFolder() {
#ifdef _WIN32
    return QString::fromStdU16String(native::executableFolderNative());
#else
    QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!folder.endsWith(separator()))
        folder.append(separator());
    return folder;
#endif
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString removeFolderName(QString text, const QString& nameWithBackslash) {
    text.remove(nameWithBackslash, Qt::CaseInsensitive);
#ifndef _WIN32
    text.remove(QString(nameWithBackslash).replace(u'\\', u'/'), Qt::CaseInsensitive);
#endif
    return text;
}

QChar separator() {
    return QDir::separator();
}

} // namespace filesystem
