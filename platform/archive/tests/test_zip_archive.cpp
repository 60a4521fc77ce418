#include "archive/archive_errors.h"
#include "archive/extraction_transaction.h"
#include "archive/zip_archive.h"
#include "base/error.h"
#include "support/archive_items.h"
#include "support/folder_tree.h"
#include "support/kit_archive.h"
#include "support/registry_fixture.h"
#include "support/system_facilities.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

using archive::ExtractionRolledBack;
using archive::ExtractionTransaction;
using archive::ZipArchive;
using archive::zipErrorText;
using base::Error;
using system_facilities::modeOf;

namespace {

struct Extracted {
    QStringList events;    // item lines in the order raised
    QList<double> overall; // overall progress values
    QString error;         // empty when the extraction completed
    bool rolledBack = false;
};

ArchiveEntry withUnixMode(ArchiveEntry entry, quint32 mode) {
    entry.unixMode = mode;
    return entry;
}

ArchiveEntry withDosAttributes(ArchiveEntry entry, quint8 attributes) {
    entry.dosAttributes = attributes;
    return entry;
}

} // namespace

class TestZipArchive : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString archive() const { return m_dir.filePath(QStringLiteral("res_ad.zip")); }
    QString base() const { return m_dir.filePath(QStringLiteral("base")) + u'/'; }

    Extracted extract(const QByteArray& password = archivePassword(), QString baseDir = QString()) {
        if (baseDir.isNull())
            baseDir = base();
        Extracted result;
        ZipArchive zip;
        zip.setEvents({[&](const QString& name) {
                           result.events.append(name);
                           // Raised before the item's file is in place.
                           QVERIFY2(QFile(base() + name).size() != 3 || readBytes(base() + name) != "new",
                                    qPrintable(name));
                       },
                       {},
                       [&](double progress) { result.overall.append(progress); }});
        try {
            zip.setFileName(archive());
            zip.setPassword(password);
            zip.OpenArchive();
            zip.setBaseDir(baseDir);
            zip.ExtractFiles(QStringLiteral("*.*"), ZipArchive::anyFileAttributes);
            zip.CloseArchive();
        } catch (const Error& error) {
            result.error = QString::fromUtf8(error.what());
            result.rolledBack = dynamic_cast<const ExtractionRolledBack*>(&error) != nullptr;
        }
        return result;
    }

