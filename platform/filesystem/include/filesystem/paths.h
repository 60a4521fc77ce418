#pragma once

#include <QString>

namespace filesystem {

// The running executable's folder, with a trailing separator.
QString executableFolder();

// True for an existing file (not a folder); follows links; a relative path resolves against the
// current directory.
bool fileExists(const QString& path);

// `text` without any occurrence of `nameWithBackslash` (a folder name with a "\" before or after it),
// letters compared without regard to case. Off Windows the same with "/" in place of "\" goes too.
QString removeFolderName(QString text, const QString& nameWithBackslash);

// The platform's separator, "\" on Windows and "/" elsewhere.
QChar separator();

} // namespace filesystem
