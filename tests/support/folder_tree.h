#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

// Small folder trees for the file tests, built and read back without following links.
namespace folder_tree {

inline bool makeFile(const QString& path, const QByteArray& bytes = QByteArray("x")) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline bool makeFolder(const QString& path) {
    return QDir().mkpath(path);
}

inline bool makeLink(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    return QFile::link(target, link);
}

// Every entry below `root`, relative and sorted; folders end with "/", links with "@".
inline QStringList list(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        QString entry = base.relativeFilePath(info.filePath());
        if (info.isSymLink())
            entry += u'@';
        else if (info.isDir())
            entry += u'/';
        entries.append(entry);
    }
    entries.sort();
    return entries;
}

} // namespace folder_tree
