#include "base/system_error.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#endif

namespace base {

namespace {

// The texts a Russian Windows gives for the errors an operator meets with files.
const char* russianText(int code) {
    switch (code) {
    case ENOENT:
        return "Не удается найти указанный файл";
    case ENOTDIR:
        return "Не удается найти указанный путь";
    case EACCES:
    case EPERM:
        return "Отказано в доступе";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "Недостаточно места на диске";
    case EFBIG:
        return "Файл слишком велик";
    case EROFS:
        return "Диск защищен от записи";
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом";
    case ENAMETOOLONG:
        return "Имя файла или его расширение имеет неверную длину";
    case EMFILE:
    case ENFILE:
        return "Системе не удается открыть файл: открыто слишком много файлов";
    case EIO:
        return "Ошибка ввода/вывода на устройстве";
    case EEXIST:
        return "Файл уже существует";
    case EISDIR:
        return "Указанный путь является папкой";
    case ENOTEMPTY:
        return "Папка не пуста";
    case ELOOP:
        return "Путь содержит символическую ссылку";
    case EXDEV:
        return "Система не может переместить файл на другой диск";
    case ENOMEM:
        return "Недостаточно памяти для обработки команды";
    default:
        return nullptr;
    }
}

} // namespace

std::string errnoText(int code) {
    if (const char* text = russianText(code))
        return text;
#ifdef _WIN32
    return std::strerror(code);
#else
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const auto text = strerror_r(code, buffer, sizeof buffer);
    if constexpr (std::is_same_v<std::decay_t<decltype(text)>, char*>)
        return text;
    else
        return text == 0 ? buffer : "Системная ошибка " + std::to_string(code);
#endif
}

#ifdef _WIN32

std::string systemErrorText(unsigned long code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return russianText(ENOENT);
    case ERROR_PATH_NOT_FOUND:
        return russianText(ENOTDIR);
    case ERROR_ACCESS_DENIED:
        return russianText(EACCES);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return russianText(ENOSPC);
    case ERROR_WRITE_PROTECT:
        return russianText(EROFS);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return russianText(EBUSY);
    case ERROR_FILENAME_EXCED_RANGE:
        return russianText(ENAMETOOLONG);
    case ERROR_TOO_MANY_OPEN_FILES:
        return russianText(EMFILE);
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
        return russianText(EIO);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return russianText(EEXIST);
    case ERROR_DIR_NOT_EMPTY:
        return russianText(ENOTEMPTY);
    case ERROR_NOT_SAME_DEVICE:
        return russianText(EXDEV);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return russianText(ENOMEM);
    default:
        break;
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length > 0) {
        DWORD kept = length;
        while (kept > 0 && (text[kept - 1] == L'\r' || text[kept - 1] == L'\n' || text[kept - 1] == L'.'))
            --kept;
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, int(kept), nullptr, 0, nullptr, nullptr);
        result.resize(size_t(size));
        WideCharToMultiByte(CP_UTF8, 0, text, int(kept), result.data(), size, nullptr, nullptr);
    } else {
        result = "Системная ошибка " + std::to_string(code);
    }
    LocalFree(text);
    return result;
}

#endif

} // namespace base
