#include "app/update_lock.h"
#include "base/error.h"
#include "support/window_fixture.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cmath>

using base::Error;
using registry::Registry;
using seams::BoxIcon;

namespace {

// The registry of the kit, refusing every write after the first `allowed` ones.
class RefusingRegistry final : public Registry {
public:
    RefusingRegistry(const QString& path, int allowed)
        : m_inner(registry::openUserRegistry(path))
        , m_allowed(allowed) {}
    void writeString(const QString& section, const QString& name, const QString& text) override {
        if (m_allowed-- <= 0)
            throw Error("Failed to set data for '" + name.toStdString() + "'");
        m_inner->writeString(section, name, text);
    }
    native::Lookup lookup(const QString& section, const QString& name) const override {
        return m_inner->lookup(section, name);
    }

private:
    std::unique_ptr<Registry> m_inner;
    int m_allowed;
};

QString version(WindowFixture& f, const char* section) {
    return f.registry->readString(QString::fromLatin1(section), QStringLiteral("ProgrammVersion"), QString());
}

} // namespace

class TestUpdateCommand : public QObject {
    Q_OBJECT

    QString m_startFolder = QDir::currentPath();

private Q_SLOTS:
    void cleanup() { QDir::setCurrent(m_startFolder); }

    void completeRun() {
        WindowFixture f;
        f.installKit();
        f.writeUpdateArchive(twoItems());
        writeBytes(f.extraction + QStringLiteral("a.dll"), "old a");
        QFile::setPermissions(f.extraction + QStringLiteral("a.dll"), QFile::ReadOwner);

        // Each line with whether it became the selected one.
        QStringList lines;
        QObject::connect(f.window.get(), &TfmMain::logLineAdded, [&](const QString& line) {
            lines.append(f.markedBySelection(line));
            if (line.endsWith(QStringLiteral(".dll")) || line.endsWith(QStringLiteral(".txt")))
                QVERIFY(!f.ui().Button3->isEnabled()); // no second run inside this one
        });
        f.ui().Button3->click();

        QCOMPARE(lines, (QStringList{QStringLiteral("P "),
                                     QStringLiteral("A Начинаю распаковку файлов в папку: ") + f.extraction,
                                     QStringLiteral("A a.dll"),
                                     QStringLiteral("A ") + KitFolders::native(QStringLiteral("docs/b.txt")),
                                     QStringLiteral("A Копирование файлов завершено"), QStringLiteral("A "),
                                     QStringLiteral("P "), QStringLiteral("P Обновляем записи реестра..."),
                                     QStringLiteral("P "),
                                     QStringLiteral("A Процедура обновления успешно завершена...")}));
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(readBytes(f.extraction + QStringLiteral("a.dll")), QByteArray("new a"));
        QCOMPARE(readBytes(f.extraction + QStringLiteral("docs/b.txt")), QByteArray("new b"));
        for (const char* section : {"vus_bistral", "SchoolBase", "VUS_dop"})
            QCOMPARE(version(f, section), QStringLiteral("3.7"));
        QCOMPARE(version(f, "VUSBase"), QStringLiteral("3.6"));
        QVERIFY(!f.ui().Button3->isEnabled());
        QVERIFY(f.ui().Button1->isEnabled());
        QCOMPARE(f.ui().ProgressBar1->value(), 100);
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
        // The registry step leaves the current directory at the installation's parent.
        QCOMPARE(KitFolders::native(QDir::currentPath() + u'/'), f.extraction);
    }

