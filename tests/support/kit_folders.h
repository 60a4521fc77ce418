#pragma once

#include "app/update_archive.h"
#include "support/archive_items.h"
#include "support/kit_archive.h"
#include "support/registry_fixture.h"
#include "support/user_registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A temporary world for one test: a registry file (on Windows the current user's registry, cleared
// of the kit's keys), an updater folder and, on request, an installed kit ("Kit/ВУС бистрал/" with
// bistral.exe and base/MainBase.accdb) that the registry points at.
struct KitFolders {
    explicit KitFolders(const QString& registryBody = QString()) {
        root = native(dir.path() + u'/');
        registryPath = root + QStringLiteral("registry.reg");
#ifdef _WIN32
        user_registry::removeKeys(user_registry::kitSections());
#endif
        if (!registryBody.isNull())
            writeRegistry(registryBody);
        updaterFolder = root + QStringLiteral("updater/");
        QDir().mkpath(updaterFolder + QStringLiteral("res"));
    }

    // The companion program's installation, recorded with the given version.
    void installKit(const QString& version = QStringLiteral("3.6")) {
        installation = native(root + QStringLiteral("Kit/ВУС бистрал/"));
        extraction = native(root + QStringLiteral("Kit/"));
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
        writeRegistry(body);
    }

    // The registry as regedit would export it with `body`: the file, or on Windows the user's keys.
    void writeRegistry(const QString& body) {
#ifdef _WIN32
        user_registry::removeKeys(writtenSections);
        writtenSections = user_registry::apply(regeditFile(body));
#else
        writeBytes(registryPath, regeditFile(body));
#endif
    }

    void writeUpdateArchive(const QList<ArchiveEntry>& entries) {
        writeArchive(archivePath(), entries, updateArchivePassword());
    }
    QString archivePath() const {
        return updaterFolder + updateArchiveFragment();
    }

    // A path as the kit writes it: with backslashes on Windows.
    static QString native(const QString& path) {
#ifdef _WIN32
        return QDir::toNativeSeparators(path);
#else
        return path;
#endif
    }
    static QString escapedForRegistry(QString text) {
        return text.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    }

    // What the registry holds, as bytes that change with any change to the kit's keys.
    QByteArray registrySnapshot() const {
#ifdef _WIN32
        return user_registry::snapshot(user_registry::kitSections() + writtenSections);
#else
        return readBytes(registryPath);
#endif
    }

#ifdef _WIN32
    ~KitFolders() {
        user_registry::removeKeys(user_registry::kitSections());
        user_registry::removeKeys(writtenSections);
    }
    KitFolders(const KitFolders&) = delete;
    KitFolders& operator=(const KitFolders&) = delete;

    QStringList writtenSections;
#endif
    QTemporaryDir dir;
    QString root;
    QString registryPath;
    QString updaterFolder;
    QString installation;
    QString extraction;
};