private Q_SLOTS:
    void init() {
        QDir(base()).removeRecursively();
        QDir().mkpath(base());
    }

    void extractsItemsIntoTheirFolders() {
        writeArchive(archive(),
                     {fileEntry(QStringLiteral("a.dll"), "new"),
                      fileEntry(QStringLiteral("docs/b.txt"), "new"),
                      fileEntry(QStringLiteral("docs\\sub\\c.txt"), "new")},
                     archivePassword());
        // Old content, a read-only file, and the staging folder of a run killed while it staged.
        writeBytes(base() + QStringLiteral("a.dll"), "old");
        QDir().mkpath(base() + QStringLiteral("docs"));
        writeBytes(base() + QStringLiteral("docs/b.txt"), "old");
        QFile::setPermissions(base() + QStringLiteral("docs/b.txt"), QFile::ReadOwner);
        QVERIFY(folder_tree::makeFile(
            base() + ExtractionTransaction::stagingFolderName() + QStringLiteral("/n0"), "partial"));

        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QCOMPARE(result.events, (QStringList{QStringLiteral("a.dll"), QStringLiteral("docs/b.txt"),
                                             QStringLiteral("docs/sub/c.txt")}));
        QCOMPARE(folder_tree::list(base()),
                 (QStringList{QStringLiteral("a.dll"), QStringLiteral("docs/"), QStringLiteral("docs/b.txt"),
                              QStringLiteral("docs/sub/"), QStringLiteral("docs/sub/c.txt")}));
        for (const char* name : {"a.dll", "docs/b.txt", "docs/sub/c.txt"})
            QCOMPARE(readBytes(base() + QString::fromUtf8(name)), QByteArray("new"));
        QCOMPARE(result.overall.first(), 0.0);
        QCOMPARE(result.overall.last(), 100.0);
        QVERIFY(std::is_sorted(result.overall.begin(), result.overall.end()));
    }

    void decodesNames_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QString>("expected");
        QTest::newRow("OEM code page")
            << oemName(QStringLiteral("Документы/Справка.txt")) << false << "Документы/Справка.txt";
        QTest::newRow("UTF-8 flag") << QStringLiteral("Документы/Ёлка.txt").toUtf8() << true
                                    << "Документы/Ёлка.txt";
        QTest::newRow("ASCII") << QByteArray("plain/name.txt") << false << "plain/name.txt";
    }
    void decodesNames() {
        QFETCH(QByteArray, raw);
        QFETCH(bool, utf8);
        QFETCH(QString, expected);
        ArchiveEntry entry;
        entry.rawName = raw;
        entry.utf8Name = utf8;
        entry.data = "x";
        writeArchive(archive(), {entry}, archivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QCOMPARE(result.events, QStringList{expected});
        QCOMPARE(readBytes(base() + expected), QByteArray("x"));
    }

    void emptyArchive() {
        writeArchive(archive(), {}, archivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QVERIFY(result.events.isEmpty());
        QCOMPARE(result.overall.last(), 100.0);
    }

    void refusesUnsafeArchivesWhole_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("symlink");
        QTest::addColumn<QString>("shown"); // how the error names the item
        QTest::newRow("parent folder") << QByteArray("../evil.txt") << false << "../evil.txt";
        QTest::newRow("parent inside") << QByteArray("docs/../../evil.txt") << false << "docs/../../evil.txt";
        QTest::newRow("backslash parent")
            << QByteArray("docs\\..\\..\\evil.txt") << false << "docs\\..\\..\\evil.txt";
        QTest::newRow("absolute") << QByteArray("/tmp/evil.txt") << false << "/tmp/evil.txt";
        QTest::newRow("absolute backslash") << QByteArray("\\evil.txt") << false << "\\evil.txt";
        QTest::newRow("drive letter") << QByteArray("C:\\evil.txt") << false << "C:\\evil.txt";
        QTest::newRow("drive relative") << QByteArray("c:evil.txt") << false << "c:evil.txt";
        QTest::newRow("symbolic link") << QByteArray("link") << true << "link";
        // A line feed would forge a log line, say a success line on a failed run.
        QTest::newRow("line feed") << QByteArray("a.txt\nforged line") << false << "a.txt\\nforged line";
        QTest::newRow("carriage return") << QByteArray("docs/b\r.txt") << false << "docs/b\\r.txt";
        QTest::newRow("other control") << QByteArray("b\x01.txt") << false << "b\\x01.txt";
        QTest::newRow("delete") << QByteArray("b\x7f.txt") << false << "b\\x7F.txt";
        QTest::newRow("the updater's own name")
            << QByteArray("./.Update_3_7.staging/n0") << false << "./.Update_3_7.staging/n0";
    }
    void refusesUnsafeArchivesWhole() {
        QFETCH(QByteArray, name);
        QFETCH(bool, symlink);
        QFETCH(QString, shown);
        ArchiveEntry bad;
        bad.rawName = name;
        bad.data = "/etc/passwd";
        if (symlink)
            bad.unixMode = 0120777;
        writeArchive(archive(), {fileEntry(QStringLiteral("first.txt"), "new"), bad}, archivePassword());
        const Extracted result = extract();
        QVERIFY2(result.error.contains(u'«' + shown + u'»'), qPrintable(result.error));
        QVERIFY2(!result.error.contains(u'\n') && !result.error.contains(u'\r'), qPrintable(result.error));
        QVERIFY(result.events.isEmpty());
        QCOMPARE(folder_tree::list(base()), QStringList());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("evil.txt"))));
    }

    // Every failure leaves the folder as it was: what was staged before it goes, nothing is left.
    void failures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // %1: the base folder, native
        QTest::addColumn<bool>("rolledBack");
        QTest::newRow("damaged item")
            << "crc"
            << "Ошибка контрольной суммы (CRC) в файле second.txt: архив поврежден" << true;
        QTest::newRow("wrong password") << "password"
                                        << "Неверный пароль для файла first.txt" << true;
        QTest::newRow("no ZIP archive") << "garbage"
                                        << "Файл %1res_ad.zip не является архивом ZIP" << false;
        QTest::newRow("truncated archive") << "truncated"
                                           << "Файл %1res_ad.zip не является архивом ZIP" << false;
        QTest::newRow("folder at a file's place")
            << "folder"
            << "Не удается заменить файл %1base/second.txt: на его месте находится папка" << true;
        QTest::newRow("file at a folder's place")
            << "file"
            << "Не удается создать папку %1base/docs: на её месте находится файл" << false;
        QTest::newRow("folder that is a link")
            << "link"
            << "Папка %1base/docs является символической ссылкой; архив не распакован, файлы программы "
               "не изменены"
            << false;
    }
    void failures() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(bool, rolledBack);
        ArchiveEntry second = fileEntry(QStringLiteral("second.txt"), QByteArray(1000, 'B'));
        second.compress = false;
        writeArchive(archive(),
                     {fileEntry(QStringLiteral("first.txt"), "new"), second,
                      fileEntry(QStringLiteral("docs/third.txt"), "new")},
                     archivePassword());
        QByteArray bytes = readBytes(archive());
        QByteArray password = archivePassword();
        const QString outside = m_dir.filePath(QStringLiteral("outside"));
        QDir(outside).removeRecursively();
        if (kind == QStringLiteral("crc")) {
            // The stored item's data: after its local header, its name and the 12-byte encryption header.
            const qsizetype header = bytes.indexOf("second.txt") - 30;
            const int extra = uchar(bytes[header + 28]) | uchar(bytes[header + 29]) << 8;
            bytes[header + 30 + 10 + extra + 12 + 500] =
                char(bytes[header + 30 + 10 + extra + 12 + 500] ^ 0x55);
        } else if (kind == QStringLiteral("password")) {
            password = "not the password";
        } else if (kind == QStringLiteral("garbage")) {
            bytes = QByteArray(4096, 'x');
        } else if (kind == QStringLiteral("truncated")) {
            bytes.truncate(bytes.size() / 2);
        } else if (kind == QStringLiteral("folder")) {
            QDir().mkpath(base() + QStringLiteral("second.txt/inside"));
        } else if (kind == QStringLiteral("file")) {
            writeBytes(base() + QStringLiteral("docs"), "a file");
        } else if (kind == QStringLiteral("link")) {
            QDir().mkpath(outside);
            QVERIFY(QFile::link(outside, base() + QStringLiteral("docs")));
        }
        writeBytes(archive(), bytes);
        writeBytes(base() + QStringLiteral("first.txt"), "old");
        const QStringList before = folder_tree::list(base());

        const Extracted result = extract(password);
        QCOMPARE(result.error, QString(message).replace(QStringLiteral("%1"),
                                                        QDir::toNativeSeparators(m_dir.path() + u'/')));
        QCOMPARE(result.rolledBack, rolledBack);
        QCOMPARE(folder_tree::list(base()), before);
        QCOMPARE(readBytes(base() + QStringLiteral("first.txt")), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(outside + QStringLiteral("/third.txt")));
    }

    // The archive layer's words for libzip's errors, with the system's reason where there is one.
    void zipErrorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("systemCode");
        QTest::addColumn<QString>("text");
        QTest::newRow("wrong password") << ZIP_ER_WRONGPASSWD << 0 << "Неверный пароль для файла a.dll";
        QTest::newRow("CRC error") << ZIP_ER_CRC << 0
                                   << "Ошибка контрольной суммы (CRC) в файле a.dll: архив поврежден";
        QTest::newRow("not a zip archive") << ZIP_ER_NOZIP << 0 << "Файл a.dll не является архивом ZIP";
        QTest::newRow("truncated") << ZIP_ER_EOF << 0
                                   << "Неожиданный конец архива a.dll: архив поврежден или неполон";
        QTest::newRow("inconsistent") << ZIP_ER_INCONS << 0 << "Архив a.dll поврежден";
        QTest::newRow("damaged data")
            << ZIP_ER_COMPRESSED_DATA << 0 << "Ошибка распаковки файла a.dll: сжатые данные повреждены";
        QTest::newRow("read error") << ZIP_ER_READ << EIO
                                    << "Ошибка чтения архива a.dll: Ошибка ввода/вывода на устройстве";
        QTest::newRow("cannot open") << ZIP_ER_OPEN << EACCES
                                     << "Не удается открыть архив a.dll: Отказано в доступе";
        QTest::newRow("write error") << ZIP_ER_WRITE << ENOSPC
                                     << "Ошибка записи файла a.dll: Недостаточно места на диске";
        QTest::newRow("no password") << ZIP_ER_NOPASSWD << 0 << "Для распаковки файла a.dll нужен пароль";
        QTest::newRow("other") << ZIP_ER_INTERNAL << 0 << "Ошибка архива a.dll (код 20)";
    }
    void zipErrorTexts() {
        QFETCH(int, code);
        QFETCH(int, systemCode);
        QFETCH(QString, text);
        QCOMPARE(zipErrorText(code, systemCode, QStringLiteral("a.dll")), text);
    }

    // A base folder is a folder whether or not its text ends in a separator.
    void baseFolderWithoutSeparator() {
        writeArchive(archive(), twoItems(), archivePassword());
        const QString folder = m_dir.filePath(QStringLiteral("Новый"));
        QDir(folder).removeRecursively();
        QCOMPARE(extract(archivePassword(), folder).error, QString());
        QCOMPARE(readBytes(folder + QStringLiteral("/a.dll")), QByteArray("new a"));
        QCOMPARE(readBytes(folder + QStringLiteral("/docs/b.txt")), QByteArray("new b"));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("Новыйa.dll"))));
    }

    // The longest names a file system takes: the staging adds nothing to them.
    void longestNames() {
        const QString name = QString(246, u'n') + QStringLiteral(".dll"); // 250 bytes
        const QString folder = QString(255, u'f');
        writeArchive(archive(),
                     {fileEntry(name, "new"), fileEntry(folder + u'/' + QString(255, u'x'), "new")},
                     archivePassword());
        QCOMPARE(extract().error, QString());
        QCOMPARE(readBytes(base() + name), QByteArray("new"));
        QCOMPARE(readBytes(base() + folder + u'/' + QString(255, u'x')), QByteArray("new"));
    }

    // What an updater killed during the commit leaves, and what the next one makes of it: a
    // committed update is finished, any other is undone, so that every file is old or all are new.
    void recoversAKilledUpdate_data() {
        QTest::addColumn<QString>("moment");
        QTest::addColumn<bool>("endsNew");
        QTest::newRow("writing the journal") << "journal" << false;
        // The old file has its second name in the staging folder and is still in place.
        QTest::newRow("old file kept aside, new one not yet in") << "aside" << false;
        QTest::newRow("half way through the commit") << "half" << false;
        QTest::newRow("after the last file, before the mark") << "unmarked" << false;
        QTest::newRow("after the mark") << "marked" << true;
    }
    void recoversAKilledUpdate() {
        QFETCH(QString, moment);
        QFETCH(bool, endsNew);
        const QString staging = base() + ExtractionTransaction::stagingFolderName() + u'/';
        QVERIFY(QDir().mkpath(staging));
        // The update replaces a.dll (item 0) and creates new/e.txt (item 1) with its folder.
        QByteArray journal = "update_3_7 journal 1\nD\tnew\nF\t0\to\ta.dll\nF\t1\tn\tnew/e.txt\n";
        if (moment != QStringLiteral("journal"))
            journal += "E\n";
        writeBytes(staging + QStringLiteral("journal"), journal);
        if (moment == QStringLiteral("journal") || moment == QStringLiteral("aside")) {
            writeBytes(base() + QStringLiteral("a.dll"), "old");
            writeBytes(staging + QStringLiteral("n0"), "new");
            writeBytes(staging + QStringLiteral("n1"), "new");
            if (moment == QStringLiteral("aside"))
                QVERIFY(system_facilities::makeHardLink(base() + QStringLiteral("a.dll"),
                                                        staging + QStringLiteral("o0")));
        } else {
            writeBytes(base() + QStringLiteral("a.dll"), "new");
            writeBytes(staging + QStringLiteral("o0"), "old");
            QVERIFY(QDir().mkpath(base() + QStringLiteral("new")));
            if (moment == QStringLiteral("half"))
                writeBytes(staging + QStringLiteral("n1"), "new");
            else
                writeBytes(base() + QStringLiteral("new/e.txt"), "new");
            if (moment == QStringLiteral("marked"))
                writeBytes(staging + QStringLiteral("committed"), "");
        }

        ExtractionTransaction::recover(base());
        if (endsNew)
            QCOMPARE(folder_tree::list(base()), (QStringList{QStringLiteral("a.dll"), QStringLiteral("new/"),
                                                             QStringLiteral("new/e.txt")}));
        else
            QCOMPARE(folder_tree::list(base()), QStringList{QStringLiteral("a.dll")});
        QCOMPARE(readBytes(base() + QStringLiteral("a.dll")), QByteArray(endsNew ? "new" : "old"));
        // Once more changes nothing.
        ExtractionTransaction::recover(base());
        QCOMPARE(readBytes(base() + QStringLiteral("a.dll")), QByteArray(endsNew ? "new" : "old"));
    }

    void restoresAttributes() {
        writeArchive(archive(),
                     {withUnixMode(fileEntry(QStringLiteral("run.sh"), "#!/bin/sh\n"), 0100755),
                      withUnixMode(fileEntry(QStringLiteral("data.txt"), "x"), 0100640),
                      withDosAttributes(fileEntry(QStringLiteral("readonly.txt"), "x"), 0x01),
                      withDosAttributes(fileEntry(QStringLiteral("writable.txt"), "x"), 0x20)},
                     archivePassword());
        writeBytes(base() + QStringLiteral("readonly.txt"), "old");
        QCOMPARE(extract().error, QString());
        if (!system_facilities::posix) {
            // Windows keeps the read-only attribute alone.
            QVERIFY(!QFileInfo(base() + QStringLiteral("readonly.txt")).isWritable());
            QVERIFY(QFileInfo(base() + QStringLiteral("writable.txt")).isWritable());
            return;
        }
        QCOMPARE(modeOf(base() + QStringLiteral("run.sh")), 0755);
        QCOMPARE(modeOf(base() + QStringLiteral("data.txt")), 0640);
        QCOMPARE(modeOf(base() + QStringLiteral("readonly.txt")) & 0222, 0);
        QCOMPARE(modeOf(base() + QStringLiteral("writable.txt")) & 0200, 0200);
    }

    // A replaced file keeps its owner; what root creates belongs to the owner of the folder it is
    // made in, also inside folders the archive creates.
    void ownersCarryOver() {
        SKIP_UNLESS_POSIX("files have no POSIX owners on Windows");
        if (!system_facilities::runsAsSuperuser())
            QSKIP("Only root can give files away.");
        writeArchive(archive(),
                     {fileEntry(QStringLiteral("a.dll"), "new"),
                      fileEntry(QStringLiteral("docs/new.txt"), "new"),
                      fileEntry(QStringLiteral("docs/sub/c.txt"), "new")},
                     archivePassword());
        writeBytes(base() + QStringLiteral("a.dll"), "old");
        QVERIFY(system_facilities::giveAway(base() + QStringLiteral("a.dll"), 1234, 1235));
        QVERIFY(QDir().mkpath(base() + QStringLiteral("docs")));
        QVERIFY(system_facilities::giveAway(base() + QStringLiteral("docs"), 2345, 2346));
        QCOMPARE(extract().error, QString());
        const auto owner = [&](const char* name) {
            return system_facilities::ownerOf(base() + QString::fromUtf8(name));
        };
        QCOMPARE(owner("a.dll"), QStringLiteral("1234:1235"));
        QCOMPARE(owner("docs/new.txt"), QStringLiteral("2345:2346"));
        QCOMPARE(owner("docs/sub"), QStringLiteral("2345:2346"));
        QCOMPARE(owner("docs/sub/c.txt"), QStringLiteral("2345:2346"));
    }

    void replacesALinkInsteadOfFollowingIt() {
        writeArchive(archive(), {fileEntry(QStringLiteral("linked.txt"), "new")}, archivePassword());
        const QString outside = m_dir.filePath(QStringLiteral("outside.txt"));
        writeBytes(outside, "outside");
        QVERIFY(QFile::link(outside, base() + QStringLiteral("linked.txt")));
        QCOMPARE(extract().error, QString());
        QVERIFY(!QFileInfo(base() + QStringLiteral("linked.txt")).isSymLink());
        QCOMPARE(readBytes(base() + QStringLiteral("linked.txt")), QByteArray("new"));
        QCOMPARE(readBytes(outside), QByteArray("outside"));
    }

    void manyItemsKeepArchiveOrder() {
        QList<ArchiveEntry> entries;
        QStringList expected;
        for (int i = 0; i < 200; ++i) {
            const QString name = QStringLiteral("folder%1/item%2.bin").arg(i % 7).arg(i);
            entries.append(fileEntry(name, QByteArray(1000 + i * 37, char('a' + i % 26))));
            expected.append(name);
        }
        writeArchive(archive(), entries, archivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QCOMPARE(result.events, expected);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(readBytes(base() + expected[i]), QByteArray(1000 + i * 37, char('a' + i % 26)));
    }
};

QTEST_GUILESS_MAIN(TestZipArchive)
#include "test_zip_archive.moc"
