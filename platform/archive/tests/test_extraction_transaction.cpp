// The extraction transaction where Windows differs: the old file kept under a second name, the
// read-only attribute, a file in use that refuses its replacement halfway through the commit.

#include "archive/extraction_transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

using archive::ExtractionTransaction;

#ifdef _WIN32
namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

std::wstring wide(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

bool isReadOnly(const QString& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void setReadOnly(const QString& path) {
    QVERIFY(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
}

// The items of a commit that fails at its last file, "z.dll", while that is in use.
void stageFailingCommit(ExtractionTransaction& transaction) {
    std::vector<ExtractionTransaction::Item> items(5);
    items[0].relativePath = "a.dll";
    items[1].relativePath = "sub/b.dll";
    items[2].relativePath = "new";
    items[2].folder = true;
    items[3].relativePath = "new/c.dll";
    items[4].relativePath = "z.dll";
    transaction.begin(items);
    for (std::size_t k = 0; k < items.size(); ++k)
        if (!items[k].folder)
            transaction.stage(k, [](ExtractionTransaction::Writer& w) { w.write("new", 3); });
}

// A run killed once its commit failed halfway, before any rollback: the process ends at once, as
// under TerminateProcess, and the system closes what it held.
[[noreturn]] void killedInCommit(const QString& root) {
    ExtractionTransaction transaction(root, true);
    stageFailingCommit(transaction);
    try {
        transaction.commit();
    } catch (const std::exception&) {
        TerminateProcess(GetCurrentProcess(), 9);
    }
    TerminateProcess(GetCurrentProcess(), 1);
    std::abort();
}

} // namespace
#endif

class TestExtractionTransaction : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replacingKeepsReadOnly();
    void failedCommitLeavesAllOld_data();
    void failedCommitLeavesAllOld();
    void foldersOnTheWayAreHeld();
    void junctionOnTheWayRefuses();
};

void TestExtractionTransaction::replacingKeepsReadOnly() {
#ifndef _WIN32
    QSKIP("the read-only attribute is Windows' own; elsewhere the mode is kept, tested with the update");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    writeFile(root + "/kept.dll", "old kept");
    writeFile(root + "/plain.dll", "old plain");
    setReadOnly(root + "/kept.dll");
    {
        ExtractionTransaction transaction(root, true);
        std::vector<ExtractionTransaction::Item> items(2);
        items[0].relativePath = "kept.dll";
        items[1].relativePath = "plain.dll";
        for (auto& item : items)
            item.keepReplacedMode = true;
        transaction.begin(items);
        transaction.stage(0, [](ExtractionTransaction::Writer& w) { w.write("new kept", 8); });
        transaction.stage(1, [](ExtractionTransaction::Writer& w) { w.write("new plain", 9); });
        transaction.commit();
    }
    QCOMPARE(readFile(root + "/kept.dll"), QByteArray("new kept"));
    QVERIFY(isReadOnly(root + "/kept.dll"));
    QCOMPARE(readFile(root + "/plain.dll"), QByteArray("new plain"));
    QVERIFY(!isReadOnly(root + "/plain.dll"));
    QVERIFY(!QFileInfo::exists(root + '/' + ExtractionTransaction::stagingFolderName()));
#endif
}

void TestExtractionTransaction::failedCommitLeavesAllOld_data() {
    QTest::addColumn<bool>("killed");
    QTest::newRow("rolled back") << false;
    QTest::newRow("killed, then recovered") << true;
}

// The last file is in use, so the commit fails after the others were replaced and a folder made.
void TestExtractionTransaction::failedCommitLeavesAllOld() {
#ifndef _WIN32
    QSKIP("a file in use refuses its replacement on Windows only; elsewhere the update's process tests "
          "cover a failed commit");
#else
    QFETCH(bool, killed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    writeFile(root + "/a.dll", "old a");
    writeFile(root + "/sub/b.dll", "old b");
    writeFile(root + "/z.dll", "old z");
    setReadOnly(root + "/sub/b.dll");
    // Shared for reading only, as a running program holds its libraries.
    const HANDLE inUse = CreateFileW(wide(root + "/z.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    QVERIFY(inUse != INVALID_HANDLE_VALUE);

    if (killed) {
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"--killed-in-commit", root}), 9);
        QCOMPARE(readFile(root + "/a.dll"), QByteArray("new")); // halfway indeed
        ExtractionTransaction::recover(root);
    } else {
        ExtractionTransaction transaction(root, true);
        stageFailingCommit(transaction);
        QVERIFY_THROWS_EXCEPTION(std::exception, transaction.commit());
        QVERIFY(transaction.rollback());
    }
    CloseHandle(inUse);

    QCOMPARE(readFile(root + "/a.dll"), QByteArray("old a"));
    QCOMPARE(readFile(root + "/sub/b.dll"), QByteArray("old b"));
    QVERIFY(isReadOnly(root + "/sub/b.dll"));
    QVERIFY(!isReadOnly(root + "/a.dll"));
    QCOMPARE(readFile(root + "/z.dll"), QByteArray("old z"));
    QVERIFY(!QFileInfo::exists(root + "/new"));
    QVERIFY(!QFileInfo::exists(root + '/' + ExtractionTransaction::stagingFolderName()));
    SetFileAttributesW(wide(root + "/sub/b.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

// While the update runs, no folder on the way can be renamed (and so not swapped for a junction).
void TestExtractionTransaction::foldersOnTheWayAreHeld() {
#ifndef _WIN32
    QSKIP("elsewhere folders are reached through opened descriptors, tested with the update");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    writeFile(root + "/lib/deep/a.dll", "old a");
    std::vector<ExtractionTransaction::Item> items(2);
    items[0].relativePath = "lib/deep/a.dll";
    items[1].relativePath = "lib/deep/new/b.dll";
    {
        ExtractionTransaction transaction(root, true);
        transaction.begin(items);
        for (const QString& folder : {QStringLiteral("/lib"), QStringLiteral("/lib/deep")}) {
            QVERIFY2(!MoveFileW(wide(root + folder).c_str(), wide(root + folder + "-moved").c_str()),
                     qPrintable(folder));
            QCOMPARE(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        }
        transaction.stage(0, [](ExtractionTransaction::Writer& w) { w.write("new a", 5); });
        transaction.stage(1, [](ExtractionTransaction::Writer& w) { w.write("new b", 5); });
        transaction.commit();
    }
    QCOMPARE(readFile(root + "/lib/deep/a.dll"), QByteArray("new a"));
    QCOMPARE(readFile(root + "/lib/deep/new/b.dll"), QByteArray("new b"));
    // Let go once the update is done.
    QVERIFY(MoveFileW(wide(root + "/lib").c_str(), wide(root + "/lib-moved").c_str()));
#endif
}

void TestExtractionTransaction::junctionOnTheWayRefuses() {
#ifndef _WIN32
    QSKIP("a folder link elsewhere is tested with the update");
#else
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        QSKIP("Wine makes no junctions");
    QTemporaryDir dir;
    QTemporaryDir outside;
    QVERIFY(dir.isValid() && outside.isValid());
    const QString root = dir.path();
    const QString link = QDir::toNativeSeparators(root + "/docs");
    QCOMPARE(
        QProcess::execute("cmd.exe", {"/c", "mklink", "/J", link, QDir::toNativeSeparators(outside.path())}),
        0);
    std::vector<ExtractionTransaction::Item> items(1);
    items[0].relativePath = "docs/a.txt";
    ExtractionTransaction transaction(root, true);
    QVERIFY_THROWS_EXCEPTION(std::exception, transaction.begin(items));
    QVERIFY(QDir(outside.path()).isEmpty());
    QVERIFY(RemoveDirectoryW(wide(link).c_str()));
#endif
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    if (const QStringList arguments = app.arguments();
        arguments.size() == 3 && arguments[1] == "--killed-in-commit")
        killedInCommit(arguments[2]);
#endif
    TestExtractionTransaction test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_extraction_transaction.moc"
