// Prepares the demo kit: a registry file, an installation of "ВУС бистрал" and an updater folder
// holding the built program, all inside one folder that is made afresh on every run.
//
//   make_demo_kit <kit folder> <built update_3_7>

#include "platform/registry_file.h"

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
        const QString program = updater + QStringLiteral("update_3_7");
        if (!QFile::copy(args[2], program))
            throw std::runtime_error("cannot copy the program from " + args[2].toStdString());

        RegistryFile registry(kit + QStringLiteral("/registry.reg"));
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammPath"), installation);
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("MainBasePath"), QString());
        for (const char* section : {"vus_bistral", "SchoolBase", "VUS_dop"})
            registry.writeString(QString::fromLatin1(section), QStringLiteral("ProgrammVersion"),
                                 QStringLiteral("3.6"));

        QTextStream(stdout) << "Demo kit prepared in " << kit << Qt::endl;
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_demo_kit: %s\n", error.what());
        return 1;
    }
}
