#pragma once

#include "native/registry_rules.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

namespace registry {

// The text format that regedit exports ("Windows Registry Editor Version 5.00"). A document keeps
// every line as it was read, so that whatever the program does not change is written back as it was.

enum class Encoding { Utf8, Utf8Bom, Utf16LeBom };

// What makes a file not of the format, each worded for the operator by parseErrorText.
enum class ParseError {
    CannotOpen,
    OddUtf16,
    NotUtf8,
    NoHeader,
    KeyNotClosed,
    ValueBeforeKey,
    ContinuedAtEnd,
    NotKeyValueOrComment,
    NameNotClosed,
    NoEquals,
    StringNotClosed,
    BadDword,
    BadHexType,
    UnknownValueForm,
    BadByteList,
};

// The operator's text of an error of the file `fileName`: `line` counts from 1; `detail` is the
// system's reason for CannotOpen.
QString parseErrorText(ParseError error, const QString& fileName, int line = 0, const QString& detail = {});

// One line of the file: a physical line, or a value's lines joined by continuations, with their
// line breaks. The text lives in the document, so that a large file costs little more than its text.
struct Line {
    enum class Kind : std::uint8_t { Header, Blank, Comment, Key, DeleteKey, Value, DeleteValue };
    Kind kind = Kind::Blank;
    bool replaced = false; // the text is Document::replacements[offset], written by the program
    qsizetype offset = 0;  // into Document::text
    qsizetype length = 0;
};

struct Document {
    Encoding encoding = Encoding::Utf8;
    QString lineBreak = QStringLiteral("\r\n");
    QString text;
    QList<QString> replacements;
    std::vector<Line> lines;

    QStringView raw(const Line& line) const; // as in the file: continuations and line breaks included
};

// Raises Error naming `fileName` and the line for text that is not of the format. Takes the bytes
// so that they are freed as soon as they are decoded.
Document parse(QByteArray bytes, const QString& fileName);
QByteArray serialize(const Document& document);

QString sectionKeyPath(const QString& section);                  // HKEY_CURRENT_USER\Software\<section>
QString keyPathOf(const Document& document, const Line& line);   // Key, DeleteKey: between the brackets
QString valueNameOf(const Document& document, const Line& line); // Value, DeleteValue; "" for "@"

// The value as a reader sees it after the whole file: later lines win, deletions remove.
native::Lookup lookup(const Document& document, const QString& keyPath, const QString& name);
bool keyExists(const Document& document, const QString& keyPath);
// Sets the value, keeping its place and the spelling of its name when it exists; a new value goes
// after the last value of its key, a new key at the end of the file.
void setValue(Document& document, const QString& keyPath, const QString& name, std::uint32_t type,
              const QByteArray& data);

} // namespace registry
