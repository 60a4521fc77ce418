#include "support/kit_archive.h"

#include "text/codepage.h"

#include <QFile>

#include <stdexcept>
#include <zip.h>

QByteArray oemName(const QString& name) {
    return text::encode(name, text::Page::Oem);
}

ArchiveEntry fileEntry(const QString& name, const QByteArray& data) {
    ArchiveEntry entry;
    entry.rawName = oemName(name);
    entry.data = data;
    return entry;
}

void writeArchive(const QString& path, const QList<ArchiveEntry>& entries, const QByteArray& password) {
    if (entries.isEmpty()) {
        // libzip writes no file for an archive without items: the end record alone is one.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')) != 22)
            throw std::runtime_error("cannot write " + path.toStdString());
        return;
    }
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive)
        throw std::runtime_error("cannot create " + path.toStdString());
    const auto check = [&](bool ok, const char* what) {
        if (!ok) {
            const std::string why = std::string(what) + ": " + zip_strerror(archive);
            zip_discard(archive);
            throw std::runtime_error(why);
        }
    };
    for (const ArchiveEntry& entry : entries) {
        const zip_flags_t nameFlags = entry.utf8Name ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_RAW;
        zip_int64_t index;
        if (entry.folder) {
            index = zip_dir_add(archive, entry.rawName.constData(), nameFlags);
            check(index >= 0, "zip_dir_add");
        } else {
            zip_source_t* source =
                entry.sourceFile.isEmpty()
                    ? zip_source_buffer(archive, entry.data.constData(), zip_uint64_t(entry.data.size()), 0)
                    : zip_source_file(archive, QFile::encodeName(entry.sourceFile).constData(), 0, -1);
            check(source != nullptr, "zip_source");
            index = zip_file_add(archive, entry.rawName.constData(), source, nameFlags | ZIP_FL_OVERWRITE);
            if (index < 0)
                zip_source_free(source);
            check(index >= 0, "zip_file_add");
            check(zip_set_file_compression(archive, zip_uint64_t(index),
                                           entry.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) == 0,
                  "zip_set_file_compression");
            if (entry.encrypt)
                check(zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_TRAD_PKWARE,
                                              password.constData()) == 0,
                      "zip_file_set_encryption");
        }
        // No zip_file_set_mtime: libzip 1.7 then writes a password check byte that no reader accepts.
        if (entry.unixMode)
            check(zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                                   *entry.unixMode << 16) == 0,
                  "zip_file_set_external_attributes");
        else if (entry.dosAttributes)
            check(zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_DOS,
                                                   *entry.dosAttributes) == 0,
                  "zip_file_set_external_attributes");
    }
    check(zip_close(archive) == 0, "zip_close");
}
