#pragma once

#include <string>
#include <string_view>

namespace native {

// 8-bit code pages without Qt, so that the same conversions build for Windows.
// Off Windows the OEM code page is 866 and the ANSI code page 1251 (the kit's Russian systems);
// on Windows they are the system's own.

enum class Page { Oem, Ansi };

// Every byte decodes to something: a byte the code page leaves undefined becomes U+FFFD.
std::u16string toUtf16(std::string_view bytes, Page page);
// A character the code page lacks becomes '?'.
std::string fromUtf16(std::u16string_view text, Page page);

} // namespace native
