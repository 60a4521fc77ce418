#pragma once

#include "app/update_archive.h"
#include "support/archive_items.h"
#include "support/kit_archive.h"
#include "support/registry_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A temporary world for one test: a registry file, an updater folder and, on request, an installed
// kit ("Kit/ВУС бистрал/" with bistral.exe and base/MainBase.accdb) that the registry points at.
struct KitFolders {
    explicit KitFolders(const QString& registryBody = QString()) {
        root = dir.path() + u'/';
        registryPath = root + QStringLiteral("registry.reg");
        if (!registryBody.isNull())
            writeBytes(registryPath, regeditFile(registryBody));
        updaterFolder = root + QStringLiteral("updater/");
        QDir().mkpath(updaterFolder + QStringLiteral("res"));
    }

    // The companion program's installation, recorded with the given version.
    void installKit(const QString& version = QStringLiteral("3.6")) {
        installation = root + QStringLiteral("Kit/ВУС бистрал/");
        extraction = root + QStringLiteral("Kit/");
        QDir().mkpath(installation + QStringLiteral("base"));
        writeBytes(installation + QStringLiteral("bistral.exe"), "companion");
        writeBytes(installation + QStringLiteral("base/MainBase.accdb"), "database");
        QString body = QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=\"%1\"\n")
                           .arg(escapedForRegistry(installation));
        if (!version.isNull())
            body += QStringLiteral("\"ProgrammVersion\"=\"%1\"\n").arg(version);
        for (const char* section : {"SchoolBase", "VUS_dop", "VUSBase"})
            body += QStringLiteral("\n[HKEY_CURRENT_USER\\Software\\%1]\n\"ProgrammVersion\"=\"3.6\"\n")
                        .arg(QString::fromLatin1(section));
        writeBytes(registryPath, regeditFile(body));
    }

    void writeUpdateArchive(const QList<ArchiveEntry>& entries) {
        writeArchive(archivePath(), entries, updateArchivePassword());
    }
    QString archivePath() const { return updaterFolder + updateArchiveFragment(); }

    static QString escapedForRegistry(QString text) {
        return text.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    }

    QTemporaryDir dir;
    QString root;
    QString registryPath;
    QString updaterFolder;
    QString installation;
    QString extraction;
};
