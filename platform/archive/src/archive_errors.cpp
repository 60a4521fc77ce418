#include "archive/archive_errors.h"

#include "base/system_error.h"

#include <zip.h>

using base::errnoText;

namespace archive {

namespace {

struct ZipText {
    int code;
    const char* text; // %1: the archive or item; the system's reason follows after a colon
};

// What an operator can meet; the rest gets the general text with libzip's code.
constexpr ZipText zipTexts[] = {
    {ZIP_ER_MULTIDISK, "Многотомные архивы не поддерживаются: %1"},
    {ZIP_ER_SEEK, "Ошибка позиционирования в архиве %1"},
    {ZIP_ER_READ, "Ошибка чтения архива %1"},
    {ZIP_ER_WRITE, "Ошибка записи файла %1"},
    {ZIP_ER_CRC, "Ошибка контрольной суммы (CRC) в файле %1: архив поврежден"},
    {ZIP_ER_NOENT, "Файл %1 не найден"},
    {ZIP_ER_OPEN, "Не удается открыть архив %1"},
    {ZIP_ER_ZLIB, "Ошибка распаковки файла %1: сжатые данные повреждены"},
    {ZIP_ER_MEMORY, "Недостаточно памяти для распаковки %1"},
    {ZIP_ER_COMPNOTSUPP, "Метод сжатия файла %1 не поддерживается"},
    {ZIP_ER_EOF, "Неожиданный конец архива %1: архив поврежден или неполон"},
    {ZIP_ER_NOZIP, "Файл %1 не является архивом ZIP"},
    {ZIP_ER_INCONS, "Архив %1 поврежден"},
    {ZIP_ER_ENCRNOTSUPP, "Метод шифрования файла %1 не поддерживается"},
    {ZIP_ER_NOPASSWD, "Для распаковки файла %1 нужен пароль"},
    {ZIP_ER_WRONGPASSWD, "Неверный пароль для файла %1"},
    {ZIP_ER_TELL, "Ошибка позиционирования в архиве %1"},
#ifdef ZIP_ER_COMPRESSED_DATA
    {ZIP_ER_COMPRESSED_DATA, "Ошибка распаковки файла %1: сжатые данные повреждены"},
#endif
#ifdef ZIP_ER_DATA_LENGTH
    {ZIP_ER_DATA_LENGTH, "Неверная длина данных файла %1: архив поврежден"},
#endif
};

struct FaultText {
    ExtractionFault fault;
    const char* text;
};

constexpr FaultText faultTexts[] = {
    {ExtractionFault::CannotOpenFolder, "Не удается открыть папку %1"},
    {ExtractionFault::CannotCreateFolder, "Не удается создать папку %1"},
    {ExtractionFault::CannotWriteFile, "Не удается записать файл %1"},
    {ExtractionFault::CannotReplaceFile, "Не удается заменить файл %1"},
    {ExtractionFault::FolderIsLink,
     "Папка %1 является символической ссылкой; архив не распакован, файлы программы не изменены"},
    {ExtractionFault::FileInFolderPlace, "Не удается создать папку %1: на её месте находится файл"},
    {ExtractionFault::FolderInFilePlace, "Не удается заменить файл %1: на его месте находится папка"},
    {ExtractionFault::UnsafeName,
     "Элемент архива «%1» указывает за пределы папки распаковки или является ссылкой; архив не распакован"},
    {ExtractionFault::ControlCharacter,
     "Имя элемента архива «%1» содержит управляющие символы; архив не распакован"},
    {ExtractionFault::NamelessItem, "Элемент архива без имени; архив не распакован"},
    {ExtractionFault::ReservedName,
     "Элемент архива «%1» занимает служебное имя программы обновления; архив не распакован"},
    {ExtractionFault::NameTwice, "Имя %1 в архиве означает и файл, и папку; архив не распакован"},
    {ExtractionFault::CannotLock, "Не удается заблокировать папку %1 для обновления"},
    {ExtractionFault::CannotRecover, "Не удается отменить изменения прерванного обновления в папке %1"},
    {ExtractionFault::RollbackFailed,
     "Изменения в папке %1 отменены не полностью; их отменит следующий запуск программы обновления"},
};

QString withReason(QString text, int systemCode) {
    if (systemCode != 0)
        text += QStringLiteral(": ") + QString::fromStdString(errnoText(systemCode));
    return text;
}

} // namespace

QString zipErrorText(int zipCode, int systemCode, const QString& subject) {
    for (const ZipText& entry : zipTexts)
        if (entry.code == zipCode)
            return withReason(QString::fromUtf8(entry.text).arg(subject), systemCode);
    return withReason(QStringLiteral("Ошибка архива %1 (код %2)").arg(subject).arg(zipCode), systemCode);
}

QString extractionFaultText(ExtractionFault fault, const QString& subject, int systemCode) {
    for (const FaultText& entry : faultTexts)
        if (entry.fault == fault)
            return withReason(QString::fromUtf8(entry.text).arg(subject), systemCode);
    return withReason(subject, systemCode);
}

} // namespace archive
