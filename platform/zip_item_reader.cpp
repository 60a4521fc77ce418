#include "platform/zip_item_reader.h"

#include "platform/archive_errors.h"
#include "platform/error.h"

#include <zip.h>

#include <memory>
#include <vector>

namespace {

QString textOf(zip_error_t* error, const QString& subject) {
    const int system = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
    return zipErrorText(zip_error_code_zip(error), system, subject);
}

struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

QString zipArchiveErrorText(zip* archive, const QString& subject) {
    return textOf(zip_get_error(archive), subject);
}

void readItem(zip* archive, std::uint64_t index, const QByteArray& password, const QString& shownName,
              const ItemSink& sink) {
    std::unique_ptr<zip_file_t, FileCloser> file(
        zip_fopen_index_encrypted(archive, index, 0, password.isEmpty() ? nullptr : password.constData()));
    if (!file)
        throw Error(textOf(zip_get_error(archive), shownName).toStdString());
    thread_local std::vector<char> buffer(256 * 1024);
    // libzip tells a damaged item only on the read after its last byte.
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0)
            throw Error(textOf(zip_file_get_error(file.get()), shownName).toStdString());
        if (n == 0)
            break;
        sink(buffer.data(), std::size_t(n));
    }
    const int closed = zip_fclose(file.release());
    if (closed != 0)
        throw Error(zipErrorText(closed, 0, shownName).toStdString());
}
