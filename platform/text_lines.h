#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Text files read as a list of lines, the way the kit's lists are written on Windows.
namespace text_lines {

// A UTF-8, UTF-16LE or UTF-16BE byte-order mark selects that encoding; without one the bytes are
// in the ANSI code page. A NUL ends the text. Lines end at CR LF, LF or CR; a last line without a
// break counts, a break at the very end adds no empty line. Lines are kept exactly as they are.
QStringList decode(const QByteArray& bytes);

// The lines of the file at `path`; raises Error when it cannot be opened or read.
QStringList load(const QString& path);

} // namespace text_lines
