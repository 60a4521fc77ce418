#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A registry file as regedit exports it: the header line, a blank line, then `body` (with "\n"
// line breaks turned into "\r\n"). UTF-16LE with a byte-order mark, or UTF-8.
inline QByteArray regeditFile(const QString& body, bool utf16 = false) {
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\n\n") + body;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    if (!utf16)
        return text.toUtf8();
    return QByteArray("\xFF\xFE", 2) +
           QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
