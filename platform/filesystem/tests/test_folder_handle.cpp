#include "filesystem/folder_handle.h"
#include "support/folder_tree.h"
#include "support/system_facilities.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <unistd.h>

using filesystem::FolderHandle;
using folder_tree::list;
using folder_tree::makeFile;
using folder_tree::makeFolder;
using folder_tree::makeLink;

namespace {

using RenameFn = bool (FolderHandle::*)(const QString&, const QString&) const;

QString kindName(FolderHandle::Kind kind) {
    switch (kind) {
    case FolderHandle::Kind::Folder:
        return QStringLiteral("folder");
    case FolderHandle::Kind::Link:
        return QStringLiteral("link");
    case FolderHandle::Kind::Other:
        break;
    }
    return QStringLiteral("other");
}

} // namespace

class TestFolderHandle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entriesNameEveryKind() {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath(QStringLiteral(".hidden"))));
        QVERIFY(makeFile(dir.filePath(QStringLiteral("Акт.doc"))));
        QVERIFY(makeFolder(dir.filePath(QStringLiteral(".folder"))));
        QVERIFY(makeFolder(dir.filePath(QStringLiteral("x?y:z"))));
        QVERIFY(makeLink(dir.filePath(QStringLiteral("x?y:z")), dir.filePath(QStringLiteral("link"))));
        QList<FolderHandle::Entry> entries = FolderHandle::open(dir.path()).entries();
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        QStringList seen;
        for (const FolderHandle::Entry& entry : entries)
            seen.append(entry.name + u' ' + kindName(entry.kind));
        QCOMPARE(seen, (QStringList{".folder folder", ".hidden other", "link link", "x?y:z folder",
                                    "Акт.doc other"}));
    }

    // Every byte of a name that is not UTF-8 survives the way through a name and back.
    void namesThatAreNotUtf8() {
        SKIP_UNLESS_POSIX("Windows names are UTF-16, never bytes");
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path());
        const QByteArray odd("\xFF\xFE"
                             "a\xC3(\xE2\x82\xED\xA0\x80\xF4\x90\x80\x80\xC0\xAF\xD0\x90");
        QVERIFY(system_facilities::makeFolderOfBytes(path + "/" + odd));
        const FolderHandle folder = FolderHandle::open(dir.path());
        const QList<FolderHandle::Entry> entries = folder.entries();
        QCOMPARE(entries.size(), 1);
        QVERIFY(entries[0].name.endsWith(QStringLiteral("\u0410"))); // the valid end decodes as it is
        QVERIFY(folder.child(entries[0].name).isOpen());
        QVERIFY(folder.rename(entries[0].name, entries[0].name + u'x'));
        QVERIFY(::access((path + "/" + odd + "x").constData(), F_OK) == 0);
        QVERIFY(folder.removeFolder(entries[0].name + u'x'));
    }

    void linkToFolder() {
        QTemporaryDir dir;
        QVERIFY(makeFolder(dir.filePath(QStringLiteral("folder"))));
        QVERIFY(makeFile(dir.filePath(QStringLiteral("file"))));
        QVERIFY(makeLink(dir.filePath(QStringLiteral("folder")), dir.filePath(QStringLiteral("to-folder"))));
        QVERIFY(makeLink(dir.filePath(QStringLiteral("file")), dir.filePath(QStringLiteral("to-file"))));
        QVERIFY(makeLink(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("to-nothing"))));
        const FolderHandle folder = FolderHandle::open(dir.path());
        QVERIFY(folder.isLinkToFolder(QStringLiteral("to-folder")));
        for (const char* name : {"folder", "file", "to-file", "to-nothing", "missing"})
            QVERIFY2(!folder.isLinkToFolder(QString::fromUtf8(name)), name);
    }

    void childNeverFollowsALink() {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath(QStringLiteral("elsewhere/victim"))));
        QVERIFY(
            makeLink(dir.filePath(QStringLiteral("elsewhere")), dir.filePath(QStringLiteral("inside/link"))));
        const FolderHandle inside = FolderHandle::open(dir.filePath(QStringLiteral("inside")));
        QVERIFY(inside.isOpen());
        QVERIFY(!inside.child(QStringLiteral("link")).isOpen());
        QVERIFY(!inside.child(QStringLiteral("..")).isOpen());
        QVERIFY(!inside.child(QStringLiteral("missing")).isOpen());
        QVERIFY(FolderHandle::open(dir.path()).child(QStringLiteral("elsewhere")).isOpen());
        // The caller's own path is followed.
        QVERIFY(FolderHandle::open(dir.filePath(QStringLiteral("inside/link"))).isOpen());
        // Removing the link removes the link only.
        QVERIFY(!inside.removeFolder(QStringLiteral("link")));
        QVERIFY(inside.removeFile(QStringLiteral("link")));
        QCOMPARE(list(dir.path()), (QStringList{"elsewhere/", "elsewhere/victim", "inside/"}));
    }

    void removeFileRefusesAFolder() {
        QTemporaryDir dir;
        QVERIFY(makeFolder(dir.filePath(QStringLiteral("empty"))));
        const FolderHandle folder = FolderHandle::open(dir.path());
        QVERIFY(!folder.removeFile(QStringLiteral("empty")));
        QVERIFY(folder.removeFolder(QStringLiteral("empty")));
        QVERIFY(list(dir.path()).isEmpty());
    }

    void passableButUnlistableFolder() {
        SKIP_UNLESS_POSIX("a folder that can be passed but not listed needs POSIX modes");
        if (system_facilities::runsAsSuperuser())
            QSKIP("permissions do not bind the superuser");
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath(QStringLiteral("locked/file"))));
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                                      QFile::WriteOwner | QFile::ExeOwner));
        const FolderHandle locked = FolderHandle::open(dir.path()).child(QStringLiteral("locked"));
        QVERIFY(locked.isOpen());
        QVERIFY(locked.entries().isEmpty());
        QVERIFY(locked.removeFile(QStringLiteral("file")));
    }

    void renameRefusesWhatExists_data() {
        QTest::addColumn<bool>("checkingFirst");
        QTest::addColumn<QString>("taken");
        for (const bool checkingFirst : {false, true}) {
            const char* how = checkingFirst ? "checking first: " : "by the kernel: ";
            QTest::addRow("%san empty folder", how) << checkingFirst << "folder";
            QTest::addRow("%sa file", how) << checkingFirst << "file";
            QTest::addRow("%sa dangling link", how) << checkingFirst << "link";
            QTest::addRow("%sfree", how) << checkingFirst << QString();
        }
    }
    void renameRefusesWhatExists() {
        QFETCH(bool, checkingFirst);
        QFETCH(QString, taken);
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath(QStringLiteral("a?/photo.jpg"))));
        const QString target = dir.filePath(QStringLiteral("a_qst_"));
        if (taken == u"folder")
            QVERIFY(makeFolder(target));
        else if (taken == u"file")
            QVERIFY(makeFile(target));
        else if (taken == u"link")
            QVERIFY(makeLink(dir.filePath(QStringLiteral("nowhere")), target));
        const QStringList before = list(dir.path());
        const RenameFn rename = checkingFirst ? &FolderHandle::renameCheckingFirst : &FolderHandle::rename;
        const FolderHandle folder = FolderHandle::open(dir.path());
        const bool renamed = (folder.*rename)(QStringLiteral("a?"), QStringLiteral("a_qst_"));
        if (taken.isEmpty()) {
            QVERIFY(renamed);
            QCOMPARE(list(dir.path()), (QStringList{"a_qst_/", "a_qst_/photo.jpg"}));
        } else {
            QVERIFY(!renamed);
            QCOMPARE(list(dir.path()), before);
        }
    }
};

QTEST_APPLESS_MAIN(TestFolderHandle)
#include "test_folder_handle.moc"
