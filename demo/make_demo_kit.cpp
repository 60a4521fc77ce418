// Prepares the demo kit: a registry file, an installation of "ВУС бистрал" and an updater folder
// holding the built program and its update archive, all inside one folder made afresh on every run.
//
//   make_demo_kit <kit folder> <built update_3_7>

#include "app/update_archive.h"
#include "support/kit_archive.h"
#ifndef _WIN32
#include "registry/registry_file.h"

using registry::RegistryFile;
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

#ifdef _WIN32
// Windows keeps the values in its registry: the kit gets a file for "regedit /s" to import, in the
// UTF-16 that regedit itself writes.
void writeRegistryImport(const QString& path, const QString& installation) {
    const auto quoted = [](QString text) {
        return u'"' + text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\"")) +
               u'"';
    };
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n");
    for (const char* section : {"vus_bistral", "SchoolBase", "VUS_dop"}) {
        text += QStringLiteral("\r\n[HKEY_CURRENT_USER\\Software\\%1]\r\n").arg(QString::fromLatin1(section));
        if (QLatin1String(section) == QLatin1String("vus_bistral"))
            text += QStringLiteral("\"ProgrammPath\"=") + quoted(QDir::toNativeSeparators(installation)) +
                    QStringLiteral("\r\n\"MainBasePath\"=\"\"\r\n");
        text += QStringLiteral("\"ProgrammVersion\"=\"3.6\"\r\n");
    }
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    writeFile(path, bytes);
}
#endif

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() != 3) {
        std::fputs("usage: make_demo_kit <kit folder> <built update_3_7>\n", stderr);
        return 2;
    }
    try {
        const QString kit = QDir(args[1]).absolutePath();
        QDir(kit).removeRecursively();
        const QString installation = kit + QStringLiteral("/Kit/ВУС бистрал/");
        const QString updater = kit + QStringLiteral("/update_3_7/");

        writeFile(installation + QStringLiteral("bistral.exe"), "demo companion program\n");
        writeFile(installation + QStringLiteral("base/MainBase.accdb"), "demo database\n");
        QDir().mkpath(updater + QStringLiteral("res"));
#ifdef _WIN32
        const QString updaterProgram = updater + QStringLiteral("update_3_7.exe");
#else
        const QString updaterProgram = updater + QStringLiteral("update_3_7");
#endif
        if (!QFile::copy(args[2], updaterProgram))
            throw std::runtime_error("cannot copy the program from " + args[2].toStdString());

        // The new program files, as the update ships them: OEM names, encrypted items.
        ArchiveEntry program = fileEntry(QStringLiteral("Сорвентия/Сорвентия.exe"), "Сорвентия 3.7\n");
        program.unixMode = 0100755;
        writeArchive(
            updater + updateArchiveFragment(),
            {program,
             fileEntry(QStringLiteral("Сорвентия/readme.txt"), "Сорвентия, версия 3.7 от 10.03.2022\n"),
             fileEntry(QStringLiteral("Сорвентия/docs/Руководство оператора.txt"),
                       QStringLiteral("Руководство оператора\n").repeated(50).toUtf8()),
             fileEntry(QStringLiteral("ВУС бистрал/modules/sorventia.dll"), QByteArray(4096, '\x5A'))},
            updateArchivePassword());

#ifdef _WIN32
        writeRegistryImport(kit + QStringLiteral("/registry.reg"), installation);
#else
        RegistryFile registry(kit + QStringLiteral("/registry.reg"));
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammPath"), installation);
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("MainBasePath"), QString());
        for (const char* section : {"vus_bistral", "SchoolBase", "VUS_dop"})
            registry.writeString(QString::fromLatin1(section), QStringLiteral("ProgrammVersion"),
                                 QStringLiteral("3.6"));
#endif

        QTextStream(stdout) << "Demo kit prepared in " << kit << Qt::endl;
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_demo_kit: %s\n", error.what());
        return 1;
    }
}
