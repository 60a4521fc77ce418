#include "native/registry_windows.h"

#include "base/error.h"

#include <windows.h>

using base::Error;

namespace native {

namespace {

std::wstring keyPath(std::u16string_view section) {
    std::wstring path = L"Software\\";
    path.append(section.begin(), section.end());
    return path;
}

std::wstring wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

class Key {
public:
    explicit Key(HKEY handle)
        : m_handle(handle) {}
    ~Key() {
        if (m_handle)
            RegCloseKey(m_handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return m_handle; }

private:
    HKEY m_handle;
};

} // namespace

Lookup WindowsRegistry::lookup(std::u16string_view section, std::u16string_view name) const {
    Lookup found;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath(section).c_str(), 0, KEY_ALL_ACCESS, &handle) !=
        ERROR_SUCCESS)
        return found;
    Key key(handle);
    found.keyOpened = true;
    const std::wstring valueName = wide(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return found;
    found.valueExists = true;
    found.type = type;
    found.data.resize(size);
    if (size > 0) {
        if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, found.data.data(), &size) !=
            ERROR_SUCCESS)
            throw Error(invalidDataTypeMessage(name));
        found.data.resize(size);
    }
    return found;
}

std::u16string WindowsRegistry::readString(std::u16string_view section, std::u16string_view name,
                                           std::u16string_view defaultText) const {
    return native::readString(lookup(section, name), name, defaultText);
}

void WindowsRegistry::writeString(std::u16string_view section, std::u16string_view name,
                                  std::u16string_view text) const {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        throw Error(failedToCreateKeyMessage(section));
    Key key(handle);
    const std::vector<std::uint8_t> data = stringData(text);
    if (RegSetValueExW(key.get(), wide(name).c_str(), 0, REG_SZ, data.data(),
                       static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        throw Error(failedToSetDataMessage(name));
}

} // namespace native
