#pragma once

// The current user's registry under HKEY_CURRENT_USER\Software, through the Win32 API.
// Built on Windows only, and free of Qt so that it also builds with a bare cross compiler.

#include "native/registry_rules.h"

#include <string>
#include <string_view>

namespace native {

class WindowsRegistry {
public:
    // Opens the section's key with full access, as the kit's programs do; a key that cannot be
    // opened that way reads as missing.
    Lookup lookup(std::u16string_view section, std::u16string_view name) const;
    std::u16string readString(std::u16string_view section, std::u16string_view name,
                              std::u16string_view defaultText) const;
    // Creates the section when missing and sets the value as REG_SZ; raises "Failed to create key …"
    // or "Failed to set data for '…'".
    void writeString(std::u16string_view section, std::u16string_view name, std::u16string_view text) const;
};

} // namespace native
