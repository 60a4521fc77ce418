#pragma once

#include <QString>

namespace archive {

// The archive layer's errors in the operator's words, as the archive component of a Russian system
// puts them: one table, keyed by the error, each text naming the archive, the item or the file.
//
// The faults of the extraction itself, beside libzip's own error codes.
enum class ExtractionFault {
    CannotOpenFolder,   // the extraction folder or one below it
    CannotCreateFolder, // a folder of the archive
    CannotWriteFile,    // an item's new data
    CannotReplaceFile,  // moving the old file aside or the new one into place
    FolderIsLink,       // a folder on an item's way is a symbolic link (a junction on Windows)
    FileInFolderPlace,  // a file stands where the archive has a folder
    FolderInFilePlace,  // a folder stands where the archive has a file
    UnsafeName,         // an item that would land outside the folder, or a link
    ControlCharacter,   // an item name with a control character
    NamelessItem,
    ReservedName, // a name the updater keeps for itself in the extraction folder
    NameTwice,    // one name both a file and a folder of the archive
    CannotLock,
    CannotRecover,  // a killed run's changes could not be undone
    RollbackFailed, // this run's changes could not all be undone yet
};

// libzip's `zipCode` about `subject` (the archive's path or an item's name); `systemCode`, when not
// 0, is the errno value behind it.
QString zipErrorText(int zipCode, int systemCode, const QString& subject);
QString extractionFaultText(ExtractionFault fault, const QString& subject, int systemCode = 0);

} // namespace archive
