#include "base/error.h"
#include "filesystem/abandoned_lock.h"
#include "filesystem/atomic_file.h"
#include "registry/registry_file.h"
#include "support/lock_files.h"
#include "support/registry_fixture.h"
#include "support/system_facilities.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using base::Error;
using filesystem::AtomicFile;
using filesystem::removeAbandonedLock;
using registry::RegistryFile;
using registry::RegistryOperation;

namespace {

const QString kit =
    QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n"
                   "\"ProgrammPath\"=\"C:\\\\Kit\\\\ВУС бистрал\\\\\"\n"
                   "\"ProgrammVersion\"=\"3.6\"\n"
                   "\"Empty\"=\"\"\n"
                   "\"Number\"=dword:00000024\n"
                   "\"Expand\"=hex(2):25,00,55,00,53,00,45,00,52,00,50,00,52,00,4f,00,46,00,49,00,\\\n"
                   "  4c,00,45,00,25,00,5c,00,62,00,2e,00,61,00,00,00\n"
                   "\"WithNul\"=hex(1):61,00,00,00,62,00,00,00\n"
                   "\"NoData\"=hex(0):\n"
                   "\"None\"=hex(0):01\n"
                   "\"Multi\"=hex(7):61,00,00,00,00,00\n"
                   "\"Quote\"=\"say \\\"hi\\\"\"\n"
                   "@=\"default value\"\n"
                   "\n"
                   "[HKEY_CURRENT_USER\\Software\\SchoolBase]\n"
                   "\"Gone\"=\"x\"\n"
                   "\"Gone\"=-\n"
                   "\n");

} // namespace

class TestRegistryFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("registry.reg")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void readingRules_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("defaultText");
        QTest::addColumn<QString>("expected");

        QTest::newRow("missing section, default") << "VUSBase"
                                                  << "ProgrammPath"
                                                  << "false"
                                                  << "false";
        QTest::newRow("missing section, empty default") << "VUSBase"
                                                        << "ProgrammPath"
                                                        << ""
                                                        << "";
        QTest::newRow("missing value, default") << "vus_bistral"
                                                << "MainBasePath"
                                                << "false"
                                                << "false";
        QTest::newRow("missing value, empty default") << "vus_bistral"
                                                      << "MainBasePath"
                                                      << ""
                                                      << "";
        QTest::newRow("empty value is not the default") << "vus_bistral"
                                                        << "Empty"
                                                        << "false"
                                                        << "";
        QTest::newRow("string with escapes") << "vus_bistral"
                                             << "ProgrammPath"
                                             << "false"
                                             << "C:\\Kit\\ВУС бистрал\\";
        QTest::newRow("quotes") << "vus_bistral"
                                << "Quote"
                                << ""
                                << "say \"hi\"";
        QTest::newRow("names ignore letter case") << "VUS_BISTRAL"
                                                  << "programmversion"
                                                  << ""
                                                  << "3.6";
        QTest::newRow("expand string stays unexpanded") << "vus_bistral"
                                                        << "Expand"
                                                        << ""
                                                        << "%USERPROFILE%\\b.a";
        QTest::newRow("string up to its first NUL") << "vus_bistral"
                                                    << "WithNul"
                                                    << ""
                                                    << "a";
        QTest::newRow("value without data") << "vus_bistral"
                                            << "NoData"
                                            << "false"
                                            << "";
        QTest::newRow("default value") << "vus_bistral"
                                       << ""
                                       << ""
                                       << "default value";
        QTest::newRow("deleted value") << "SchoolBase"
                                       << "Gone"
                                       << "false"
                                       << "false";
    }
    void readingRules() {
        QFETCH(QString, section);
        QFETCH(QString, name);
        QFETCH(QString, defaultText);
        QFETCH(QString, expected);
        writeBytes(path(), regeditFile(kit, true));
        QCOMPARE(RegistryFile(path()).readString(section, name, defaultText), expected);
    }

    void nonStringTypesAreErrors_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("REG_DWORD") << "Number";
        QTest::newRow("REG_NONE with data") << "None";
        QTest::newRow("REG_MULTI_SZ") << "Multi";
    }
    void nonStringTypesAreErrors() {
        QFETCH(QString, name);
        writeBytes(path(), regeditFile(kit));
        try {
            RegistryFile(path()).readString(QStringLiteral("vus_bistral"), name, QStringLiteral("false"));
            QFAIL("no error raised");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Invalid data type for '%1'").arg(name));
        }
    }

    void missingFileReadsEmpty() {
        QCOMPARE(RegistryFile(path()).readString(QStringLiteral("vus_bistral"),
                                                 QStringLiteral("ProgrammPath"), QStringLiteral("false")),
                 QStringLiteral("false"));
    }

    void newFileIsUtf8AndPrivate() {
        const QString nested = m_dir.filePath(QStringLiteral("new/kvarnel/registry.reg"));
        RegistryFile registry(nested);
        registry.writeString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                             QStringLiteral("3.7"));
        QCOMPARE(registry.readString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"), QString()),
                 QStringLiteral("3.7"));
        QCOMPARE(readBytes(nested), regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\VUS_dop]\n"
                                                               "\"ProgrammVersion\"=\"3.7\"\n")));
        SKIP_UNLESS_POSIX("a private file is a matter of POSIX modes");
        QCOMPARE(QFileInfo(nested).permissions() & 0xF0FF, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(QFileInfo(nested).absolutePath()).permissions() & 0xF0FF,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Everything but the one value written comes back as regedit wrote it.
    void writeKeepsTheRestOfARegeditFile() {
        const QString body = QStringLiteral("; exported by hand\n") + kit +
                             QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"x\"=hex:01,02\n\n");
        writeBytes(path(), regeditFile(body, true));
        RegistryFile(path()).writeString(QStringLiteral("vus_bistral"), QStringLiteral("PROGRAMMVERSION"),
                                         QStringLiteral("3.7"));
        QString expected = body;
        expected.replace(QStringLiteral("\"ProgrammVersion\"=\"3.6\""),
                         QStringLiteral("\"ProgrammVersion\"=\"3.7\""));
        QCOMPARE(readBytes(path()), regeditFile(expected, true));
    }

    // A second byte-order mark is text before the header: the file is not of the format, so the
    // write is refused and the file stays as it was.
    void writeRefusesTextBeforeTheHeader() {
        const QByteArray odd = QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\n") +
                               regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\a]\n\"v\"=\"1\""));
        writeBytes(path(), odd);
        try {
            RegistryFile(path()).writeString(QStringLiteral("b"), QStringLiteral("v"), QStringLiteral("2"));
        } catch (const Error&) {
            QCOMPARE(readBytes(path()), odd); // not of the format: refused, untouched
            return;
        }
        QFAIL("a file with text before its header was written");
    }

    void writeReplacesOtherTypesAndAddsValuesAndKeys() {
        writeBytes(path(), regeditFile(kit));
        RegistryFile registry(path());
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("Number"), QStringLiteral("3.7"));
        registry.writeString(QStringLiteral("SchoolBase"), QStringLiteral("ProgrammVersion"),
                             QStringLiteral("3.7"));
        registry.writeString(QStringLiteral("New"), QStringLiteral("Path"), QStringLiteral("D:\\\"q\"\\"));
        QCOMPARE(registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("Number"), QString()),
                 QStringLiteral("3.7"));
        QCOMPARE(
            registry.readString(QStringLiteral("SchoolBase"), QStringLiteral("ProgrammVersion"), QString()),
            QStringLiteral("3.7"));
        QCOMPARE(registry.readString(QStringLiteral("New"), QStringLiteral("Path"), QString()),
                 QStringLiteral("D:\\\"q\"\\"));
        const QString text = QString::fromUtf8(readBytes(path()));
        QVERIFY(text.contains(QStringLiteral("\"Number\"=\"3.7\"\r\n")));
        QVERIFY(text.contains(QStringLiteral("\"Gone\"=-\r\n\"ProgrammVersion\"=\"3.7\"\r\n")));
        QVERIFY(text.endsWith(QStringLiteral(
            "\r\n[HKEY_CURRENT_USER\\Software\\New]\r\n\"Path\"=\"D:\\\\\\\"q\\\"\\\\\"\r\n")));
    }

    // Each error of the file, worded for the operator: the file, the line and what is wrong there.
    void malformedFileIsNeverWritten_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");
        const auto body = [](const char* text) {
            return regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\a]\n") +
                               QString::fromUtf8(text));
        };
        QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\Software\\a]\r\n") << 1
                                   << "первая строка не \"Windows Registry Editor Version 5.00\"";
        QTest::newRow("garbage line")
            << body("xyz\n") << 4 << "строка не является ни разделом, ни параметром, ни комментарием";
        QTest::newRow("open string") << body("\"v\"=\"x\n") << 4 << "строковое значение закрыто неправильно";
        QTest::newRow("bad hex") << body("\"v\"=hex:zz\n") << 4
                                 << "список байтов не из шестнадцатеричных байтов через запятую";
        QTest::newRow("value before key")
            << regeditFile(QStringLiteral("\"v\"=\"x\"\n")) << 3 << "параметр стоит до первого раздела";
        QTest::newRow("not UTF-8") << QByteArray("Windows Registry Editor Version 5.00\r\n\r\n; \xC0\xC1\r\n")
                                   << 3 << "текст не в кодировке UTF-8 или UTF-16LE";
        QTest::newRow("odd UTF-16") << QByteArray("\xFF\xFEW\0i\0n", 7) << 1
                                    << "текст UTF-16 из нечетного числа байтов";
        QTest::newRow("key not closed")
            << body("[HKEY_CURRENT_USER\\Software\\b\n") << 4 << "у имени раздела нет закрывающей скобки";
        QTest::newRow("continued at the end")
            << body("\"v\"=hex:01,\\") << 4 << "продолжение параметра обрывается в конце файла";
        QTest::newRow("name not closed")
            << body("\"v=x\n") << 4 << "у имени параметра нет закрывающей кавычки";
        QTest::newRow("no equals sign") << body("\"v\" \"x\"\n") << 4 << "у параметра нет знака \"=\"";
        QTest::newRow("bad dword") << body("\"v\"=dword:123456789\n") << 4
                                   << "значение dword не из 8 шестнадцатеричных цифр";
        QTest::newRow("bad hex type")
            << body("\"v\"=hex(zz):01\n") << 4 << "тип hex(...) не шестнадцатеричное число";
        QTest::newRow("unknown form") << body("\"v\"=42\n") << 4 << "значение неизвестного вида";
        QTest::newRow("after a continued value")
            << body("\"v\"=hex:01,\\\n  02\nxyz\n") << 6
            << "строка не является ни разделом, ни параметром, ни комментарием";
    }
    void malformedFileIsNeverWritten() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, line);
        QFETCH(QString, reason);
        writeBytes(path(), bytes);
        RegistryFile registry(path());
        const QString message = QStringLiteral("Не удается прочитать файл реестра %1: строка %2: %3")
                                    .arg(path())
                                    .arg(line)
                                    .arg(reason);
        try {
            registry.readString(QStringLiteral("a"), QStringLiteral("v"), QString());
            QFAIL("read a malformed file");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
        QVERIFY_THROWS_EXCEPTION(
            Error, registry.writeString(QStringLiteral("a"), QStringLiteral("v"), QStringLiteral("x")));
        QCOMPARE(readBytes(path()), bytes);
    }

    void fileThatCannotBeOpened() {
        QVERIFY(QDir().mkdir(path()));
        try {
            RegistryFile(path()).readString(QStringLiteral("a"), QStringLiteral("v"), QString());
            QFAIL("read a folder");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Не удается открыть файл реестра %1: Указанный путь является папкой")
                         .arg(path()));
        }
        QDir().rmdir(path());
    }

    void writeThatCannotBeStoredNamesTheKeyOrValue_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("message");
        QTest::newRow("new key") << "SchoolBase"
                                 << "Failed to create key SchoolBase";
        QTest::newRow("existing key") << "vus_bistral"
                                      << "Failed to set data for 'ProgrammVersion'";
    }
    void writeThatCannotBeStoredNamesTheKeyOrValue() {
        QFETCH(QString, section);
        QFETCH(QString, message);
        SKIP_UNLESS_POSIX("a read-only folder takes new files on Windows");
        if (system_facilities::runsAsSuperuser())
            QSKIP("root writes into read-only folders");
        writeBytes(path(), regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n")));
        const QByteArray before = readBytes(path());
        QDir folder(m_dir.path());
        QVERIFY(folder.mkdir(QStringLiteral("ro")));
        const QString blocked = m_dir.filePath(QStringLiteral("ro/registry.reg"));
        writeBytes(blocked, before);
        QVERIFY(
            QFile::setPermissions(m_dir.filePath(QStringLiteral("ro")), QFile::ReadOwner | QFile::ExeOwner));
        try {
            RegistryFile(blocked).writeString(section, QStringLiteral("ProgrammVersion"),
                                              QStringLiteral("3.7"));
            QFAIL("no error raised");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
        QCOMPARE(readBytes(blocked), before);
        QFile::setPermissions(m_dir.filePath(QStringLiteral("ro")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void readOnlyFileReads() {
        writeBytes(path(), regeditFile(kit));
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner));
        QCOMPARE(RegistryFile(path()).readString(QStringLiteral("vus_bistral"),
                                                 QStringLiteral("ProgrammVersion"), QString()),
                 QStringLiteral("3.6"));
        QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);
    }

    // A file its owner may not write refuses writes as a read-only key does, even for root, who could
    // replace it; it stays as it was.
    void readOnlyFileRefusesWrites_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("message");
        QTest::newRow("existing key") << "vus_bistral"
                                      << "Failed to set data for 'ProgrammVersion'";
        QTest::newRow("new key") << "VUS_dop"
                                 << "Failed to create key VUS_dop";
    }
    void readOnlyFileRefusesWrites() {
        QFETCH(QString, section);
        QFETCH(QString, message);
        writeBytes(path(), regeditFile(kit));
        const QByteArray before = readBytes(path());
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        try {
            RegistryFile(path()).writeString(section, QStringLiteral("ProgrammVersion"),
                                             QStringLiteral("3.7"));
            QFAIL("a read-only registry file was written");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
        QCOMPARE(readBytes(path()), before);
        QCOMPARE(QFileInfo(path()).permissions() & QFile::WriteOwner, QFile::Permissions());
        QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);
    }

    // A registry file shared through a link: the link stays, the file it names gets the value, and the
    // lock and temporary files lie beside that file.
    void linkIsWrittenThrough() {
        SKIP_UNLESS_POSIX("QFile::link makes a shortcut on Windows, not a symbolic link");
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("shared")));
        const QString shared = m_dir.filePath(QStringLiteral("shared/kit.reg"));
        writeBytes(shared, regeditFile(kit));
        QVERIFY(QFile::link(QStringLiteral("shared/kit.reg"), path()));
        const QString hop = m_dir.filePath(QStringLiteral("hop.reg"));
        QVERIFY(QFile::link(QStringLiteral("registry.reg"), hop)); // a link to the link
        RegistryFile registry(hop);
        {
            const RegistryOperation operation(&registry);
            QCOMPARE(registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"),
                                         QString()),
                     QStringLiteral("3.6"));
            registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"),
                                 QStringLiteral("3.7"));
            registry.writeString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                                 QStringLiteral("3.7"));
        }
        QVERIFY(QFileInfo(path()).isSymLink());
        QVERIFY(QFileInfo(hop).isSymLink());
        QCOMPARE(QFileInfo(path()).symLinkTarget(), shared);
        const QString text = QString::fromUtf8(readBytes(shared));
        QVERIFY(text.contains(QStringLiteral("\"ProgrammVersion\"=\"3.7\"\r\n\"Empty\"")));
        QVERIFY(text.endsWith(
            QStringLiteral("[HKEY_CURRENT_USER\\Software\\VUS_dop]\r\n\"ProgrammVersion\"=\"3.7\"\r\n")));
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("shared"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("kit.reg")});
        QFile::remove(hop);
    }

    // Inside an operation the reads share one reading of the file, yet see every change made since,
    // by another program or by the operation's own writes.
    void operationSeesEveryChange() {
        writeBytes(path(), regeditFile(kit));
        RegistryFile registry(path());
        const RegistryOperation operation(&registry);
        const auto version = [&] {
            return registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"),
                                       QString());
        };
        QCOMPARE(version(), QStringLiteral("3.6"));
        // Another program rewrites the file in place, at once and with the same size.
        QByteArray changed = readBytes(path());
        changed.replace("\"3.6\"", "\"3.5\"");
        writeBytes(path(), changed);
        QCOMPARE(version(), QStringLiteral("3.5"));
        RegistryFile(path()).writeString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"),
                                         QStringLiteral("4.0"));
        QCOMPARE(version(), QStringLiteral("4.0"));
        registry.writeString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"),
                             QStringLiteral("3.7"));
        QCOMPARE(version(), QStringLiteral("3.7"));
        QCOMPARE(registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("Quote"), QString()),
                 QStringLiteral("say \"hi\""));
    }

    // A writer killed before its rename leaves its temporary file; the next writer, holding the
    // lock, removes it. Temporary files of other files in the folder are not the registry's.
    void writeRemovesWhatAKilledWriterLeft() {
        writeBytes(path(), regeditFile(kit));
        const QString left = m_dir.filePath(QStringLiteral(".registry.reg") + AtomicFile::temporaryMarker() +
                                            QStringLiteral("Ab12Cd"));
        const QString other = m_dir.filePath(QStringLiteral(".other.txt") + AtomicFile::temporaryMarker() +
                                             QStringLiteral("Xy34Zw"));
        writeBytes(left, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Soft");
        writeBytes(other, "half");
        RegistryFile(path()).writeString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                                         QStringLiteral("3.7"));
        QVERIFY(!QFileInfo::exists(left));
        QVERIFY(QFileInfo::exists(other));
        QFile::remove(other);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("registry.reg")});
    }

    // A writer killed between making the lock file and writing itself into it leaves the file empty;
    // such a file holds up the next writer only until it is old enough to be sure no one owns it.
    void abandonedLocks_data() {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<int>("secondsAgo");
        QTest::addColumn<bool>("abandoned");
        QTest::newRow("empty, old") << "empty" << 60 << true;
        QTest::newRow("empty, just made") << "empty" << 0 << false;
        QTest::newRow("held by a live writer") << "held" << 60 << false;
        QTest::newRow("empty, being made by a live writer") << "flocked" << 60 << false;
    }
    void abandonedLocks() {
        QFETCH(QString, lock);
        QFETCH(int, secondsAgo);
        QFETCH(bool, abandoned);
        writeBytes(path(), regeditFile(kit));
        const QString lockPath = path() + QStringLiteral(".lock");
        QLockFile owner(lockPath);
        QFile file(lockPath);
        if (lock == QStringLiteral("held")) {
            QVERIFY(owner.tryLock(0));
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (lock == QStringLiteral("flocked"))
                QVERIFY(system_facilities::lockExclusively(file));
        }
        QFile touch(lockPath);
        QVERIFY(touch.open(QIODevice::ReadWrite));
        QVERIFY(touch.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                  QFileDevice::FileModificationTime));
        touch.close();
        // On Windows an open lock file is a live writer's: the one left behind is closed.
        if (!system_facilities::posix && lock == QStringLiteral("empty"))
            file.close();
        QCOMPARE(removeAbandonedLock(lockPath), abandoned);
        QCOMPARE(QFileInfo::exists(lockPath), !abandoned);
        if (lock == QStringLiteral("empty")) {
            // The writer waits for a lock that has just been made until it is old enough.
            QFile::remove(lockPath);
            QVERIFY(QFile(lockPath).open(QIODevice::WriteOnly));
            RegistryFile(path()).writeString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                                             QStringLiteral("3.7"));
            QCOMPARE(RegistryFile(path()).readString(QStringLiteral("VUS_dop"),
                                                     QStringLiteral("ProgrammVersion"), QString()),
                     QStringLiteral("3.7"));
            QVERIFY(!QFileInfo::exists(lockPath));
        }
        file.close();
        owner.unlock();
        QFile::remove(lockPath);
    }

    // A writer killed while it removed a dead writer's lock leaves QLockFile's companion file empty
    // beside that lock, and one killed while it removed a dead companion leaves a deeper one; the next
    // writer gets through and leaves none of them.
    void writeAfterAKilledLockRemoval_data() {
        QTest::addColumn<int>("companions");
        QTest::addColumn<bool>("gap");
        QTest::newRow("an empty companion") << 1 << false;
        QTest::newRow("a dead companion and an empty one") << 2 << false;
        QTest::newRow("three levels deep") << 3 << false;
        QTest::newRow("an empty companion above a removed one") << 2 << true;
    }
    void writeAfterAKilledLockRemoval() {
        QFETCH(int, companions);
        QFETCH(bool, gap);
        writeBytes(path(), regeditFile(kit));
        // Younger than QLockFile's own stale time of 30 s.
        QVERIFY(!leaveLockChain(path() + QStringLiteral(".lock"), companions, 5, gap).isEmpty());
        RegistryFile(path()).writeString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                                         QStringLiteral("3.7"));
        QCOMPARE(RegistryFile(path()).readString(QStringLiteral("VUS_dop"), QStringLiteral("ProgrammVersion"),
                                                 QString()),
                 QStringLiteral("3.7"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("registry.reg")});
    }

    // Two writers at once, each through its own object: every value of both arrives.
    void concurrentWritersLoseNothing() {
        writeBytes(path(), regeditFile(kit, true));
        constexpr int count = 40;
        auto writer = [this](const QString& section) {
            RegistryFile registry(path());
            for (int i = 0; i < count; ++i)
                registry.writeString(section, QStringLiteral("v%1").arg(i), QString::number(i));
        };
        std::thread a(writer, QStringLiteral("A"));
        std::thread b(writer, QStringLiteral("B"));
        a.join();
        b.join();
        RegistryFile registry(path());
        for (int i = 0; i < count; ++i) {
            QCOMPARE(registry.readString(QStringLiteral("A"), QStringLiteral("v%1").arg(i), QString()),
                     QString::number(i));
            QCOMPARE(registry.readString(QStringLiteral("B"), QStringLiteral("v%1").arg(i), QString()),
                     QString::number(i));
        }
        QCOMPARE(
            registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammVersion"), QString()),
            QStringLiteral("3.6"));
        QVERIFY(!QFileInfo::exists(path() + QStringLiteral(".lock")));
    }
};

QTEST_GUILESS_MAIN(TestRegistryFile)
#include "test_registry_file.moc"
