#pragma once

#include <QString>

// The version data: constant answers, the one source of the version that the window shows and the
// registry update records.
class TDM {
public:
    int Major_version() const { return 3; }
    int Minor_version() const { return 7; }
    QString ProgrammName() const { return QStringLiteral("Сорвентия"); }
    QString ProgrammVersion_Previous() const { return QStringLiteral("3.6"); }
    QString Programm_version() const { return QStringLiteral("3.7"); }
};
