#include "native/folder_handle_windows.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>

namespace native {

namespace folder {

namespace {

constexpr NTSTATUS objectNameNotFound = NTSTATUS(0xC0000034L);
constexpr NTSTATUS objectPathNotFound = NTSTATUS(0xC000003AL);

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// One name inside a folder: nothing that leads elsewhere or to a stream of a file.
bool isPlainName(const std::u16string& name) {
    return !name.empty() && name != u"." && name != u".." && name.size() < 32768 &&
           name.find_first_of(std::u16string(u"\\/:\0", 4)) == std::u16string::npos;
}

// Opens `name` relative to `folder`, never through a reparse point at `name` itself.
NTSTATUS openRelative(Handle folder, const std::u16string& name, ACCESS_MASK access, ULONG share,
                      ULONG options, HANDLE& handle) {
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(wide(name));
    objectName.Length = USHORT(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, HANDLE(folder), nullptr);
    IO_STATUS_BLOCK status;
    handle = nullptr;
    return NtOpenFile(&handle, access | SYNCHRONIZE, &attributes, &status, share,
                      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
}

bool attributesOf(HANDLE handle, DWORD& attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    attributes = info.dwFileAttributes;
    return true;
}

constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Marks `name` for deletion when `accept` approves of its attributes.
template <typename Accept> bool removeEntry(Handle folder, const std::u16string& name, Accept accept) {
    if (!folder || !isPlainName(name))
        return false;
    HANDLE handle;
    if (!NT_SUCCESS(openRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES, shareAll, 0, handle)))
        return false;
    DWORD attributes = 0;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool removed =
        attributesOf(handle, attributes) && accept(attributes) &&
        SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
    return removed;
}

} // namespace

Handle open(const std::u16string& path) {
    if (path.empty() || path.find(u'\0') != std::u16string::npos)
        return nullptr;
    const HANDLE handle = CreateFileW(wide(path), folderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD attributes = 0;
    if (!attributesOf(handle, attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return nullptr;
    }
    return handle;
}

Handle child(Handle folder, const std::u16string& name) {
    if (!folder || !isPlainName(name))
        return nullptr;
    HANDLE handle;
    if (!NT_SUCCESS(openRelative(folder, name, folderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_DIRECTORY_FILE, handle)))
        return nullptr;
    DWORD attributes = 0;
    if (!attributesOf(handle, attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return nullptr;
    }
    return handle;
}

void close(Handle folder) {
    if (folder)
        CloseHandle(HANDLE(folder));
}

std::vector<Entry> entries(Handle folder) {
    std::vector<Entry> result;
    if (!folder)
        return result;
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    // Every listing starts at the beginning.
    FILE_INFO_BY_HANDLE_CLASS infoClass = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(HANDLE(folder), infoClass, buffer.data(),
                                        DWORD(buffer.size() * sizeof(LONGLONG)))) {
        infoClass = FileIdBothDirectoryInfo;
        const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            std::u16string name(info->FileNameLength / sizeof(wchar_t), u'\0');
            std::memcpy(name.data(), info->FileName, info->FileNameLength);
            if (name != u"." && name != u"..") {
                const DWORD attributes = info->FileAttributes;
                const Kind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? Kind::Link
                                  : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? Kind::Folder
                                                                              : Kind::Other;
                result.push_back({std::move(name), kind});
            }
            if (info->NextEntryOffset == 0)
                break;
            at += info->NextEntryOffset;
        }
    }
    return result;
}

bool isLinkToFolder(Handle folder, const std::u16string& name) {
    if (!folder || !isPlainName(name))
        return false;
    HANDLE handle;
    if (!NT_SUCCESS(openRelative(folder, name, FILE_READ_ATTRIBUTES, shareAll, 0, handle)))
        return false;
    DWORD attributes = 0;
    const bool link = attributesOf(handle, attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (attributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    return link;
}

bool removeFile(Handle folder, const std::u16string& name) {
    // The system itself refuses a read-only file.
    return removeEntry(folder, name, [](DWORD attributes) {
        return !(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    });
}

bool removeFolder(Handle folder, const std::u16string& name) {
    // The system refuses a folder that is not empty.
    return removeEntry(folder, name, [](DWORD attributes) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    });
}

bool rename(Handle folder, const std::u16string& from, const std::u16string& to) {
    if (!folder || !isPlainName(from) || !isPlainName(to))
        return false;
    HANDLE handle;
    if (!NT_SUCCESS(openRelative(folder, from, DELETE | FILE_READ_ATTRIBUTES, shareAll, 0, handle)))
        return false;
    // The new name is relative to the same folder handle; an existing one is never replaced.
    // (NtSetInformationFile takes the handle where not every SetFileInformationByHandle does.)
    std::vector<LONGLONG> buffer(
        (sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t)) / sizeof(LONGLONG) + 1);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = HANDLE(folder);
    info->FileNameLength = ULONG(to.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, to.data(), info->FileNameLength);
    IO_STATUS_BLOCK status;
    const bool renamed = NT_SUCCESS(NtSetInformationFile(
        handle, &status, info, ULONG(buffer.size() * sizeof(LONGLONG)), FileRenameInformation));
    CloseHandle(handle);
    return renamed;
}

bool exists(Handle folder, const std::u16string& name) {
    if (!folder || !isPlainName(name))
        return false;
    HANDLE handle;
    const NTSTATUS status = openRelative(folder, name, FILE_READ_ATTRIBUTES, shareAll, 0, handle);
    if (NT_SUCCESS(status)) {
        CloseHandle(handle);
        return true;
    }
    // Anything but a plain "not there" may be something that is there.
    return status != objectNameNotFound && status != objectPathNotFound;
}

} // namespace folder

} // namespace native
