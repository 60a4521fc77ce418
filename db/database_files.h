#pragma once

#include "filesystem/paths.h"

#include <QString>

#include <initializer_list>

// The database files the steps open, by role, with their passwords.
//
// | Role                          | File                                                    | Password   |
// |-------------------------------|---------------------------------------------------------|------------|
// | school database               | registry SchoolBase\path, or a file the operator picks  | main       |
// | AD working copy               | the picked AD database copied into <updater>out\        | main       |
// | main working copy             | <updater>res\MainBase.accdb copied to <updater>out\     | main       |
// | database of "ВУС бистрал"     | registry vus_bistral\MainBasePath, else                 | not opened |
// |                               | <installation>base\MainBase.accdb                       |            |
// | curriculum database           | <updater>res\vus_845.accdb                              | curriculum |
// | SOATO source database         | <updater>res\soato.accdb                                | no part    |
// | main address database         | <installation>OtherBase\adress.accdb, made from the     | empty      |
// |                               | spare copy <updater>res\adress.accdb when missing       |            |
// | module address databases      | adress.accdb in the ProgrammPath folder of VUSBase,     | empty      |
// |                               | SchoolBase and VUS_dop                                  |            |
// | updater-side address database | adress.accdb in the updater folder without "\Архив"     | no part    |
namespace db {

inline const QString mainDatabasePassword = QStringLiteral("Wm4tRz8QbLx2NcVe");
inline const QString curriculumDatabasePassword = QStringLiteral("Pq7GhTz3LmRwa");

namespace locations {

inline const QString resFolder = QStringLiteral("res");
inline const QString inFolder = QStringLiteral("in");
inline const QString outFolder = QStringLiteral("out");
inline const QString companionBaseFolder = QStringLiteral("base");
inline const QString otherBaseFolder = QStringLiteral("OtherBase");

inline const QString mainBase = QStringLiteral("MainBase.accdb");
inline const QString curriculumBase = QStringLiteral("vus_845.accdb");
inline const QString soatoBase = QStringLiteral("soato.accdb");
inline const QString adressBase = QStringLiteral("adress.accdb");

// Removed from the updater folder's path to find the updater-side address database.
inline const QString archiveFolderName = QStringLiteral("\\Архив");

// `folder` (which ends in a separator) followed by `parts` joined by the platform's separator, as
// "res\soato.accdb" follows the updater folder.
inline QString pathIn(const QString& folder, std::initializer_list<QString> parts) {
    QString path = folder;
    bool first = true;
    for (const QString& part : parts) {
        if (!first)
            path += filesystem::separator();
        path += part;
        first = false;
    }
    return path;
}

} // namespace locations
} // namespace db
