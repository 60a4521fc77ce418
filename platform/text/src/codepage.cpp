#include "text/codepage.h"

namespace text {

QString decode(const QByteArray& bytes, Page page) {
    return QString::fromStdU16String(
        toUtf16(std::string_view(bytes.constData(), size_t(bytes.size())), page));
}

QByteArray encode(const QString& text, Page page) {
    const std::string bytes = fromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())), page);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

} // namespace text
