#include "native/codepage_native.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <array>
#include <iconv.h>
#include <mutex>
#include <unordered_map>
#endif

namespace native {

#ifdef _WIN32

namespace {
UINT windowsPage(Page page) {
    return page == Page::Oem ? CP_OEMCP : CP_ACP;
}
} // namespace

std::u16string toUtf16(std::string_view bytes, Page page) {
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(windowsPage(page), 0, bytes.data(), size, nullptr, 0);
    std::u16string text(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(windowsPage(page), 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        length);
    return text;
}

std::string fromUtf16(std::u16string_view text, Page page) {
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(windowsPage(page), 0, wide, size, nullptr, 0, "?", nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(windowsPage(page), 0, wide, size, bytes.data(), length, "?", nullptr);
    return bytes;
}

#else

namespace {

// Both code pages are single-byte, so a table of 256 characters built once from iconv
// decodes everything and never fails half-way.
struct Table {
    std::array<char16_t, 256> toUnicode{};
    std::unordered_map<char16_t, char> fromUnicode;
};

Table buildTable(const char* name) {
    Table table;
    iconv_t cd = iconv_open("UTF-16LE", name);
    for (int byte = 0; byte < 256; ++byte) {
        char in = static_cast<char>(byte);
        unsigned char out[4] = {};
        char* inPtr = &in;
        char* outPtr = reinterpret_cast<char*>(out);
        size_t inLeft = 1;
        size_t outLeft = sizeof out;
        char16_t c = u'\uFFFD';
        if (cd != reinterpret_cast<iconv_t>(-1) &&
            iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && outLeft == 2)
            c = static_cast<char16_t>(out[0] | (out[1] << 8));
        else if (byte < 0x80)
            c = static_cast<char16_t>(byte);
        table.toUnicode[static_cast<size_t>(byte)] = c;
        if (c != u'\uFFFD')
            table.fromUnicode.emplace(c, static_cast<char>(byte));
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
    return table;
}

const Table& table(Page page) {
    static std::once_flag once;
    static Table oem, ansi;
    std::call_once(once, [] {
        oem = buildTable("CP866");
        ansi = buildTable("CP1251");
    });
    return page == Page::Oem ? oem : ansi;
}

} // namespace

std::u16string toUtf16(std::string_view bytes, Page page) {
    const Table& t = table(page);
    std::u16string text;
    text.reserve(bytes.size());
    for (char byte : bytes)
        text.push_back(t.toUnicode[static_cast<unsigned char>(byte)]);
    return text;
}

std::string fromUtf16(std::u16string_view text, Page page) {
    const Table& t = table(page);
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t c : text) {
        auto it = t.fromUnicode.find(c);
        bytes.push_back(it != t.fromUnicode.end() ? it->second : '?');
    }
    return bytes;
}

#endif

} // namespace native
