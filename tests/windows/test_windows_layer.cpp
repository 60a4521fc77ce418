// The Windows layer on a real implementation of the Windows API: the registry backend with the
// reading and writing rules, the OEM and ANSI code pages, and the executable's folder. Built without
// Qt by a cross compiler; it prints "N passed, N failed" and exits non-zero on any failure.

#include "base/error.h"
#include "native/codepage_native.h"
#include "native/executable_folder_native.h"
#include "native/registry_windows.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using base::Error;
using native::executableFolderNative;

namespace {

int passed = 0;
int failed = 0;

void check(bool condition, const std::string& what) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

// What a read gives: its text, or "error: <message>".
std::string outcome(const std::function<std::u16string()>& read) {
    try {
        return native::toUtf8(read());
    } catch (const Error& error) {
        return std::string("error: ") + error.what();
    }
}

const std::wstring sectionKey = L"Software\\update_3_7_test";
const std::u16string section = u"update_3_7_test";

void setValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, sectionKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void registryReading() {
    RegDeleteTreeW(HKEY_CURRENT_USER, sectionKey.c_str());
    const native::WindowsRegistry reg;
    check(outcome([&] { return reg.readString(section, u"ProgrammPath", u"false"); }) == "false",
          "a missing section gives the default");
    check(outcome([&] { return reg.readString(section, u"ProgrammPath", u""); }).empty(),
          "a missing section with an empty default gives the empty text");

    const wchar_t path[] = L"C:\\Kit\\\x0412\x0423\x0421 \x0431\x0438\x0441\x0442\x0440\x0430\x043b\\";
    setValue(L"ProgrammPath", REG_SZ, path, sizeof path);
    setValue(L"Empty", REG_SZ, L"", sizeof(wchar_t));
    const DWORD number = 36;
    setValue(L"Number", REG_DWORD, &number, sizeof number);
    const wchar_t expand[] = L"%USERPROFILE%\\base.accdb";
    setValue(L"MainBasePath", REG_EXPAND_SZ, expand, sizeof expand);
    const wchar_t withNul[] = L"a\0b";
    setValue(L"WithNul", REG_SZ, withNul, sizeof withNul);
    setValue(L"NoData", REG_BINARY, nullptr, 0);

    struct Case {
        const char* what;
        std::u16string name;
        std::u16string defaultText;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a string", u"ProgrammPath", u"false", "C:\\Kit\\ВУС бистрал\\"},
        {"names ignore letter case", u"PROGRAMMPATH", u"false", "C:\\Kit\\ВУС бистрал\\"},
        {"a missing value gives the default", u"Missing", u"false", "false"},
        {"a missing value with an empty default", u"Missing", u"", ""},
        {"an empty value is not the default", u"Empty", u"false", ""},
        {"REG_EXPAND_SZ reads unexpanded", u"MainBasePath", u"", "%USERPROFILE%\\base.accdb"},
        {"text up to the first NUL", u"WithNul", u"", "a"},
        {"a value without data", u"NoData", u"false", ""},
        {"REG_DWORD is an error", u"Number", u"false", "error: Invalid data type for 'Number'"},
    };
    for (const Case& c : cases)
        check(outcome([&] { return reg.readString(section, c.name, c.defaultText); }) == c.expected,
              std::string("reading: ") + c.what);
}

void registryWriting() {
    RegDeleteTreeW(HKEY_CURRENT_USER, sectionKey.c_str());
    const native::WindowsRegistry reg;
    reg.writeString(section, u"ProgrammVersion", u"3.7");
    check(outcome([&] { return reg.readString(section, u"ProgrammVersion", u""); }) == "3.7",
          "writing creates the section and the value");
    const DWORD number = 36;
    setValue(L"ProgrammVersion", REG_DWORD, &number, sizeof number);
    reg.writeString(section, u"programmversion", u"3.7");
    DWORD type = 0;
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, sectionKey.c_str(), 0, KEY_READ, &key);
    RegQueryValueExW(key, L"ProgrammVersion", nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    check(type == REG_SZ, "a REG_DWORD is replaced by the string");

    // A key name beyond the registry's limit cannot be created.
    const std::u16string tooLong(300, u'k');
    check(outcome([&] {
              reg.writeString(tooLong, u"ProgrammVersion", u"3.7");
              return std::u16string();
          }) == "error: Failed to create key " + std::string(300, 'k'),
          "a key that cannot be created");
    RegDeleteTreeW(HKEY_CURRENT_USER, sectionKey.c_str());
}

void codePages() {
    for (const native::Page page : {native::Page::Oem, native::Page::Ansi}) {
        const char* name = page == native::Page::Oem ? "OEM" : "ANSI";
        std::string all;
        for (int b = 0; b < 256; ++b)
            all.push_back(char(b));
        const std::u16string text = native::toUtf16(all, page);
        check(text.size() == 256, std::string(name) + ": one character a byte");
        check(native::fromUtf16(native::toUtf16(all.substr(0x80), page), page).size() == 128,
              std::string(name) + ": round trip keeps the length");
    }
    const std::u16string russian = u"Сорвентия ВУС бистрал Ёё";
    check(native::toUtf16(native::fromUtf16(russian, native::Page::Oem), native::Page::Oem) == russian,
          "CP866 round trip of Russian text");
    check(native::toUtf16(native::fromUtf16(russian, native::Page::Ansi), native::Page::Ansi) == russian,
          "CP1251 round trip of Russian text");
    check(native::fromUtf16(u"А", native::Page::Oem) == "\x80", "CP866 is the OEM code page");
    check(native::fromUtf16(u"А", native::Page::Ansi) == "\xC0", "CP1251 is the ANSI code page");
}

void executableFolder() {
    const std::u16string folder = executableFolderNative();
    check(!folder.empty() && folder.back() == u'\\', "the executable's folder ends in a backslash");
}

} // namespace

int main() {
    registryReading();
    registryWriting();
    codePages();
    executableFolder();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
