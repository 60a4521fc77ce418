#include "text/text_lines.h"

#include "base/error.h"
#include "text/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#ifndef _WIN32
#include "base/system_error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#endif

using base::Error;
#ifndef _WIN32
using base::errnoText;
#endif

namespace text {

namespace {

QString decodeText(const QByteArray& bytes) {
    const auto decodeAfterMark = [&](QStringConverter::Encoding encoding, qsizetype markSize) {
        // Only the mark itself goes: a U+FEFF after it belongs to the first line.
        QStringDecoder decoder(encoding,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        return QString(decoder.decode(QByteArrayView(bytes).sliced(markSize)));
    };
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return decodeAfterMark(QStringConverter::Utf8, 3);
    if (bytes.startsWith("\xFF\xFE"))
        return decodeAfterMark(QStringConverter::Utf16LE, 2);
    if (bytes.startsWith("\xFE\xFF"))
        return decodeAfterMark(QStringConverter::Utf16BE, 2);
    return text::decode(bytes, Page::Ansi);
}

} // namespace

QStringList decodeLines(const QByteArray& bytes) {
    QString text = decodeText(bytes);
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0)
        text.truncate(nul);

    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.sliced(start));
    return lines;
}

QStringList loadLines(const QString& path) {
    const auto fail = [&](const QString& reason) {
        return Error(QStringLiteral("Не удаётся открыть файл \"%1\". %2")
                         .arg(QDir::toNativeSeparators(path), reason)
                         .toStdString());
    };
    const QString notAFile = QStringLiteral("Это не обычный файл");
    const QString tooLarge = QStringLiteral("Файл больше %1 байт").arg(maxFileSize);
#ifdef _WIN32
    const QFileInfo info(path);
    QFile file(path);
    if (info.exists() && !info.isFile())
        throw fail(notAFile);
    if (!file.open(QIODevice::ReadOnly))
        throw fail(file.errorString());
    if (file.size() > maxFileSize)
        throw fail(tooLarge);
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw fail(file.errorString());
#else
    // Without blocking: a named pipe or a device in the file's place must not hold the program.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw fail(QString::fromStdString(errnoText(errno)));
    const struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw fail(QString::fromStdString(errnoText(errno)));
    if (S_ISDIR(status.st_mode))
        throw fail(QString::fromStdString(errnoText(EISDIR)));
    if (!S_ISREG(status.st_mode))
        throw fail(notAFile);
    if (status.st_size > maxFileSize)
        throw fail(tooLarge);
    QByteArray bytes(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw fail(QString::fromStdString(errnoText(errno)));
        if (n == 0)
            break;
        got += n;
        // A file that grows while it is read is read up to the limit.
        if (got == bytes.size() && got <= maxFileSize)
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, maxFileSize + 1));
    }
    if (got > maxFileSize)
        throw fail(tooLarge);
    bytes.truncate(got);
#endif
    return decodeLines(bytes);
}

} // namespace text
