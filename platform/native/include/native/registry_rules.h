#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace native {

// The rules by which the kit's programs read and write their registry entries, shared by the
// Windows registry and the registry file. Written without Qt so that the Windows backend keeps them.

enum ValueType : std::uint32_t {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
    RegQword = 11,
};

// What a backend found for one value of one section.
struct Lookup {
    bool keyOpened = false;
    bool valueExists = false;
    std::uint32_t type = RegNone;
    std::vector<std::uint8_t> data; // as stored: string types in UTF-16LE, usually with their NUL
};

// The text of a value read with a default: the default for a missing section, or for a missing value
// when the default is not empty; otherwise the empty text for a missing or empty value, and the text
// up to the first NUL for REG_SZ and REG_EXPAND_SZ (unexpanded). Any other type raises
// "Invalid data type for '<name>'".
std::u16string readString(const Lookup& found, std::u16string_view name, std::u16string_view defaultText);

// The data of a REG_SZ value: the text in UTF-16LE with its terminating NUL.
std::vector<std::uint8_t> stringData(std::u16string_view text);

std::string invalidDataTypeMessage(std::u16string_view name);
std::string failedToCreateKeyMessage(std::u16string_view section);
std::string failedToSetDataMessage(std::u16string_view name);

std::string toUtf8(std::u16string_view text);

} // namespace native
