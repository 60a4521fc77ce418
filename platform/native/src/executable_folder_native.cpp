#include "native/executable_folder_native.h"

#include <windows.h>

namespace native {

std::u16string executableFolderNative() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2); // a long path: try again with room for it
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return {};
    return std::u16string(path.begin(), path.begin() + long(slash) + 1);
}

} // namespace native