    void checksStopTheCommand_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("box");
        QTest::newRow("no section at all") << "none"
                                           << "Ошибка: Не найдена база данных бистрала!";
        QTest::newRow("database elsewhere, no program") << "noprogram"
                                                        << "Ошибка: Программа не найдена! Повторите попытку!";
        QTest::newRow("no version recorded") << "noversion"
                                             << "Внимание: Не определена версия программы. Во избежание "
                                                "ошибок обновление\r\nобновление проведено не "
                                                "будет! Пожалуйста, запустите, а затем закройте ВУС-бистрал!";
        QTest::newRow("installation folder missing") << "false"
                                                     << "Внимание!: Не найден каталог установки программы. "
                                                        "Запустите ВУС-бистрал и модули!  Затем снова "
                                                        "попытайтесь установить обновление.";
    }
    void checksStopTheCommand() {
        QFETCH(QString, setup);
        QFETCH(QString, box);
        WindowFixture f;
        f.writeUpdateArchive(twoItems());
        const QString database = f.root + QStringLiteral("elsewhere.accdb");
        writeBytes(database, "db");
        if (setup == QStringLiteral("none")) {
            f.writeRegistry(QStringLiteral("[HKEY_CURRENT_USER\\Software\\VUSBase]\n"));
        } else if (setup == QStringLiteral("noprogram")) {
            f.writeRegistry(
                QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=\"%1\"\n"
                               "\"MainBasePath\"=\"%2\"\n\"ProgrammVersion\"=\"3.6\"\n")
                    .arg(KitFolders::escapedForRegistry(f.root + QStringLiteral("Nowhere/")),
                         KitFolders::escapedForRegistry(database)));
        } else if (setup == QStringLiteral("noversion")) {
            f.installKit(QString());
        } else {
            // Both file tests pass only with "false" read as a relative folder name.
            QDir::setCurrent(f.root);
            writeBytes(f.root + QStringLiteral("falsebistral.exe"), "x");
            f.writeRegistry(QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n"
                                           "\"MainBasePath\"=\"%1\"\n\"ProgrammVersion\"=\"3.6\"\n")
                                .arg(KitFolders::escapedForRegistry(database)));
        }
        const QByteArray registryBefore = f.registrySnapshot();
        f.ui().Button3->click();
        QCOMPARE(f.dialogs.boxes(), QStringList{box});
        QCOMPARE(f.dialogs.shown[0].icon, BoxIcon::None);
        QVERIFY(f.log().isEmpty());
        QCOMPARE(f.registrySnapshot(), registryBefore);
        QVERIFY(f.ui().Button3->isEnabled());
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::CheckFailed);
    }

    // A missing archive is a failure: no registry lines, no version, no success line.
    void missingArchiveEndsTheCommand() {
        WindowFixture f;
        f.installKit();
        f.ui().Button3->click();
        QCOMPARE(f.log(),
                 (QStringList{QString(), QStringLiteral("Начинаю распаковку файлов в папку: ") + f.extraction,
                              QStringLiteral("Ошибка распаковки: не найден файл архива")}));
        QCOMPARE(f.selectedRow(), 2);
        QCOMPARE(version(f, "vus_bistral"), QStringLiteral("3.6"));
        QVERIFY(f.ui().Button3->isEnabled());
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::ExtractionFailed);
    }

    void extractionErrorEndsTheCommand() {
        WindowFixture f;
        f.installKit();
        writeBytes(f.archivePath(), "this is no archive");
        f.ui().Button3->click();
        QCOMPARE(f.dialogs.boxes(), QStringList{QStringLiteral("Неудачно!: Ошибка обновления!")});
        const QStringList log = f.log();
        QCOMPARE(log.size(), 4);
        QCOMPARE(log[2], QString());
        QVERIFY2(log[3].startsWith(QStringLiteral("Ошибка: ")) &&
                     log[3].contains(QStringLiteral("не является архивом ZIP")),
                 qPrintable(log[3]));
        QCOMPARE(f.selectedRow(), 3);
        QCOMPARE(version(f, "vus_bistral"), QStringLiteral("3.6"));
        QVERIFY(f.ui().Button3->isEnabled());
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::ExtractionFailed);

        // Once the archive is mended, the operator can run the command again.
        f.writeUpdateArchive(twoItems());
        f.ui().Button3->click();
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
    }

    void registryThatRefusesWrites() {
        WindowFixture f;
        f.installKit();
        f.writeUpdateArchive(twoItems());
        RefusingRegistry refusing(f.registryPath, 1);
        f.seams.registry = &refusing;
        TfmMain window(f.dm, f.seams);
        window.Button3Click(nullptr);
        QListWidget& list = *window.form().ListBox1;
        QCOMPARE(list.item(list.count() - 1)->text(), QStringLiteral("Ошибка доступа к реестру..."));
        QCOMPARE(list.currentRow(), list.count() - 5); // still the empty line that closed the extraction
        QCOMPARE(version(f, "vus_bistral"), QStringLiteral("3.7"));
        QCOMPARE(version(f, "SchoolBase"), QStringLiteral("3.6"));
        QVERIFY(!window.form().Button3->isEnabled());
        QCOMPARE(window.lastUpdateOutcome(), UpdateOutcome::RegistryFailed);
    }

    void registryValueOfWrongTypeGoesToTheErrorBox() {
        WindowFixture f(
            QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=dword:00000003\n"));
        f.ui().Button3->click();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QCOMPARE(f.dialogs.shown[0].text, QStringLiteral("Invalid data type for 'ProgrammPath'"));
        QVERIFY(f.log().isEmpty());
    }

    void extractionFolder_data() {
        QTest::addColumn<QString>("installation");
        QTest::addColumn<QString>("extraction");
        QTest::newRow("companion folder") << "D:\\Kit\\ВУС бистрал\\"
                                          << "D:\\Kit\\";
        QTest::newRow("short name") << "D:\\Kit\\Бистрал\\"
                                    << "D:\\Kit\\";
        QTest::newRow("both") << "D:\\Бистрал\\ВУС бистрал\\"
                              << "D:\\";
        QTest::newRow("letter case") << "D:\\Kit\\вус БИСТРАЛ\\"
                                     << "D:\\Kit\\";
        QTest::newRow("neither") << "D:\\Kit\\Programs\\"
                                 << "D:\\Kit\\Programs\\";
        QTest::newRow("text, not folder names") << "D:\\НовыйБистрал\\"
                                                << "D:\\Новый";
        QTest::newRow("slashes") << "/home/op/Kit/ВУС бистрал/"
                                 << "/home/op/Kit/";
    }
    void extractionFolder() {
        QFETCH(QString, installation);
        QFETCH(QString, extraction);
#ifdef _WIN32
        if (QByteArray(QTest::currentDataTag()) == "slashes")
            QSKIP("on Windows only the folder names with their backslash are removed from the path");
#endif
        QCOMPARE(TfmMain::extractionFolderOf(installation), extraction);
    }

    void overallProgressTruncates_data() {
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("position");
        QTest::newRow("0") << 0.0 << 0;
        QTest::newRow("37.5") << 37.5 << 37;
        QTest::newRow("99.9") << 99.9 << 99;
        QTest::newRow("100") << 100.0 << 100;
        QTest::newRow("beyond the range") << 250.0 << 100;
        QTest::newRow("below the range") << -3.0 << 0;
        QTest::newRow("not a number") << std::nan("") << 0;
    }
    void overallProgressTruncates() {
        QFETCH(double, progress);
        QFETCH(int, position);
        WindowFixture f;
        f.window->ArchiverOverallProgress(progress);
        QCOMPARE(f.ui().ProgressBar1->value(), position);
    }

    // "D:\\НовыйБистрал\\" gives the extraction folder "D:\\Новый": a folder, so the items go into it,
    // never beside it under glued names.
    void extractionFolderWithoutSeparator() {
        WindowFixture f;
        const QString installation = KitFolders::native(f.root + QStringLiteral("НовыйБистрал/"));
        QVERIFY(QDir().mkpath(installation + QStringLiteral("base")));
        writeBytes(installation + QStringLiteral("bistral.exe"), "companion");
        writeBytes(installation + QStringLiteral("base/MainBase.accdb"), "database");
        f.writeRegistry(QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=\"%1\"\n"
                                       "\"ProgrammVersion\"=\"3.6\"\n")
                            .arg(KitFolders::escapedForRegistry(installation)));
        f.writeUpdateArchive(twoItems());
        f.ui().Button3->click();
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
        QVERIFY(f.log().contains(QStringLiteral("Начинаю распаковку файлов в папку: ") + f.root +
                                 QStringLiteral("Новый")));
        QCOMPARE(readBytes(f.root + QStringLiteral("Новый/a.dll")), QByteArray("new a"));
        QCOMPARE(readBytes(f.root + QStringLiteral("Новый/docs/b.txt")), QByteArray("new b"));
        QVERIFY(!QFileInfo::exists(f.root + QStringLiteral("Новыйa.dll")));
        QVERIFY(!QFileInfo::exists(f.root + QStringLiteral("Новыйdocs")));
    }

    // The event queue runs during the extraction; a close asked for meanwhile waits for its end.
    void closeDuringExtractionWaits() {
        WindowFixture f;
        f.installKit();
        f.writeUpdateArchive(twoItems());
        f.window->show();
        bool closedUnderIt = false;
        QObject::connect(f.window.get(), &TfmMain::logLineAdded, [&](const QString& line) {
            if (line == QStringLiteral("a.dll"))
                f.ui().Button1->click();
            if (line == KitFolders::native(QStringLiteral("docs/b.txt")))
                closedUnderIt = !f.window->isVisible();
        });
        f.ui().Button3->click();
        QVERIFY(!closedUnderIt);
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
        QVERIFY(!f.window->isVisible());
    }

    void secondUpdaterIsTurnedAway() {
        WindowFixture f;
        f.installKit();
        f.writeUpdateArchive(twoItems());
        std::unique_ptr<UpdateLock> other = UpdateLock::take(f.extraction);
        QVERIFY(other);
        f.ui().Button3->click();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].caption, QStringLiteral("Внимание"));
        QVERIFY(f.log().isEmpty());
        QVERIFY(!QFileInfo::exists(f.extraction + QStringLiteral("a.dll")));
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::AlreadyRunning);
        other.reset();
        f.ui().Button3->click();
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
        QVERIFY(!QFileInfo::exists(f.extraction + UpdateLock::fileName()));
    }

    // The lock file of a killed updater holds nothing up; a lock that cannot be taken for another
    // reason is an error of its own, with that reason, and not "another updater".
    void lockLeftOrRefused_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error"); // empty: the update completes
        QTest::newRow("left by a killed updater") << "file"
                                                  << "";
        QTest::newRow("a folder in its place") << "folder"
                                               << "Не удается заблокировать папку %1 для обновления: "
                                                  "Указанный путь является папкой";
    }
    void lockLeftOrRefused() {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        WindowFixture f;
        f.installKit();
        f.writeUpdateArchive(twoItems());
        const QString lockPath = f.extraction + UpdateLock::fileName();
        if (setup == QStringLiteral("file"))
            writeBytes(lockPath, "");
        else
            QVERIFY(QDir().mkpath(lockPath));
        f.ui().Button3->click();
        if (error.isEmpty()) {
            QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::Succeeded);
            QVERIFY(!QFileInfo::exists(lockPath));
            return;
        }
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QCOMPARE(f.dialogs.shown[0].text, error.arg(QDir::toNativeSeparators(f.extraction)));
        QVERIFY(f.log().isEmpty());
        QCOMPARE(f.window->lastUpdateOutcome(), UpdateOutcome::NotRun);
    }
};

QTEST_MAIN(TestUpdateCommand)
#include "test_update_command.moc"
