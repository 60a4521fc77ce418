// FolderHandle's Windows layer on a real implementation of the Windows API: folders held by handle
// without delete sharing, entries listed, removed and renamed relative to the handle, reparse points
// never followed. Built without Qt by a cross compiler; it prints "N passed, N failed" (and what it
// could not try) and exits non-zero on any failure.

#include "native/folder_handle_windows.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void check(bool condition, const char* what) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what);
    }
}

using native::folder::Handle;
using native::folder::Kind;

std::u16string u16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

const wchar_t* w(const std::wstring& text) {
    return text.c_str();
}

bool makeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const HANDLE file = CreateFileW(w(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, "x", 1, &written, nullptr);
    CloseHandle(file);
    return true;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(w(path)) != INVALID_FILE_ATTRIBUTES;
}

// A junction at `link` to the folder `target` (a full path), as `mklink /J` makes it.
bool makeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(w(link), nullptr))
        return false;
    const HANDLE handle = CreateFileW(w(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring substitute = L"\\??\\" + target;
    const USHORT substituteBytes = USHORT(substitute.size() * sizeof(wchar_t));
    const USHORT printBytes = USHORT(target.size() * sizeof(wchar_t));
    // Tag, data length, reserved; offsets and lengths of the two names; the names, each ended.
    std::vector<BYTE> buffer(8 + 8 + substituteBytes + 2 + printBytes + 2);
    auto put16 = [&](size_t at, USHORT value) { std::memcpy(&buffer[at], &value, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, USHORT(buffer.size() - 8));
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, USHORT(substituteBytes + 2));
    put16(14, printBytes);
    std::memcpy(&buffer[16], substitute.data(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + 2], target.data(), printBytes);
    DWORD returned = 0;
    const bool made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(), DWORD(buffer.size()),
                                      nullptr, 0, &returned, nullptr);
    CloseHandle(handle);
    if (!made)
        RemoveDirectoryW(w(link));
    return made;
}

// A folder of its own for this run.
std::wstring makeRoot() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, temp);
    for (unsigned attempt = GetTickCount();; ++attempt) {
        const std::wstring root = std::wstring(temp) + L"folder_handle_" + std::to_wstring(attempt);
        if (CreateDirectoryW(w(root), nullptr))
            return root;
    }
}

