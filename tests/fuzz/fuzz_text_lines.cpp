// The obsolete-file list: any bytes decode, and no line holds a line break or a NUL.

#include "platform/text_lines.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines =
        text_lines::decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QString& line : lines)
        if (line.contains(u'\n') || line.contains(u'\r') || line.contains(QChar(0)))
            std::abort();
    if (lines != text_lines::decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        std::abort();
    return 0;
}
