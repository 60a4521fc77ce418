#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Writes ZIP archives like the update archive (traditional PKWARE encryption, names in the OEM code
// page) for the demo kit, the tests and the benchmarks.
struct ArchiveEntry {
    QByteArray rawName;    // the stored name's bytes
    bool utf8Name = false; // stored with the UTF-8 flag
    QByteArray data;       // the content, unless `sourceFile` is given
    QString sourceFile;    // the content from a file
    bool folder = false;
    std::optional<quint32> unixMode;     // made on Unix: the full st_mode, type bits included
    std::optional<quint8> dosAttributes; // made on DOS
    bool encrypt = true;
    bool compress = true;
};

// A name as an OEM (CP866) archive stores it.
QByteArray oemName(const QString& name);
ArchiveEntry fileEntry(const QString& name, const QByteArray& data);

// Raises std::runtime_error when libzip refuses.
void writeArchive(const QString& path, const QList<ArchiveEntry>& entries, const QByteArray& password);