// Removes a tree; a link goes itself, never what it leads to.
void removeTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(w(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(w(path), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(w(path));
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(w(path + L"\\*"), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    removeTree(path + L"\\" + name);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    RemoveDirectoryW(w(path));
}

void entriesAndChildren(const std::wstring& root) {
    const std::wstring base = root + L"\\entries";
    CreateDirectoryW(w(base), nullptr);
    const std::wstring cyrillic = L"\x0410\x043a\x0442.doc";
    makeFile(base + L"\\" + cyrillic);
    makeFile(base + L"\\.hidden", FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryW(w(base + L"\\sub"), nullptr);
    CreateDirectoryW(w(base + L"\\.folder"), nullptr);

    const Handle folder = native::folder::open(u16(base));
    check(folder != nullptr, "a folder opens by its path");
    std::vector<std::string> seen;
    for (const native::folder::Entry& entry : native::folder::entries(folder)) {
        std::string name;
        for (char16_t c : entry.name)
            name += c < 0x80 ? char(c) : '#';
        seen.push_back(name + (entry.kind == Kind::Folder ? "/" : entry.kind == Kind::Link ? "@" : ""));
    }
    std::sort(seen.begin(), seen.end());
    check(seen == std::vector<std::string>{"###.doc", ".folder/", ".hidden", "sub/"},
          "entries name every kind, hidden ones included, and no dot entries");
    check(native::folder::entries(folder).size() == 4, "a second listing starts at the beginning");
    check(native::folder::open(u16(base + L"\\" + cyrillic)) == nullptr, "a file does not open as a folder");

    const Handle sub = native::folder::child(folder, u"sub");
    check(sub != nullptr, "a subfolder opens relative to its folder");
    check(native::folder::child(folder, u16(cyrillic)) == nullptr, "a file is no child folder");
    check(native::folder::child(folder, u"missing") == nullptr, "a missing child does not open");
    check(native::folder::child(folder, u"..") == nullptr &&
              native::folder::child(folder, u"sub\\..") == nullptr,
          "no name leads out of the folder");
    // Held without delete sharing, the folder cannot be moved away or swapped for a link meanwhile.
    check(!MoveFileW(w(base + L"\\sub"), w(base + L"\\moved")), "a held folder cannot be renamed");
    check(!RemoveDirectoryW(w(base + L"\\sub")), "a held folder cannot be removed");
    check(!native::folder::removeFolder(folder, u"sub"), "nor through the handle");
    native::folder::close(sub);
    check(native::folder::removeFolder(folder, u"sub") && !exists(base + L"\\sub"),
          "once let go, an empty folder is removed by name");
    native::folder::close(folder);
}

void removals(const std::wstring& root) {
    const std::wstring base = root + L"\\removals";
    CreateDirectoryW(w(base), nullptr);
    makeFile(base + L"\\file");
    makeFile(base + L"\\read-only", FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(w(base + L"\\empty"), nullptr);
    CreateDirectoryW(w(base + L"\\full"), nullptr);
    makeFile(base + L"\\full\\inner");

    const Handle folder = native::folder::open(u16(base));
    check(native::folder::removeFile(folder, u"file") && !exists(base + L"\\file"), "a file is removed");
    check(!native::folder::removeFile(folder, u"read-only") && exists(base + L"\\read-only"),
          "a read-only file stays");
    check(!native::folder::removeFile(folder, u"empty") && exists(base + L"\\empty"),
          "removeFile refuses a folder");
    check(!native::folder::removeFolder(folder, u"full") && exists(base + L"\\full\\inner"),
          "a folder that is not empty stays");
    check(!native::folder::removeFolder(folder, u"read-only") && exists(base + L"\\read-only"),
          "removeFolder refuses a file");
    check(native::folder::removeFolder(folder, u"empty") && !exists(base + L"\\empty"),
          "an empty folder goes");
    check(!native::folder::removeFile(folder, u"missing"), "a missing file is no success");
    native::folder::close(folder);
    SetFileAttributesW(w(base + L"\\read-only"), FILE_ATTRIBUTE_NORMAL);
}

void renames(const std::wstring& root) {
    const std::wstring base = root + L"\\renames";
    CreateDirectoryW(w(base), nullptr);
    CreateDirectoryW(w(base + L"\\a"), nullptr);
    CreateDirectoryW(w(base + L"\\taken"), nullptr);
    makeFile(base + L"\\file");

    const Handle folder = native::folder::open(u16(base));
    const std::u16string encoded = u"x_qst_y_2pn_z \x0424\x043e\x0442\x043e";
    check(native::folder::rename(folder, u"a", encoded) &&
              exists(base + L"\\" + std::wstring(encoded.begin(), encoded.end())),
          "a folder is renamed within its folder");
    check(!native::folder::rename(folder, u"taken", u"file") && exists(base + L"\\taken"),
          "an existing file is never replaced");
    CreateDirectoryW(w(base + L"\\b"), nullptr);
    check(!native::folder::rename(folder, u"b", u"taken") && exists(base + L"\\b"),
          "nor an existing empty folder");
    check(native::folder::exists(folder, u"taken") && !native::folder::exists(folder, u"missing"),
          "exists tells a name that is there");
    check(!native::folder::rename(folder, u"b", u"..\\b") && !native::folder::rename(folder, u"b", u"c:d"),
          "a new name is one name of this folder");
    native::folder::close(folder);
}

void reparsePoints(const std::wstring& root) {
    const std::wstring base = root + L"\\links";
    const std::wstring outside = root + L"\\outside";
    CreateDirectoryW(w(base), nullptr);
    CreateDirectoryW(w(outside), nullptr);
    makeFile(outside + L"\\victim");
    if (!makeJunction(base + L"\\j?", outside) && !makeJunction(base + L"\\junction", outside)) {
        std::printf("NOT TRIED: this system makes no junctions (error %lu), so following one is not tested\n",
                    GetLastError());
        return;
    }
    const bool reserved = exists(base + L"\\j?");
    const std::u16string name = reserved ? u"j?" : u"junction";
    const Handle folder = native::folder::open(u16(base));
    const std::vector<native::folder::Entry> entries = native::folder::entries(folder);
    check(entries.size() == 1 && entries[0].kind == Kind::Link, "a junction is listed as a link");
    check(native::folder::child(folder, name) == nullptr, "a junction does not open as a child");
    check(native::folder::isLinkToFolder(folder, name), "a junction is a link to a folder");
    check(native::folder::rename(folder, name, u"renamed") && exists(outside + L"\\victim"),
          "a junction is renamed itself");
    check(!native::folder::removeFolder(folder, u"renamed"), "removeFolder refuses a junction");
    check(native::folder::removeFile(folder, u"renamed") && exists(outside + L"\\victim") &&
              !exists(base + L"\\renamed"),
          "removing a junction removes the link, never what it leads to");
    native::folder::close(folder);
}

} // namespace

int main() {
    const std::wstring root = makeRoot();
    entriesAndChildren(root);
    removals(root);
    renames(root);
    reparsePoints(root);
    removeTree(root);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
