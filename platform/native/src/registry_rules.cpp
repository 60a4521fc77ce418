#include "native/registry_rules.h"

#include "base/error.h"

using base::Error;

namespace native {

std::u16string readString(const Lookup& found, std::u16string_view name, std::u16string_view defaultText) {
    if (!found.keyOpened)
        return std::u16string(defaultText);
    if (!found.valueExists)
        return defaultText.empty() ? std::u16string() : std::u16string(defaultText);
    if (found.data.empty())
        return {};
    if (found.type != RegSz && found.type != RegExpandSz)
        throw Error(invalidDataTypeMessage(name));
    std::u16string text;
    for (size_t i = 0; i + 1 < found.data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(found.data[i] | (found.data[i + 1] << 8));
        if (c == u'\0')
            break;
        text.push_back(c);
    }
    return text;
}

std::vector<std::uint8_t> stringData(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string invalidDataTypeMessage(std::u16string_view name) {
    return "Invalid data type for '" + toUtf8(name) + "'";
}

std::string failedToCreateKeyMessage(std::u16string_view section) {
    return "Failed to create key " + toUtf8(section);
}

std::string failedToSetDataMessage(std::u16string_view name) {
    return "Failed to set data for '" + toUtf8(name) + "'";
}

} // namespace native
