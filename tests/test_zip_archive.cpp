#include "app/update_archive.h"
#include "demo/kit_archive.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/zip_archive.h"
#include "support/folder_tree.h"
#include "support/registry_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Extracted {
    QStringList events;    // item lines in the order raised
    QList<double> overall; // overall progress values
    QString error;         // empty when the extraction completed
};

ArchiveEntry withUnixMode(ArchiveEntry entry, quint32 mode) {
    entry.unixMode = mode;
    return entry;
}

ArchiveEntry withDosAttributes(ArchiveEntry entry, quint8 attributes) {
    entry.dosAttributes = attributes;
    return entry;
}

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestZipArchive : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString archive() const { return m_dir.filePath(QStringLiteral("res_ad.zip")); }
    QString base() const { return m_dir.filePath(QStringLiteral("base")) + u'/'; }

    Extracted extract(const QByteArray& password = updateArchivePassword()) {
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
            zip.setBaseDir(base());
            zip.ExtractFiles(QStringLiteral("*.*"), ZipArchive::anyFileAttributes);
            zip.CloseArchive();
        } catch (const Error& error) {
            result.error = QString::fromUtf8(error.what());
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
                     updateArchivePassword());
        // Old content, a read-only file and what a killed run left behind.
        writeBytes(base() + QStringLiteral("a.dll"), "old");
        QDir().mkpath(base() + QStringLiteral("docs"));
        writeBytes(base() + QStringLiteral("docs/b.txt"), "old");
        QFile::setPermissions(base() + QStringLiteral("docs/b.txt"), QFile::ReadOwner);
        writeBytes(base() + QStringLiteral("docs/.b.txt") + AtomicFile::temporaryMarker() +
                       QStringLiteral("Ab12Cd"),
                   "partial");

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
        writeArchive(archive(), {entry}, updateArchivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QCOMPARE(result.events, QStringList{expected});
        QCOMPARE(readBytes(base() + expected), QByteArray("x"));
    }

    void emptyArchive() {
        writeArchive(archive(), {}, updateArchivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QVERIFY(result.events.isEmpty());
        QCOMPARE(result.overall.last(), 100.0);
    }

    void refusesUnsafeArchivesWhole_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("symlink");
        QTest::newRow("parent folder") << QByteArray("../evil.txt") << false;
        QTest::newRow("parent inside") << QByteArray("docs/../../evil.txt") << false;
        QTest::newRow("backslash parent") << QByteArray("docs\\..\\..\\evil.txt") << false;
        QTest::newRow("absolute") << QByteArray("/tmp/evil.txt") << false;
        QTest::newRow("absolute backslash") << QByteArray("\\evil.txt") << false;
        QTest::newRow("drive letter") << QByteArray("C:\\evil.txt") << false;
        QTest::newRow("drive relative") << QByteArray("c:evil.txt") << false;
        QTest::newRow("symbolic link") << QByteArray("link") << true;
    }
    void refusesUnsafeArchivesWhole() {
        QFETCH(QByteArray, name);
        QFETCH(bool, symlink);
        ArchiveEntry bad;
        bad.rawName = name;
        bad.data = "/etc/passwd";
        if (symlink)
            bad.unixMode = 0120777;
        writeArchive(archive(), {fileEntry(QStringLiteral("first.txt"), "new"), bad},
                     updateArchivePassword());
        const Extracted result = extract();
        QVERIFY2(result.error.contains(QString::fromLatin1(name)), qPrintable(result.error));
        QVERIFY(result.events.isEmpty());
        QCOMPARE(folder_tree::list(base()), QStringList());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("evil.txt"))));
    }

    void failures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("damaged item") << "crc"
                                      << "second.txt: CRC error";
        QTest::newRow("wrong password") << "password"
                                        << "first.txt: Wrong password provided";
        QTest::newRow("no ZIP archive") << "garbage"
                                        << "Not a zip archive";
        QTest::newRow("truncated archive") << "truncated"
                                           << "Not a zip archive";
        QTest::newRow("destination cannot be written") << "folder"
                                                       << "Cannot write";
    }
    void failures() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        ArchiveEntry second = fileEntry(QStringLiteral("second.txt"), QByteArray(1000, 'B'));
        second.compress = false;
        writeArchive(archive(), {fileEntry(QStringLiteral("first.txt"), "new"), second},
                     updateArchivePassword());
        QByteArray bytes = readBytes(archive());
        QByteArray password = updateArchivePassword();
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
        }
        writeBytes(archive(), bytes);
        writeBytes(base() + QStringLiteral("first.txt"), "old");

        const Extracted result = extract(password);
        QVERIFY2(result.error.contains(message), qPrintable(result.error));
        // What came before the failure stays extracted; nothing is left half written.
        const bool firstWasExtracted = kind == QStringLiteral("crc") || kind == QStringLiteral("folder");
        QCOMPARE(readBytes(base() + QStringLiteral("first.txt")),
                 QByteArray(firstWasExtracted ? "new" : "old"));
        for (const QString& name : folder_tree::list(base()))
            QVERIFY2(!name.contains(AtomicFile::temporaryMarker()), qPrintable(name));
    }

    void restoresAttributes() {
        writeArchive(archive(),
                     {withUnixMode(fileEntry(QStringLiteral("run.sh"), "#!/bin/sh\n"), 0100755),
                      withUnixMode(fileEntry(QStringLiteral("data.txt"), "x"), 0100640),
                      withDosAttributes(fileEntry(QStringLiteral("readonly.txt"), "x"), 0x01),
                      withDosAttributes(fileEntry(QStringLiteral("writable.txt"), "x"), 0x20)},
                     updateArchivePassword());
        writeBytes(base() + QStringLiteral("readonly.txt"), "old");
        QCOMPARE(extract().error, QString());
        QCOMPARE(modeOf(base() + QStringLiteral("run.sh")), 0755);
        QCOMPARE(modeOf(base() + QStringLiteral("data.txt")), 0640);
        QCOMPARE(modeOf(base() + QStringLiteral("readonly.txt")) & 0222, 0);
        QCOMPARE(modeOf(base() + QStringLiteral("writable.txt")) & 0200, 0200);
    }

    void replacesALinkInsteadOfFollowingIt() {
        writeArchive(archive(), {fileEntry(QStringLiteral("linked.txt"), "new")}, updateArchivePassword());
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
        writeArchive(archive(), entries, updateArchivePassword());
        const Extracted result = extract();
        QCOMPARE(result.error, QString());
        QCOMPARE(result.events, expected);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(readBytes(base() + expected[i]), QByteArray(1000 + i * 37, char('a' + i % 26)));
    }
};

QTEST_GUILESS_MAIN(TestZipArchive)
#include "test_zip_archive.moc"
