#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace text {

// Text files read as a list of lines, the way the kit's lists are written on Windows.

// A UTF-8, UTF-16LE or UTF-16BE byte-order mark selects that encoding; without one the bytes are
// in the ANSI code page. A NUL ends the text. Lines end at CR LF, LF or CR; a last line without a
// break counts, a break at the very end adds no empty line. Lines are kept exactly as they are.
QStringList decodeLines(const QByteArray& bytes);

// A list is no larger than this.
constexpr qint64 maxFileSize = qint64(16) << 20;

// The lines of the file at `path`; raises Error, worded for the operator, when it cannot be opened
// or read, or when it is no regular file or larger than `maxFileSize`. It never waits for a named
// pipe or a device in the file's place.
QStringList loadLines(const QString& path);

} // namespace text
