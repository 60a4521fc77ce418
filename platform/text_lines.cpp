#include "platform/text_lines.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace text_lines {

namespace {

QString decodeText(const QByteArray& bytes) {
    const auto decodeAfterMark = [&](QStringConverter::Encoding encoding, qsizetype markSize) {
        QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
        return QString(decoder.decode(QByteArrayView(bytes).sliced(markSize)));
    };
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return decodeAfterMark(QStringConverter::Utf8, 3);
    if (bytes.startsWith("\xFF\xFE"))
        return decodeAfterMark(QStringConverter::Utf16LE, 2);
    if (bytes.startsWith("\xFE\xFF"))
        return decodeAfterMark(QStringConverter::Utf16BE, 2);
    return codepage::decode(bytes, codepage::Page::Ansi);
}

} // namespace

QStringList decode(const QByteArray& bytes) {
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

QStringList load(const QString& path) {
    QFile file(path);
    const auto fail = [&] {
        return Error(QStringLiteral("Cannot open file \"%1\". %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString())
                         .toStdString());
    };
    if (!file.open(QIODevice::ReadOnly))
        throw fail();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fail();
    return decode(bytes);
}

} // namespace text_lines
