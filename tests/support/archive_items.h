#pragma once

#include "support/kit_archive.h"

#include <QByteArray>
#include <QList>

// The archives of the tests: the update archive's password, repeated here so that the archive
// library's tests need nothing from app/, and the usual content, a file at the top and one in a
// subfolder.
inline QByteArray archivePassword() {
    return QByteArrayLiteral("Hs6JqN2cXv9RkT4wBz7YpE3mUa8LdG5f");
}

inline QList<ArchiveEntry> twoItems() {
    return {fileEntry(QStringLiteral("a.dll"), "new a"), fileEntry(QStringLiteral("docs/b.txt"), "new b")};
}
