// The obsolete-file list: any bytes decode, no line holds a line break or a NUL, and only the
// byte-order mark itself is taken off the first line.

#include "text/text_lines.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = text::decodeLines(input);
    for (const QString& line : lines)
        if (line.contains(u'\n') || line.contains(u'\r') || line.contains(QChar(0)))
            std::abort();
    if (lines != text::decodeLines(input))
        std::abort();

    // A second mark is the first character of the text.
    const QByteArray mark("\xEF\xBB\xBF");
    QStringList expected = text::decodeLines(mark + input);
    if (expected.isEmpty())
        expected.append(QString());
    expected.first().prepend(QChar(0xFEFF));
    if (text::decodeLines(mark + mark + input) != expected)
        std::abort();
    return 0;
}
