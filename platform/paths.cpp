#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace paths {

QString executableFolder() {
    QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!folder.endsWith(separator()))
        folder.append(separator());
    return folder;
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString removeFolderName(QString text, const QString& nameWithBackslash) {
    text.remove(nameWithBackslash, Qt::CaseInsensitive);
#ifndef _WIN32
    QString withSlash = nameWithBackslash;
    if (withSlash.endsWith(u'\\'))
        withSlash.back() = u'/';
    text.remove(withSlash, Qt::CaseInsensitive);
#endif
    return text;
}

QChar separator() {
    return QDir::separator();
}

} // namespace paths
