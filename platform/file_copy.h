#pragma once

#include <QString>

// Copies `source` over `target`, replacing it as a whole (a temporary file beside it, flushed and
// renamed). False when it could not; a file copied onto itself stays as it is.
bool copyFileReplacing(const QString& source, const QString& target);
