#pragma once

#include "platform/registry_rules.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The text format that regedit exports ("Windows Registry Editor Version 5.00"). A document keeps
// every line as it was read, so that whatever the program does not change is written back as it was.
namespace regfile {

enum class Encoding { Utf8, Utf8Bom, Utf16LeBom };

struct Line {
    enum class Kind { Header, Blank, Comment, Key, DeleteKey, Value, DeleteValue };
    Kind kind = Kind::Blank;
    QString raw;     // as in the file: continuation lines and line breaks included
    QString keyPath; // Key, DeleteKey: the text between the brackets
    QString name;    // Value, DeleteValue: the unescaped name; empty for the default value "@"
    std::uint32_t type = registry::RegNone;
    QByteArray data;
};

struct Document {
    Encoding encoding = Encoding::Utf8;
    QString lineBreak = QStringLiteral("\r\n");
    QList<Line> lines;
};

// Raises Error naming `fileName` and the line for text that is not of the format.
Document parse(const QByteArray& bytes, const QString& fileName);
QByteArray serialize(const Document& document);

QString sectionKeyPath(const QString& section); // HKEY_CURRENT_USER\Software\<section>

// The value as a reader sees it after the whole file: later lines win, deletions remove.
registry::Lookup lookup(const Document& document, const QString& keyPath, const QString& name);
bool keyExists(const Document& document, const QString& keyPath);
// Sets the value, keeping its place and the spelling of its name when it exists; a new value goes
// after the last value of its key, a new key at the end of the file.
void setValue(Document& document, const QString& keyPath, const QString& name, std::uint32_t type,
              const QByteArray& data);

} // namespace regfile
