// Faults during an update, with the built updater as a separate process: the disk fills during the
// extraction, the registry file cannot be replaced, the program is killed at random moments.

#include "app/update_lock.h"
#include "archive/extraction_transaction.h"
#include "base/error.h"
#include "registry/registry_file.h"
#include "registry/registry_file_format.h"
#include "support/folder_tree.h"
#include "support/kit_folders.h"
#include "support/updater_process.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using archive::ExtractionTransaction;
using base::Error;
using registry::RegistryFile;

namespace {

const QString successLine = QStringLiteral("Процедура обновления успешно завершена...");
const QString extractedLine = QStringLiteral("Копирование файлов завершено");
const QStringList versionSections = {QStringLiteral("vus_bistral"), QStringLiteral("SchoolBase"),
                                     QStringLiteral("VUS_dop")};

// An item of the update archive and what the kit held at its place before (null: nothing).
struct Target {
    QString name;
    QByteArray oldData;
    QByteArray newData;
};

// Bytes of their own for each seed, so that no target can pass for another.
QByteArray content(int seed, qsizetype size) {
    QByteArray data(size, char(seed));
    for (qsizetype k = 0; k < size; k += 61)
        data[k] = char(k * 31 + seed);
    return data;
}

// Replaced files in the root and in folders, and one new file in a new folder.
QList<Target> fiveTargets() {
    return {
        {QStringLiteral("a.dll"), "old a", content(1, 40 * 1024)},
        {QStringLiteral("docs/b.txt"), "old b", content(2, 5000)},
        {QStringLiteral("lib/c.bin"), "old c", content(3, 60 * 1024)},
        {QStringLiteral("lib/d.bin"), "old d", content(4, 30 * 1024)},
        {QStringLiteral("new/e.txt"), QByteArray(), content(5, 3000)},
    };
}

// Puts the kit's old files back (and removes the targets it did not have).
void installOldFiles(const KitFolders& kit, const QList<Target>& targets) {
    for (const Target& target : targets) {
        const QString path = kit.extraction + target.name;
        QFile::remove(path);
        if (target.oldData.isNull())
            continue;
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeBytes(path, target.oldData);
    }
}

void prepareKit(KitFolders& kit, const QList<Target>& targets) {
    kit.installKit();
    installOldFiles(kit, targets);
    QList<ArchiveEntry> entries;
    for (const Target& target : targets) {
        ArchiveEntry entry = fileEntry(target.name, target.newData);
        entry.compress = false; // the size on disk is the size in the archive
        entries.append(entry);
    }
    kit.writeUpdateArchive(entries);
}

// Every file below `folder`, by its path relative to it.
QMap<QString, QByteArray> filesBelow(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), readBytes(path));
    }
    return files;
}

// What a killed run may leave in the kit until the next run: its staging folder and its lock file.
bool isLeftover(const QString& path) {
    return path.startsWith(ExtractionTransaction::stagingFolderName() + u'/') ||
           path == UpdateLock::fileName();
}

enum class Leftovers { Forbidden, Allowed };

// What is wrong with the kit's folder: a target neither old nor new, a file nobody put there, or
// (when forbidden) a temporary file. Empty when nothing is.
QString kitProblem(const KitFolders& kit, const QList<Target>& targets, Leftovers leftovers) {
    QMap<QString, QByteArray> files = filesBelow(kit.extraction);
    for (const char* own : {"ВУС бистрал/bistral.exe", "ВУС бистрал/base/MainBase.accdb"})
        if (!files.remove(QString::fromUtf8(own)))
            return QStringLiteral("%1 is gone").arg(QString::fromUtf8(own));
    for (const Target& target : targets) {
        const auto found = files.constFind(target.name);
        if (found == files.constEnd()) {
            if (!target.oldData.isNull())
                return QStringLiteral("%1 is gone").arg(target.name);
            continue;
        }
        if (*found != target.oldData && *found != target.newData)
            return QStringLiteral("%1 is neither old nor new (%2 bytes)").arg(target.name).arg(found->size());
        files.remove(target.name);
    }
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        if (leftovers == Leftovers::Forbidden || !isLeftover(it.key()))
            return QStringLiteral("%1 should not be there").arg(it.key());
    return QString();
}

