// The update archive fed arbitrary bytes: it never crashes and never writes outside its folder.

#include "app/update_archive.h"
#include "archive/zip_archive.h"
#include "base/error.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

using archive::ZipArchive;
using base::Error;

namespace {

QStringList entriesBelow(const QString& folder) {
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(it.next());
    names.sort();
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir sandbox;
    const QString root = sandbox.path();
    const QString base = root + QStringLiteral("/base/");
    QDir(base).removeRecursively();
    QDir().mkpath(base);
    const QString archive = root + QStringLiteral("/res_ad.zip");
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const QStringList outsideBefore = entriesBelow(root);

    ZipArchive zip;
    try {
        zip.setFileName(archive);
        zip.setPassword(updateArchivePassword());
        zip.OpenArchive();
        zip.setBaseDir(base);
        zip.ExtractFiles(QStringLiteral("*.*"), ZipArchive::anyFileAttributes);
    } catch (const Error&) {
    }
    zip.CloseArchive();

    // Outside the base folder nothing appeared or went.
    QStringList outsideAfter;
    for (const QString& entry : entriesBelow(root))
        if (!entry.startsWith(base))
            outsideAfter.append(entry);
    QStringList expected;
    for (const QString& entry : outsideBefore)
        if (!entry.startsWith(base))
            expected.append(entry);
    if (outsideAfter != expected)
        std::abort();
    return 0;
}
