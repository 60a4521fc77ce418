#include "support/files_fixture.h"
#include "support/folder_tree.h"
#include "support/system_facilities.h"
#include "text/codepage.h"

#include <QStringEncoder>
#include <QTest>

using folder_tree::list;
using folder_tree::makeFile;
using folder_tree::makeFolder;
using folder_tree::makeLink;

namespace {

enum class Encoding { Utf8, Utf16LE, Utf16BE, Ansi };

QByteArray listBytes(const QStringList& lines, Encoding encoding, const QString& lineBreak, bool breakAtEnd) {
    QString text = lines.join(lineBreak);
    if (breakAtEnd)
        text += lineBreak;
    switch (encoding) {
    case Encoding::Utf8:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Utf16LE:
        return QByteArray("\xFF\xFE") + QStringEncoder(QStringConverter::Utf16LE).encode(text);
    case Encoding::Utf16BE:
        return QByteArray("\xFE\xFF") + QStringEncoder(QStringConverter::Utf16BE).encode(text);
    case Encoding::Ansi:
        break;
    }
    return text::encode(text, text::Page::Ansi);
}

// The file maintenance whose list file and target folder live in a temporary folder, with a folder outside
// the target for what must survive.
struct Fixture {
    Fixture() {
        target = f.dir.filePath(QStringLiteral("target")) + u'/';
        outside = f.dir.filePath(QStringLiteral("outside"));
        makeFolder(target);
        makeFolder(outside);
    }
    bool writeList(const QByteArray& bytes) {
        return makeFile(f.updaterFolder + QStringLiteral("res/files.txt"), bytes);
    }
    bool writeList(const QStringList& lines) {
        return writeList(listBytes(lines, Encoding::Utf8, "\r\n", true));
    }
    QString at(const QString& relative) const { return target + relative; }

    FilesFixture f;
    QString target;
    QString outside;
};

} // namespace

Q_DECLARE_METATYPE(Encoding)

class TestObsoleteFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listedFilesGo_data() {
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<QString>("lineBreak");
        QTest::addColumn<bool>("breakAtEnd");
        QTest::newRow("UTF-8, CR LF") << Encoding::Utf8 << "\r\n" << true;
        QTest::newRow("UTF-8, LF, no break at the end") << Encoding::Utf8 << "\n" << false;
        QTest::newRow("UTF-16LE, CR LF") << Encoding::Utf16LE << "\r\n" << true;
        QTest::newRow("UTF-16LE, CR") << Encoding::Utf16LE << "\r" << false;
        QTest::newRow("UTF-16BE, LF") << Encoding::Utf16BE << "\n" << true;
        QTest::newRow("UTF-16BE, CR") << Encoding::Utf16BE << "\r" << true;
        QTest::newRow("ANSI, CR LF") << Encoding::Ansi << "\r\n" << true;
        QTest::newRow("ANSI, CR, no break at the end") << Encoding::Ansi << "\r" << false;
    }
    void listedFilesGo() {
        QFETCH(Encoding, encoding);
        QFETCH(QString, lineBreak);
        QFETCH(bool, breakAtEnd);
        Fixture x;
        for (const char* name : {"top.txt", "keep.txt", "doc/a.txt", "doc/Оплата/Акт №1.doc", "doc/sub/b.txt",
                                 "doc/sub/c.txt", "doc/other/d.txt"})
            QVERIFY(makeFile(x.at(QString::fromUtf8(name))));
        QVERIFY(x.writeList(
            listBytes({"top.txt", "doc\\a.txt", "doc\\Оплата\\Акт №1.doc", "doc/sub\\b.txt", "doc/sub/c.txt"},
                      encoding, lineBreak, breakAtEnd)));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), (QStringList{"doc/", "doc/other/", "doc/other/d.txt", "keep.txt"}));
        QVERIFY(x.f.dialogs.shown.isEmpty());
        QVERIFY(x.f.log().isEmpty());
    }

    void linesAreUsedExactly() {
        Fixture x;
        for (const char* name : {"a.txt", " spaced.txt ", "doc/keep.txt", "folder/inner.txt", "doc/x/y.txt"})
            QVERIFY(makeFile(x.at(QString::fromUtf8(name))));
        // An empty line names the target itself, a folder is no file, a trailing separator names a
        // folder, a missing file is passed over, and the deletions go on.
        QVERIFY(x.writeList(QStringList{"", "missing.txt", " a.txt", "a.txt ", "folder", "folder/",
                                        "doc/x/y.txt/", " spaced.txt ", "A.TXT", "doc//x\\\\.\\y.txt"}));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target),
                 (QStringList{"a.txt", "doc/", "doc/keep.txt", "folder/", "folder/inner.txt"}));
    }

    // A file its owner may not write is read-only: it stays, also for root, and the walk goes on.
    void readOnlyFilesStay() {
        Fixture x;
        for (const char* name : {"doc/locked.txt", "doc/plain.txt", "doc/group-only.txt"})
            QVERIFY(makeFile(x.at(QString::fromUtf8(name))));
        QVERIFY(QFile::setPermissions(x.at(QStringLiteral("doc/locked.txt")), QFileDevice::ReadOwner |
                                                                                  QFileDevice::ReadGroup |
                                                                                  QFileDevice::ReadOther));
        QVERIFY(QFile::setPermissions(x.at(QStringLiteral("doc/group-only.txt")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(x.writeList(QStringList{"doc/locked.txt", "doc/plain.txt", "doc/group-only.txt"}));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), (QStringList{"doc/", "doc/locked.txt"}));
        QVERIFY(x.f.dialogs.shown.isEmpty());
    }

    // A list written with its byte-order mark twice names a file whose name begins with U+FEFF.
    void aDoubledMarkBelongsToTheName() {
        Fixture x;
        const QString marked = QStringLiteral("\uFEFFkeep.txt");
        QVERIFY(makeFile(x.at(QStringLiteral("keep.txt"))));
        QVERIFY(makeFile(x.at(marked)));
        QVERIFY(x.writeList(QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFkeep.txt\r\n")));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), QStringList{"keep.txt"});
    }

    void emptyListStillPrunes() {
        Fixture x;
        QVERIFY(makeFolder(x.at(QStringLiteral("doc/empty/deeper"))));
        QVERIFY(makeFile(x.at(QStringLiteral("kept.txt"))));
        QVERIFY(x.writeList(QByteArray()));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), QStringList{"kept.txt"});
    }

    void nothingOutsideTheTargetGoes_data() {
        QTest::addColumn<QString>("line");
        QTest::newRow("climbs out") << "../outside/victim.txt";
        QTest::newRow("climbs out with backslashes") << "..\\outside\\victim.txt";
        QTest::newRow("climbs out later") << "doc/sub/../../../outside/victim.txt";
        QTest::newRow("absolute") << "<outside>/victim.txt";
        QTest::newRow("root first") << "\\..\\outside\\victim.txt";
        QTest::newRow("through a link to a folder") << "doc/link/victim.txt";
        QTest::newRow("through a link, then climbing") << "doc/link/../outside/victim.txt";
        QTest::newRow("through a link at the top") << "toplink\\victim.txt";
    }
    void nothingOutsideTheTargetGoes() {
        QFETCH(QString, line);
        Fixture x;
        QVERIFY(makeFile(x.outside + QStringLiteral("/victim.txt")));
        QVERIFY(makeFolder(x.outside + QStringLiteral("/empty")));
        QVERIFY(makeLink(x.outside, x.at(QStringLiteral("doc/link"))));
        QVERIFY(makeLink(x.outside, x.at(QStringLiteral("toplink"))));
        QVERIFY(makeFile(x.at(QStringLiteral("doc/sub/inside.txt"))));
        const QStringList outsideBefore = list(x.outside);
        QVERIFY(x.writeList(QStringList{line.replace(QStringLiteral("<outside>"), x.outside)}));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.outside), outsideBefore);
        // The link keeps "doc", and the pruning does not go behind it.
        QCOMPARE(list(x.target),
                 (QStringList{"doc/", "doc/link@", "doc/sub/", "doc/sub/inside.txt", "toplink@"}));
    }

    void climbingThatStaysInsideIsResolved_data() {
        QTest::addColumn<QString>("line");
        QTest::newRow("down and up") << "doc/sub/../inside.txt";
        QTest::newRow("up through a link that is never entered") << "doc/link/../inside.txt";
        QTest::newRow("dots") << ".\\doc\\.\\inside.txt";
    }
    void climbingThatStaysInsideIsResolved() {
        QFETCH(QString, line);
        Fixture x;
        QVERIFY(makeFile(x.at(QStringLiteral("doc/inside.txt"))));
        QVERIFY(makeFile(x.at(QStringLiteral("doc/keep.txt"))));
        QVERIFY(makeLink(x.outside, x.at(QStringLiteral("doc/link"))));
        QVERIFY(makeFile(x.outside + QStringLiteral("/inside.txt")));
        QVERIFY(x.writeList(QStringList{line}));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), (QStringList{"doc/", "doc/keep.txt", "doc/link@"}));
        QCOMPARE(list(x.outside), QStringList{"inside.txt"});
    }

    void aListedLinkGoesItselfOnly() {
        Fixture x;
        QVERIFY(makeFile(x.outside + QStringLiteral("/victim.txt")));
        QVERIFY(makeLink(x.outside + QStringLiteral("/victim.txt"), x.at(QStringLiteral("doc/file-link"))));
        QVERIFY(makeLink(x.outside, x.at(QStringLiteral("doc/folder-link"))));
        QVERIFY(x.writeList(QStringList{"doc/file-link", "doc/folder-link"}));
        x.f.files.RemoveFiles(x.target);
        QVERIFY(list(x.target).isEmpty());
        QCOMPARE(list(x.outside), QStringList{"victim.txt"});
    }

    // A drive names a folder of another disk, not one of the target, also where there are no drives.
    void aDriveIsAbsolute() {
        Fixture x;
        QVERIFY(makeFile(x.at(QStringLiteral("C:/victim.txt"))));
        QVERIFY(x.writeList(QStringList{"C:\\victim.txt", "C:victim.txt"}));
        x.f.files.RemoveFiles(x.target);
        QCOMPARE(list(x.target), (QStringList{"C:/", "C:/victim.txt"}));
    }

    void pruning() {
        Fixture x;
        for (const char* folder : {"doc/empty", "doc/deep/a/b/c", "doc/kept/y/z", "doc/.dotted/inner",
                                   "doc/dotfile", "doc/kept/x/w"})
            QVERIFY(makeFolder(x.at(QString::fromUtf8(folder))));
        QVERIFY(makeFile(x.at(QStringLiteral("doc/kept/x/file.txt"))));
        QVERIFY(makeFile(x.at(QStringLiteral("doc/dotfile/.hidden"))));
        QVERIFY(makeFolder(x.outside + QStringLiteral("/empty/deeper")));
        QVERIFY(makeLink(x.outside + QStringLiteral("/empty"), x.at(QStringLiteral("doc/linked/link"))));
        QVERIFY(!x.f.files.RemoveEmptyFolders(x.at(QStringLiteral("doc"))));
        QCOMPARE(list(x.target), (QStringList{"doc/", "doc/.dotted/", "doc/.dotted/inner/", "doc/dotfile/",
                                              "doc/dotfile/.hidden", "doc/kept/", "doc/kept/x/",
                                              "doc/kept/x/file.txt", "doc/linked/", "doc/linked/link@"}));
        QCOMPARE(list(x.outside), (QStringList{"empty/", "empty/deeper/"}));
    }

    void pruningResult_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("removed");
        QTest::newRow("empty") << QStringList{"doc"} << true;
        QTest::newRow("trees of empty folders") << QStringList{"doc/a/b", "doc/c", "doc/Оплата"} << true;
        QTest::newRow("missing") << QStringList{} << false;
    }
    void pruningResult() {
        QFETCH(QStringList, folders);
        QFETCH(bool, removed);
        Fixture x;
        for (const QString& folder : folders)
            QVERIFY(makeFolder(x.at(folder)));
        QCOMPARE(x.f.files.RemoveEmptyFolders(x.at(QStringLiteral("doc"))), removed);
        QVERIFY(list(x.target).isEmpty());
    }

    void aLinkedRootIsNotFollowed() {
        Fixture x;
        QVERIFY(makeFolder(x.outside + QStringLiteral("/empty")));
        QVERIFY(makeLink(x.outside, x.at(QStringLiteral("doc"))));
        QVERIFY(!x.f.files.RemoveEmptyFolders(x.at(QStringLiteral("doc"))));
        QCOMPARE(list(x.target), QStringList{"doc@"});
        QCOMPARE(list(x.outside), QStringList{"empty/"});
    }

    void button5RenamesAndRemoves() {
        FilesFixture f;
        const QString folder = f.updaterFolder;
        QVERIFY(makeFile(folder + QStringLiteral("doc/oplata/Счёт.doc")));
        QVERIFY(makeFile(folder + QStringLiteral("doc/old.doc")));
        QVERIFY(makeFolder(folder + QStringLiteral("doc/empty")));
        QVERIFY(makeFile(folder + QStringLiteral("res/files.txt"), QByteArray("doc\\old.doc\r\n")));
        f.handle([&] { f.files.removeObsoleteFiles(); });
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(list(folder),
                 (QStringList{"doc/", "doc/Оплата/", "doc/Оплата/Счёт.doc", "res/", "res/files.txt"}));
    }

    void button5KeepsATakenName() {
        FilesFixture f;
        const QString folder = f.updaterFolder;
        QVERIFY(makeFile(folder + QStringLiteral("doc/oplata/a.doc")));
        QVERIFY(makeFolder(folder + QStringLiteral("doc/Оплата")));
        QVERIFY(makeFile(folder + QStringLiteral("res/files.txt"), QByteArray("doc/oplata/a.doc\n")));
        f.handle([&] { f.files.removeObsoleteFiles(); });
        QVERIFY(f.dialogs.shown.isEmpty());
        // The empty "Оплата" is not replaced; the removal goes on and prunes both.
        QCOMPARE(list(folder), (QStringList{"res/", "res/files.txt"}));
    }

    // Whatever stands in the list's place, the command never waits for it.
    void button5WithoutList_data() {
        QTest::addColumn<QString>("instead");
        QTest::newRow("missing") << QString();
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a named pipe") << "fifo";
        QTest::newRow("a link to /dev/zero") << "zero";
    }
    void button5WithoutList() {
        QFETCH(QString, instead);
        if (instead == u"fifo" || instead == u"zero")
            SKIP_UNLESS_POSIX("named pipes and /dev/zero are POSIX-only");
        FilesFixture f;
        const QString folder = f.updaterFolder;
        const QString list = folder + QStringLiteral("res/files.txt");
        QVERIFY(makeFile(folder + QStringLiteral("doc/oplata/a.doc")));
        QVERIFY(makeFolder(folder + QStringLiteral("doc/empty")));
        QVERIFY(makeFolder(folder + QStringLiteral("res")));
        if (instead == u"folder")
            QVERIFY(makeFolder(list));
        else if (instead == u"fifo")
            QVERIFY(system_facilities::makeFifo(list));
        else if (instead == u"zero")
            QVERIFY(makeLink(QStringLiteral("/dev/zero"), list));
        f.handle([&] { f.files.removeObsoleteFiles(); });
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QVERIFY2(f.dialogs.shown[0].text.startsWith(QStringLiteral("Не удаётся открыть файл \"") + folder +
                                                    QStringLiteral("res/files.txt\"")),
                 qPrintable(f.dialogs.shown[0].text));
        QVERIFY(f.log().isEmpty());
        // The rename came first; nothing was pruned.
        QStringList expected{"doc/", "doc/empty/", "doc/Оплата/", "doc/Оплата/a.doc", "res/"};
        if (instead == u"folder")
            expected << "res/files.txt/";
        else if (!instead.isEmpty())
            expected << (instead == u"zero" ? "res/files.txt@" : "res/files.txt");
        QCOMPARE(folder_tree::list(folder), expected);
    }
};

QTEST_MAIN(TestObsoleteFiles)
#include "test_obsolete_files.moc"