// The rollback's own line, after the error line.
const QString rolledBackLine = QStringLiteral("Изменения отменены: файлы программы остались прежними.");

// Every file below `folder` with its permission bits, and every folder, links as links.
QStringList treeBelow(const QString& folder) {
    QStringList tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        struct stat st {};
        ::lstat(QFile::encodeName(info.filePath()).constData(), &st);
        QString entry =
            QDir(folder).relativeFilePath(info.filePath()) + QStringLiteral(" %1").arg(st.st_mode, 0, 8);
        if (info.isFile() && !info.isSymLink())
            entry += u' ' + QString::fromLatin1(readBytes(info.filePath()).toHex().left(64)) +
                     QString::number(info.size());
        tree.append(entry);
    }
    tree.sort();
    return tree;
}

// A process modifier that runs the updater as the user nobody; empty when this system lacks one.
std::function<void(QProcess&)> asNobody(uid_t& uid) {
    const passwd* user = ::getpwnam("nobody");
    if (!user || user->pw_uid == 0)
        return {};
    uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const uid_t id = uid;
    return [id, gid](QProcess& process) {
        process.setChildProcessModifier([id, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(id) != 0)
                ::_exit(126);
        });
    };
}

// How many targets hold their new content.
int newTargets(const KitFolders& kit, const QList<Target>& targets) {
    int count = 0;
    for (const Target& target : targets)
        count += readBytes(kit.extraction + target.name) == target.newData;
    return count;
}

// The registry file before the update and after each of the update's writes, in their order.
QList<QByteArray> registryStates(const KitFolders& kit) {
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("registry.reg"));
    writeBytes(copy, readBytes(kit.registryPath));
    RegistryFile registry(copy);
    QList<QByteArray> states{readBytes(copy)};
    for (const QString& section : versionSections) {
        registry.writeString(section, QStringLiteral("ProgrammVersion"), QStringLiteral("3.7"));
        states.append(readBytes(copy));
    }
    return states;
}

// What is wrong with the registry file: it does not parse, a version is neither old nor new, or it
// holds something the update never writes. Empty when nothing is.
QString registryProblem(const KitFolders& kit, const QList<QByteArray>& states) {
    const QByteArray bytes = readBytes(kit.registryPath);
    try {
        registry::parse(bytes, kit.registryPath);
        const RegistryFile registry(kit.registryPath);
        for (const QString& section : versionSections) {
            const QString version =
                registry.readString(section, QStringLiteral("ProgrammVersion"), QString());
            if (version != QStringLiteral("3.6") && version != QStringLiteral("3.7"))
                return QStringLiteral("%1 records the version \"%2\"").arg(section, version);
        }
    } catch (const Error& error) {
        return QStringLiteral("the registry file does not parse: ") + QString::fromUtf8(error.what());
    }
    if (!states.contains(bytes))
        return QStringLiteral("the registry file holds what the update never writes");
    return QString();
}

} // namespace

class TestUpdateFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A write that does not fit on the disk fails (EFBIG under a file-size limit whose signal is
    // ignored): the extraction ends at that item and is undone, every file stays old and nothing
    // half-written is left.
    void diskFillsDuringExtraction_data() {
        QTest::addColumn<int>("tooBig"); // the item that does not fit
        QTest::newRow("the first item") << 0;
        QTest::newRow("a later item") << 2;
    }
    void diskFillsDuringExtraction() {
        QFETCH(int, tooBig);
        constexpr rlim_t limit = 1024 * 1024;
        QList<Target> targets = fiveTargets();
        targets[tooBig].newData = content(9, qsizetype(3 * limit));
        KitFolders kit;
        prepareKit(kit, targets);
        const QByteArray registry = readBytes(kit.registryPath);
        const QStringList before = treeBelow(kit.extraction);

        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--silent")}, [](QProcess& process) {
            process.setChildProcessModifier([] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit fileSize{limit, limit};
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
            });
        });

        QCOMPARE(result.exitCode, 4);
        // The box, and nothing else: no crash report, no leak report of a sanitizer build.
        QCOMPARE(result.err, QStringList{QStringLiteral("Неудачно!: Ошибка обновления!")});
        QVERIFY(result.out.size() >= 2);
        QCOMPARE(result.out.last(), rolledBackLine);
        QCOMPARE(result.out[result.out.size() - 2],
                 QStringLiteral("Ошибка: Не удается записать файл %1: Файл слишком велик")
                     .arg(QDir::toNativeSeparators(kit.extraction + targets[tooBig].name)));
        QVERIFY(!result.out.contains(extractedLine));
        QVERIFY(!result.out.contains(successLine));
        QCOMPARE(readBytes(kit.registryPath), registry);
        QCOMPARE(treeBelow(kit.extraction), before);
        QCOMPARE(QDir(kit.root).entryList(QDir::Files | QDir::Hidden).join(u' '),
                 QStringLiteral("registry.reg"));
    }

    // The update fails after some files were already replaced, or while it stages the last item: the
    // kit is byte for byte as before, the log says so, and the registry keeps the old versions.
    void failedUpdateIsUndone_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error"); // %1: the extraction folder, native
        QTest::newRow("CRC error in the last item")
            << "crc"
            << "Ошибка контрольной суммы (CRC) в файле new/e.txt: архив поврежден";
        QTest::newRow("a folder at a file's place")
            << "folder"
            << "Не удается заменить файл %1lib/d.bin: на его месте находится папка";
        QTest::newRow("a file that cannot be replaced")
            << "locked"
            << "Не удается заменить файл %1lib/c.bin: Отказано в доступе";
    }
    void failedUpdateIsUndone() {
        QFETCH(QString, fault);
        QFETCH(QString, error);
        QList<Target> targets = fiveTargets();
        KitFolders kit;
        prepareKit(kit, targets);
        std::function<void(QProcess&)> adjust;
        if (fault == QStringLiteral("crc")) {
            // The last item is stored: one byte of its data changed fails its check.
            QByteArray bytes = readBytes(kit.archivePath());
            // The local header comes first, 30 bytes before the name.
            const qsizetype header = bytes.indexOf("new/e.txt") - 30;
            const int extra = uchar(bytes[header + 28]) | uchar(bytes[header + 29]) << 8;
            const qsizetype data = header + 30 + 9 + extra + 12 + 1000;
            bytes[data] = char(bytes[data] ^ 0x55);
            writeBytes(kit.archivePath(), bytes);
        } else if (fault == QStringLiteral("folder")) {
            QFile::remove(kit.extraction + QStringLiteral("lib/d.bin"));
            QVERIFY(QDir().mkpath(kit.extraction + QStringLiteral("lib/d.bin/inside")));
        } else if (::geteuid() == 0) {
            // Root may rename anywhere: the updater runs as nobody, who owns the kit but lib.
            uid_t uid = 0;
            const std::function<void(QProcess&)> nobody = asNobody(uid);
            if (!nobody)
                QSKIP("As root this case runs the updater as the user nobody, which this system lacks.");
            // A runtime folder of its own, so that Qt has nothing to warn about.
            const QString runtime = kit.root + QStringLiteral("run");
            QVERIFY(QDir().mkpath(runtime));
            QVERIFY(::chown(QFile::encodeName(runtime).constData(), uid, gid_t(-1)) == 0);
            QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
            adjust = [nobody, runtime](QProcess& process) {
                QProcessEnvironment env = process.processEnvironment();
                env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
                process.setProcessEnvironment(env);
                nobody(process);
            };
            QVERIFY(::chmod(QFile::encodeName(kit.root).constData(), 0755) == 0);
            QDirIterator it(kit.extraction, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            QStringList owned{kit.extraction};
            while (it.hasNext())
                owned.append(it.next());
            for (const QString& path : owned)
                if (!path.startsWith(kit.extraction + QStringLiteral("lib")))
                    QVERIFY(::chown(QFile::encodeName(path).constData(), uid, gid_t(-1)) == 0);
            QVERIFY(::chmod(QFile::encodeName(kit.extraction + QStringLiteral("lib")).constData(), 0755) ==
                    0);
        } else {
            QVERIFY(::chmod(QFile::encodeName(kit.extraction + QStringLiteral("lib")).constData(), 0555) ==
                    0);
        }
        const QByteArray registry = readBytes(kit.registryPath);
        const QStringList before = treeBelow(kit.extraction);

        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--silent")}, adjust);
        ::chmod(QFile::encodeName(kit.extraction + QStringLiteral("lib")).constData(), 0755);
        if (result.exitCode == 126)
            QSKIP("This system does not let root run the updater as the user nobody.");
        QCOMPARE(result.exitCode, 4);
        QCOMPARE(result.err, QStringList{QStringLiteral("Неудачно!: Ошибка обновления!")});
        QVERIFY(result.out.size() >= 3);
        // Every item was logged while it was staged; then the error and the rollback.
        for (const Target& target : targets)
            QVERIFY2(result.out.contains(QDir::toNativeSeparators(target.name)), qPrintable(target.name));
        QCOMPARE(result.out.mid(result.out.size() - 3),
                 (QStringList{QString(),
                              QStringLiteral("Ошибка: ") +
                                  QString(error).replace(QStringLiteral("%1"),
                                                         QDir::toNativeSeparators(kit.extraction)),
                              rolledBackLine}));
        QCOMPARE(treeBelow(kit.extraction), before);
        QCOMPARE(readBytes(kit.registryPath), registry);
    }

    // Many items under a low limit of open files: every item is extracted, with few descriptors at once.
    void manyItemsUnderADescriptorLimit_data() {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("limit");
        QTest::newRow("3,000 items, ulimit -n 256") << 3000 << 256;
        QTest::newRow("3,000 items, ulimit -n 64") << 3000 << 64;
    }
    void manyItemsUnderADescriptorLimit() {
        QFETCH(int, items);
        QFETCH(int, limit);
        QList<Target> targets;
        for (int i = 0; i < items; ++i)
            targets.append({QStringLiteral("f%1/item%2.txt").arg(i % 40).arg(i),
                            i % 3 ? QByteArray() : "old " + QByteArray::number(i),
                            content(i, 200 + i % 700)});
        KitFolders kit;
        prepareKit(kit, targets);
        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--silent")}, [limit](QProcess& process) {
            process.setChildProcessModifier([limit] {
                const rlimit files{rlim_t(limit), rlim_t(limit)};
                ::setrlimit(RLIMIT_NOFILE, &files);
            });
        });
        QVERIFY2(result.exitCode == 0, qPrintable(result.out.mid(result.out.size() - 3).join(u'\n')));
        QCOMPARE(newTargets(kit, targets), items);
        const QString problem = kitProblem(kit, targets, Leftovers::Forbidden);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // A second process swaps a folder of the kit for a link to a folder outside while the update runs:
    // not a byte lands outside, and no temporary file is left there.
    void folderSwappedForALink_data() {
        QTest::addColumn<int>("line"); // the item line after which the swap comes
        QTest::newRow("while staging") << 1;
        QTest::newRow("as the commit starts") << 120;
    }
    void folderSwappedForALink() {
        QFETCH(int, line);
        QList<Target> targets;
        for (int i = 0; i < 120; ++i)
            targets.append({QStringLiteral("docs/part%1.bin").arg(i), "old " + QByteArray::number(i),
                            content(i, 100 * 1024)});
        KitFolders kit;
        prepareKit(kit, targets);
        const QString outside = kit.root + QStringLiteral("outside");
        QVERIFY(QDir().mkpath(outside));

        QProcess process;
        startUpdater(process, kit);
        QVERIFY(process.waitForStarted());
        const QByteArray anchor = '\n' + QDir::toNativeSeparators(targets[line - 1].name).toUtf8() + '\n';
        QByteArray out;
        while (!out.contains(anchor) && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(5);
            out += process.readAllStandardOutput();
        }
        // Held still, so that the swap surely comes while it runs: the folder moves away inside the
        // kit, and a link to the outside takes its place.
        const bool held = signalUpdater(process, SIGSTOP);
        const QString docs = kit.extraction + QStringLiteral("docs");
        QVERIFY(QFile::rename(docs, kit.extraction + QStringLiteral("docs.moved")));
        QVERIFY(QFile::link(outside, docs));
        if (held)
            signalUpdater(process, SIGCONT);
        const UpdaterRun result = finishUpdater(process);

        QVERIFY2(result.exitCode == 0 || result.exitCode == 4, qPrintable(QString::number(result.exitCode)));
        QCOMPARE(folder_tree::list(outside), QStringList());
        QVERIFY(!QFileInfo::exists(kit.extraction + ExtractionTransaction::stagingFolderName()));
    }

    // Two updaters of one installation meet at its lock whatever their runtime and temporary folders
    // and whatever path leads them there: the second one gets exit 6 while the first runs.
    void secondUpdaterOfTheInstallation() {
        QList<Target> targets;
        for (int i = 0; i < 150; ++i)
            targets.append({QStringLiteral("lib/part%1.bin").arg(i), "old", content(i, 200 * 1024)});
        KitFolders kit;
        prepareKit(kit, targets);
        // The second one reaches the installation through a link, with a registry of its own.
        const QString linked = kit.root + QStringLiteral("Linked");
        QVERIFY(QFile::link(kit.root + QStringLiteral("Kit"), linked));
        KitFolders other;
        other.installKit();
        const QString installation = linked + QStringLiteral("/ВУС бистрал/");
        writeBytes(
            other.registryPath,
            regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=\"%1\"\n"
                                       "\"ProgrammVersion\"=\"3.6\"\n")
                            .arg(KitFolders::escapedForRegistry(installation))));
        other.writeUpdateArchive({fileEntry(QStringLiteral("a.dll"), "other")});

        QProcess first;
        startUpdater(first, kit);
        QVERIFY(first.waitForStarted());
        QByteArray out;
        while (!out.contains("lib/part0.bin\n") && first.state() != QProcess::NotRunning) {
            first.waitForReadyRead(5);
            out += first.readAllStandardOutput();
        }
        // The first is held still while the second tries, however fast this machine.
        QVERIFY(signalUpdater(first, SIGSTOP));
        const UpdaterRun second = runUpdater(other, {QStringLiteral("--silent")}, [&](QProcess& process) {
            QProcessEnvironment env = process.processEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), other.root);
            env.insert(QStringLiteral("TMPDIR"), other.root);
            process.setProcessEnvironment(env);
        });
        signalUpdater(first, SIGCONT);
        const UpdaterRun result = finishUpdater(first);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(second.exitCode, 6);
        QVERIFY(!QFileInfo::exists(kit.extraction + QStringLiteral("a.dll")));
        QCOMPARE(newTargets(kit, targets), int(targets.size()));
    }

    // The runtime and temporary folders play no part in the lock: unusable ones change nothing.
    void unusableRuntimeFolder() {
        KitFolders kit;
        kit.installKit();
        kit.writeUpdateArchive(twoItems());
        const QString notAFolder = kit.root + QStringLiteral("not-a-folder");
        writeBytes(notAFolder, "x");
        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--silent")}, [&](QProcess& process) {
            QProcessEnvironment env = process.processEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), notAFolder);
            env.insert(QStringLiteral("TMPDIR"), notAFolder);
            process.setProcessEnvironment(env);
        });
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!QFileInfo::exists(kit.extraction + UpdateLock::fileName()));
    }

    // The registry file's folder is read-only for the updater: the update ends with its registry
    // line, and the old file is whole. Root writes anywhere, so as root the updater runs as "nobody".
    void registryCannotBeReplaced() {
        const QList<Target> targets = {{QStringLiteral("a.dll"), "old a", content(1, 20000)},
                                       {QStringLiteral("docs/b.txt"), "old b", content(2, 300)}};
        KitFolders kit;
        prepareKit(kit, targets);
        const QByteArray registry = readBytes(kit.registryPath);
        // The update lock needs a folder the updater may write to.
        const QString runtime = kit.root + QStringLiteral("run");
        QVERIFY(QDir().mkpath(runtime));

        std::function<void(QProcess&)> asUser;
        struct ReadOnlyRoot {
            QString path;
            ~ReadOnlyRoot() {
                if (!path.isEmpty())
                    ::chmod(QFile::encodeName(path).constData(), 0700); // so that it can be removed
            }
        } readOnly;
        if (::geteuid() == 0) {
            const passwd* user = ::getpwnam("nobody");
            if (!user || user->pw_uid == 0)
                QSKIP("As root this test runs the updater as the user nobody, which this system lacks.");
            const uid_t uid = user->pw_uid;
            const gid_t gid = user->pw_gid;
            // Nobody may pass through the kit's root and read it, but write only into the kit and the
            // runtime folder.
            QVERIFY(::chmod(QFile::encodeName(kit.root).constData(), 0755) == 0);
            QStringList writable{runtime, kit.extraction};
            QDirIterator it(kit.extraction, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                writable.append(it.next());
            for (const QString& path : writable)
                QVERIFY2(::chown(QFile::encodeName(path).constData(), uid, gid) == 0, qPrintable(path));
            asUser = [uid, gid, runtime](QProcess& process) {
                QProcessEnvironment env = process.processEnvironment();
                env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
                env.insert(QStringLiteral("HOME"), runtime);
                process.setProcessEnvironment(env);
                process.setChildProcessModifier([uid, gid] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                        ::_exit(126);
                });
            };
        } else {
            QVERIFY(::chmod(QFile::encodeName(kit.root).constData(), 0555) == 0);
            readOnly.path = kit.root;
            QFile probe(kit.root + QStringLiteral("probe"));
            if (probe.open(QIODevice::WriteOnly))
                QSKIP("This user may write into a read-only folder; the test needs one who may not.");
            asUser = [runtime](QProcess& process) {
                QProcessEnvironment env = process.processEnvironment();
                env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
                process.setProcessEnvironment(env);
            };
        }

        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--silent")}, asUser);
        if (::geteuid() == 0 && result.exitCode == 126)
            QSKIP("This system does not let root run the updater as the user nobody.");
        QCOMPARE(result.exitCode, 5);
        QVERIFY(!result.out.isEmpty());
        QCOMPARE(result.out.last(), QStringLiteral("Ошибка доступа к реестру..."));
        QVERIFY(result.out.contains(extractedLine));
        QVERIFY(!result.out.contains(successLine));
        QCOMPARE(readBytes(kit.registryPath), registry);
        QCOMPARE(newTargets(kit, targets), int(targets.size()));
        const QString problem = kitProblem(kit, targets, Leftovers::Forbidden);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(QDir(kit.root).entryList(QDir::Files | QDir::Hidden).join(u' '),
                 QStringLiteral("registry.reg"));
    }

    // Killed at any moment, the update leaves every file old or new and a registry file that parses
    // with each version old or new; the next updater makes the files all old or all new before it
    // does anything else, and leaves nothing behind; nothing stops the run after that.
    void killedAtRandomMoments() {
        QList<Target> targets;
        for (int i = 0; i < 60; ++i)
            targets.append({QStringLiteral("lib/part%1.bin").arg(i, 2, 10, QLatin1Char('0')),
                            "old " + QByteArray::number(i), content(i, 400 * 1024)});
        targets.append({QStringLiteral("new/added.txt"), QByteArray(), content(99, 1000)});
        KitFolders kit;
        prepareKit(kit, targets);
        const QByteArray installedRegistry = readBytes(kit.registryPath);
        const QList<QByteArray> states = registryStates(kit);

        // Runs on the installed kit time the stages on this machine as the test sees the lines come,
        // the second with caches as warm as the rounds find them; the kills are drawn within these
        // times. Each run must complete the update.
        const QString lastItem = QDir::toNativeSeparators(targets.last().name);
        QMap<QString, qint64> seenAt; // microseconds after the start, each line's first time
        qint64 runMicroseconds = 0;
        for (int timed = 0; timed < 2; ++timed) {
            installOldFiles(kit, targets);
            writeBytes(kit.registryPath, installedRegistry);
            seenAt.clear();
            QProcess process;
            startUpdater(process, kit);
            QVERIFY(process.waitForStarted());
            QElapsedTimer clock;
            clock.start();
            QByteArray out;
            while (process.state() != QProcess::NotRunning) {
                process.waitForReadyRead(5);
                out += process.readAllStandardOutput();
                for (const QByteArray& line : out.split('\n'))
                    if (!seenAt.contains(QString::fromUtf8(line)))
                        seenAt.insert(QString::fromUtf8(line), clock.nsecsElapsed() / 1000);
            }
            runMicroseconds = clock.nsecsElapsed() / 1000;
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
            QCOMPARE(readBytes(kit.registryPath), states.last());
        }
        for (const QString& line : {lastItem, extractedLine, successLine})
            QVERIFY2(seenAt.contains(line), qPrintable(line));
        // From one line to the next, at least a millisecond.
        const auto between = [&](const QString& from, const QString& to) {
            return qMax<qint64>(1000, seenAt[to] - seenAt[from]);
        };

        // A round's clock starts at the process's start or at one of its lines; the kill comes
        // at a share of the time left drawn from a fixed seed, so that a failing round comes again.
        struct Phase {
            QString after; // empty: the start
            int rounds;
            qint64 spanMicroseconds;
        };
        const QList<Phase> phases = {
            {QString(), 8, runMicroseconds},                         // any stage
            {lastItem, 6, between(lastItem, extractedLine)},         // last item, flush, renames
            {extractedLine, 6, between(extractedLine, successLine)}, // the registry writes
        };
        QRandomGenerator random(20220310);
        QMap<QString, int> stages;
        int round = 0;
        for (const Phase& phase : phases) {
            for (int i = 0; i < phase.rounds; ++i, ++round) {
                // Each round starts from the installed kit; what killed runs left behind stays.
                installOldFiles(kit, targets);
                writeBytes(kit.registryPath, installedRegistry);
                const auto moment = qint64(random.generateDouble() * double(phase.spanMicroseconds));

                QProcess process;
                startUpdater(process, kit);
                QVERIFY(process.waitForStarted());
                QByteArray out;
                const QByteArray anchor = '\n' + phase.after.toUtf8() + '\n';
                while (!phase.after.isEmpty() && !out.contains(anchor) &&
                       process.state() != QProcess::NotRunning) {
                    process.waitForReadyRead(5);
                    out += process.readAllStandardOutput();
                }
                QThread::usleep(ulong(moment));
                if (!process.waitForFinished(0)) {
                    signalUpdater(process, SIGKILL);
                    QVERIFY(process.waitForFinished(10000));
                }
                out += process.readAllStandardOutput();
                const QStringList lines = QString::fromUtf8(out).split(u'\n');

                const QString where =
                    QStringLiteral("round %1, killed %2 µs after %3")
                        .arg(round)
                        .arg(moment)
                        .arg(phase.after.isEmpty() ? QStringLiteral("the start")
                                                   : QStringLiteral("\"%1\"").arg(phase.after));
                const QString kitFault = kitProblem(kit, targets, Leftovers::Allowed);
                QVERIFY2(kitFault.isEmpty(), qPrintable(where + QStringLiteral(": ") + kitFault));
                const QString registryFault = registryProblem(kit, states);
                QVERIFY2(registryFault.isEmpty(), qPrintable(where + QStringLiteral(": ") + registryFault));
                const int newAfterKill = newTargets(kit, targets);

                // The next updater finishes or undoes the killed one's update before anything else;
                // without an archive that is all it does.
                QVERIFY(QFile::rename(kit.archivePath(), kit.archivePath() + QStringLiteral(".away")));
                const UpdaterRun next = runUpdater(kit);
                QVERIFY(QFile::rename(kit.archivePath() + QStringLiteral(".away"), kit.archivePath()));
                QVERIFY2(
                    next.exitCode == 4,
                    qPrintable(where + QStringLiteral(": the next run ended with %1").arg(next.exitCode)));
                const int newAfterNext = newTargets(kit, targets);
                QVERIFY2(newAfterNext == 0 || newAfterNext == int(targets.size()),
                         qPrintable(where + QStringLiteral(": %1 of %2 files new after the next run (%3 "
                                                           "after the kill)")
                                                .arg(newAfterNext)
                                                .arg(targets.size())
                                                .arg(newAfterKill)));
                const QString left = kitProblem(kit, targets, Leftovers::Forbidden);
                QVERIFY2(left.isEmpty(), qPrintable(where + QStringLiteral(" and the next run: ") + left));

                QString stage;
                if (lines.contains(successLine))
                    stage = QStringLiteral("none (completed)");
                else if (lines.contains(extractedLine))
                    stage = QStringLiteral("registry writes, %1 of 3 done")
                                .arg(states.indexOf(readBytes(kit.registryPath)));
                else if (newAfterKill > 0)
                    stage = newAfterNext > 0 ? QStringLiteral("commit, finished by the next run")
                                             : QStringLiteral("commit, undone by the next run");
                else if (lines.contains(lastItem))
                    stage = QStringLiteral("last item or flush");
                else if (lines.contains(QDir::toNativeSeparators(targets.first().name)))
                    stage = QStringLiteral("extraction");
                else
                    stage = QStringLiteral("start-up");
                ++stages[stage];
            }
        }
        qInfo("a whole run took %lld ms, with %lld ms from the last item to the registry, %lld ms "
              "for the registry writes",
              runMicroseconds / 1000, phases[1].spanMicroseconds / 1000, phases[2].spanMicroseconds / 1000);
        for (auto it = stages.constBegin(); it != stages.constEnd(); ++it)
            qInfo("killed during %s: %d of %d", qPrintable(it.key()), it.value(), round);

        const UpdaterRun final = runUpdater(kit);
        QVERIFY2(final.exitCode == 0,
                 qPrintable(QStringLiteral("the run after the kills ended with %1, leaving %2:\n%3")
                                .arg(final.exitCode)
                                .arg(QDir(kit.root).entryList(QDir::Files | QDir::Hidden).join(u' '),
                                     final.out.join(u'\n'))));
        QCOMPARE(newTargets(kit, targets), int(targets.size()));
        const QString problem = kitProblem(kit, targets, Leftovers::Forbidden);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(readBytes(kit.registryPath), states.last());
        // No temporary file and no lock is left beside the registry. A kill inside QLockFile's own
        // removal of a dead owner's lock may leave one of its ".rmlock" companions, which holds up
        // nothing (the final run went through) and which QLockFile clears when it next needs it.
        QStringList left = QDir(kit.root).entryList(QDir::Files | QDir::Hidden);
        left.removeIf([](const QString& name) { return name.endsWith(QStringLiteral(".rmlock")); });
        QCOMPARE(left.join(u' '), QStringLiteral("registry.reg"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateFaults)
#include "test_update_faults.moc"
