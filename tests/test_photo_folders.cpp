#include "support/files_fixture.h"
#include "support/folder_tree.h"
#include "support/system_facilities.h"

#include <QTest>

#include <dirent.h>
#include <sys/stat.h>

using folder_tree::list;
using folder_tree::makeFile;
using folder_tree::makeFolder;
using folder_tree::makeLink;

class TestPhotoFolders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dirNameForPhoto_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("x?y:z") << "x?y:z"
                               << "x_qst_y_2pn_z";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("none of the nine") << "Иванов И.И. 1990_05 (2)"
                                          << "Иванов И.И. 1990_05 (2)";
        QTest::newRow("the nine in order") << "\\/:*|\"<>?"
                                           << "_psl__osl__2pn__str__vsl__kvc__lss__big__qst_";
        QTest::newRow("every occurrence") << "??a??"
                                          << "_qst__qst_a_qst__qst_";
        QTest::newRow("tokens stay as they are") << "_qst_?"
                                                 << "_qst__qst_";
        QTest::newRow("look-alikes are no reserved characters") << "a\uFF1Fb\u2215c"
                                                                << "a\uFF1Fb\u2215c";
    }
    void dirNameForPhoto() {
        QFETCH(QString, name);
        QFETCH(QString, encoded);
        QCOMPARE(files::FileMaintenance::DirNameForPhoto(name), encoded);
    }

    void renameDirForPhoto() {
        SKIP_UNLESS_POSIX("Windows names cannot hold the reserved characters");
        FilesFixture f;
        const QString photos = f.dir.filePath(QStringLiteral("photos"));
        const QString outside = f.dir.filePath(QStringLiteral("outside"));
        for (const char* folder : {"x?y:z/in?ner", "plain", ".dot|ted", "a\\:*|\"<>?b", "t?", "t_qst_", "u*"})
            QVERIFY(makeFolder(photos + u'/' + QString::fromUtf8(folder)));
        QVERIFY(makeFile(photos + QStringLiteral("/f?.jpg")));
        QVERIFY(makeFile(photos + QStringLiteral("/t?/photo.jpg")));
        QVERIFY(makeFile(photos + QStringLiteral("/u_str_")));
        QVERIFY(makeFolder(outside + QStringLiteral("/l?")));
        // A link to a folder is renamed by its own name; links to a file or to nothing stay.
        QVERIFY(makeLink(outside + QStringLiteral("/l?"), photos + QStringLiteral("/l?")));
        QVERIFY(makeFile(outside + QStringLiteral("/g?.jpg")));
        QVERIFY(makeLink(outside + QStringLiteral("/g?.jpg"), photos + QStringLiteral("/g?")));
        QVERIFY(makeLink(outside + QStringLiteral("/gone?"), photos + QStringLiteral("/d?")));
        f.files.RenameDirForPhoto(photos);
        QCOMPARE(list(photos),
                 (QStringList{".dot_vsl_ted/", "a_psl__2pn__str__vsl__kvc__lss__big__qst_b/", "d?@", "f?.jpg",
                              "g?@", "l_qst_@", "plain/", "t?/", "t?/photo.jpg", "t_qst_/", "u*/", "u_str_",
                              "x_qst_y_2pn_z/", "x_qst_y_2pn_z/in?ner/"}));
        QCOMPARE(QFileInfo(photos + QStringLiteral("/l_qst_")).symLinkTarget(),
                 outside + QStringLiteral("/l?"));
        QCOMPARE(list(outside), (QStringList{"g?.jpg", "l?/"}));
        QVERIFY(f.dialogs.shown.isEmpty());
        QVERIFY(f.log().isEmpty());
    }

    // A name is renamed by its bytes: one that is not UTF-8 keeps every other byte as it was.
    void namesThatAreNotUtf8() {
        SKIP_UNLESS_POSIX("Windows names are UTF-16, never bytes");
        FilesFixture f;
        const QByteArray photos = QFile::encodeName(f.dir.filePath(QStringLiteral("photos")));
        QVERIFY(system_facilities::makeFolderOfBytes(photos));
        for (const QByteArray& name :
             {QByteArray("\xFF?\xC3(:"), QByteArray("\xED\xB2\x80*"), QByteArray("\xC0\xAFkeep")})
            QVERIFY(system_facilities::makeFolderOfBytes(photos + '/' + name));
        f.files.RenameDirForPhoto(QFile::decodeName(photos));
        QStringList seen;
        DIR* dir = ::opendir(photos.constData());
        QVERIFY(dir);
        while (const dirent* entry = ::readdir(dir))
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                seen.append(QString::fromLatin1(QByteArray(entry->d_name).toHex(' ')));
        ::closedir(dir);
        seen.sort();
        const auto hex = [](const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); };
        QStringList expected{hex("\xFF_qst_\xC3(_2pn_"), hex("\xED\xB2\x80_str_"), hex("\xC0\xAFkeep")};
        expected.sort();
        QCOMPARE(seen, expected);
    }

    void missingFolderDoesNothing() {
        FilesFixture f;
        f.files.RenameDirForPhoto(f.dir.filePath(QStringLiteral("missing")));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void button4RenamesThePhotoFolder() {
        SKIP_UNLESS_POSIX("Windows names cannot hold the reserved characters");
        FilesFixture f;
        QVERIFY(makeFolder(f.updaterFolder + QStringLiteral("foto/Петров: 10?")));
        QVERIFY(makeFolder(f.updaterFolder + QStringLiteral("other?")));
        f.handle([&] { f.files.renamePhotoFolders(); });
        QCOMPARE(list(f.updaterFolder),
                 (QStringList{"foto/", "foto/Петров_2pn_ 10_qst_/", "other?/", "res/"}));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    // The walk lets the queue run after every entry, all of it inside one scope of the operation, so
    // that the window answers meanwhile and a close waits for the walk.
    void theQueueRunsAfterEveryEntry() {
        SKIP_UNLESS_POSIX("Windows names cannot hold the reserved characters");
        FilesFixture f;
        const QString photos = f.dir.filePath(QStringLiteral("photos"));
        QVERIFY(makeFolder(photos + QStringLiteral("/a?")));
        QVERIFY(makeFolder(photos + QStringLiteral("/b?")));
        QVERIFY(makeFile(photos + QStringLiteral("/c?.jpg"), "photo"));
        QList<int> renamedWhenRun;
        QList<int> depthWhenRun;
        f.queue.onRun = [&] {
            renamedWhenRun.append(int(list(photos).filter(QStringLiteral("_qst_")).size()));
            depthWhenRun.append(f.queue.depth);
        };
        f.files.RenameDirForPhoto(photos);
        QCOMPARE(f.queue.runs, 3);
        QCOMPARE(depthWhenRun, (QList<int>{1, 1, 1}));
        // Whatever the order of the entries, the queue ran once between the two renames.
        QVERIFY(renamedWhenRun.contains(1));
        QCOMPARE(renamedWhenRun.last(), 2);
        QCOMPARE(f.queue.depth, 0);
        QCOMPARE(list(photos), (QStringList{"a_qst_/", "b_qst_/", "c?.jpg"}));
    }
};

QTEST_MAIN(TestPhotoFolders)
#include "test_photo_folders.moc"
