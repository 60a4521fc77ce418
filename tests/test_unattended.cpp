#include "app/update_lock.h"
#include "support/kit_folders.h"
#include "support/updater_process.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

// The unattended mode as administrators run it: a separate process without any display.
class TestUnattended : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void updatesWithoutADisplay() {
        KitFolders kit;
        kit.installKit();
        kit.writeUpdateArchive(twoItems());
        const UpdaterRun result = runUpdater(kit);
        QCOMPARE(result.err, QStringList());
        QCOMPARE(result.out,
                 (QStringList{QStringLiteral("Каталог установки программы ВУС бистрал = ") + kit.extraction,
                              QString(), QString(),
                              QStringLiteral("Начинаю распаковку файлов в папку: ") + kit.extraction,
                              QStringLiteral("a.dll"), QStringLiteral("docs/b.txt"),
                              QStringLiteral("Копирование файлов завершено"), QString(), QString(),
                              QStringLiteral("Обновляем записи реестра..."), QString(),
                              QStringLiteral("Процедура обновления успешно завершена...")}));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(readBytes(kit.extraction + QStringLiteral("docs/b.txt")), QByteArray("new b"));
        QVERIFY(QString::fromUtf8(readBytes(kit.registryPath))
                    .contains(QStringLiteral("\"ProgrammVersion\"=\"3.7\"")));
    }

    void exitStatuses_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stderrLine");
        QTest::newRow("a check stops the command")
            << "noprogram" << 3 << "Ошибка: Программа не найдена! Повторите попытку!";
        QTest::newRow("archive missing") << "noarchive" << 4 << "";
        QTest::newRow("archive damaged") << "badarchive" << 4 << "Неудачно!: Ошибка обновления!";
        QTest::newRow("registry refuses the writes") << "registry" << 5 << "";
        QTest::newRow("registry file without write permission") << "readonly" << 5 << "";
        QTest::newRow("another updater runs")
            << "locked" << 6
            << "Внимание: Обновление в эту папку уже устанавливает другая копия "
               "программы обновления. Дождитесь её завершения.";
        QTest::newRow("any other error")
            << "dword" << 1 << "update_3_7: Invalid data type for 'ProgrammPath'";
    }
    void exitStatuses() {
        QFETCH(QString, setup);
        QFETCH(int, status);
        QFETCH(QString, stderrLine);
        KitFolders kit;
        kit.installKit();
        kit.writeUpdateArchive(twoItems());
        std::unique_ptr<UpdateLock> lock;
        if (setup == QStringLiteral("noprogram"))
            QFile::remove(kit.installation + QStringLiteral("bistral.exe"));
        else if (setup == QStringLiteral("noarchive"))
            QFile::remove(kit.archivePath());
        else if (setup == QStringLiteral("badarchive"))
            writeBytes(kit.archivePath(), "no archive");
        else if (setup == QStringLiteral("registry"))
            QDir().mkpath(kit.registryPath + QStringLiteral(".lock/taken")); // no lock file can be made
        else if (setup == QStringLiteral("readonly"))
            QVERIFY(QFile::setPermissions(kit.registryPath, QFile::ReadOwner | QFile::ReadGroup));
        else if (setup == QStringLiteral("locked"))
            QVERIFY((lock = UpdateLock::take(kit.extraction)));
        else if (setup == QStringLiteral("dword"))
            writeBytes(kit.registryPath,
                       regeditFile(QStringLiteral(
                           "[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=dword:1\n")));
        const UpdaterRun result = runUpdater(kit);
        QCOMPARE(result.exitCode, status);
        if (!stderrLine.isEmpty())
            QVERIFY2(result.err.contains(stderrLine), qPrintable(result.err.join(u'\n')));
        QVERIFY(!result.out.contains(QStringLiteral("Процедура обновления успешно завершена...")));
        if (setup == QStringLiteral("registry") || setup == QStringLiteral("readonly")) {
            QCOMPARE(result.out.last(), QStringLiteral("Ошибка доступа к реестру..."));
            QVERIFY(QString::fromUtf8(readBytes(kit.registryPath))
                        .contains(QStringLiteral("\"ProgrammVersion\"=\"3.6\"")));
        }
    }

    void helpListsTheOptions() {
        KitFolders kit;
        const UpdaterRun result = runUpdater(kit, {QStringLiteral("--help")});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QStringList());
        const QString help = result.out.join(u'\n');
        QVERIFY2(help.contains(QStringLiteral("--silent")) && help.contains(QStringLiteral("--log <файл>")),
                 qPrintable(help));
    }

    // A wrong command line runs nothing: the error and the usage on standard error, exit status 2.
    void wrongCommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown option")
            << QStringList{"--silent", "--bogus"} << "update_3_7: неизвестный параметр --bogus";
        QTest::newRow("unknown option, window")
            << QStringList{"--bogus"} << "update_3_7: неизвестный параметр --bogus";
        QTest::newRow("log without a file")
            << QStringList{"--silent", "--log"} << "update_3_7: после параметра --log не указан файл журнала";
        QTest::newRow("value for a switch")
            << QStringList{"--silent=yes"} << "update_3_7: параметр --silent не принимает значения";
        QTest::newRow("stray argument")
            << QStringList{"--silent", "now"} << "update_3_7: лишний аргумент now";
        QTest::newRow("Qt's own option")
            << QStringList{"--silent", "-platform", "xcb"} << "update_3_7: неизвестный параметр -platform";
    }
    void wrongCommandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        KitFolders kit;
        kit.installKit();
        kit.writeUpdateArchive(twoItems());
        const QByteArray registry = readBytes(kit.registryPath);
        const UpdaterRun result = runUpdater(kit, args);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QStringList());
        QVERIFY2(!result.err.isEmpty() && result.err.first() == error, qPrintable(result.err.join(u'\n')));
        QVERIFY(result.err.contains(QStringLiteral("Использование: update_3_7 [--silent] [--log <файл>]")));
        QCOMPARE(readBytes(kit.registryPath), registry);
        QVERIFY(!QFileInfo::exists(kit.extraction + QStringLiteral("a.dll")));
    }

    // Standard error carries the message boxes only, also where the environment gives Qt reasons to
    // complain: no runtime folder (cron, su, containers), a display platform without a display.
    void standardErrorHoldsBoxesOnly_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList{"--help"} << "" << 0;
        QTest::newRow("update") << QStringList{"--silent"} << "" << 0;
        QTest::newRow("update, xcb named, no display") << QStringList{"--silent"} << "xcb" << 0;
        QTest::newRow("update, wayland named, no display") << QStringList{"--silent"} << "wayland" << 0;
        QTest::newRow("window, xcb named, no display") << QStringList{} << "xcb" << 2;
    }
    void standardErrorHoldsBoxesOnly() {
        QFETCH(QStringList, args);
        QFETCH(QString, platform);
        QFETCH(int, status);
        KitFolders kit;
        kit.installKit();
        kit.writeUpdateArchive(twoItems());
        const QString logFile = kit.root + QStringLiteral("support.log");
        args << QStringLiteral("--log") << logFile;
        const UpdaterRun result = runUpdater(kit, args, [&](QProcess& process) {
            QProcessEnvironment env = process.processEnvironment();
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            if (!platform.isEmpty())
                env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
            process.setProcessEnvironment(env);
        });
        QCOMPARE(result.exitCode, status);
        if (status == 2) {
            QCOMPARE(result.err.size(), 1);
            QVERIFY2(result.err.first().startsWith(QStringLiteral("update_3_7: для окна нужен дисплей")),
                     qPrintable(result.err.first()));
        } else {
            QCOMPARE(result.err, QStringList());
        }
        if (args.contains(QStringLiteral("--silent")))
            QCOMPARE(result.out.last(), QStringLiteral("Процедура обновления успешно завершена..."));
        QVERIFY2(!readBytes(logFile).contains("XDG_RUNTIME_DIR"), readBytes(logFile).constData());
    }

    // A text with a line break is still one record: on standard error, standard output and in the
    // session log.
    void lineBreakInsideATextStaysOneRecord() {
        KitFolders kit;
        kit.installKit(QString()); // no version: the "Внимание" box of two lines
        const QString logFile = kit.root + QStringLiteral("support.log");
        const UpdaterRun result =
            runUpdater(kit, {QStringLiteral("--silent"), QStringLiteral("--log"), logFile});
        QCOMPARE(result.exitCode, 3);
        const QString box = QStringLiteral("Внимание: Не определена версия программы. Во избежание ошибок "
                                           "обновление\\r\\nобновление проведено не будет! Пожалуйста, "
                                           "запустите, а затем закройте ВУС-бистрал!");
        QCOMPARE(result.err, QStringList{box});
        const QStringList records = QString::fromUtf8(readBytes(logFile)).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(records.last().endsWith(QStringLiteral(" box: ") + box), qPrintable(records.last()));
        QCOMPARE(records.size(), result.out.size() + 1);
    }

    void logFileRecordsLinesAndBoxes() {
        KitFolders kit;
        kit.installKit();
        const QString logFile = kit.root + QStringLiteral("support.log");
        writeBytes(logFile, "earlier run\n");
        const UpdaterRun result = runUpdater(
            kit, {QStringLiteral("--silent"), QStringLiteral("--log"), QStringLiteral("support.log")});
        QCOMPARE(result.exitCode, 4);
        const QStringList lines = QString::fromUtf8(readBytes(logFile)).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("earlier run"));
        const QRegularExpression stamped(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (log|box): "));
        for (qsizetype i = 1; i < lines.size(); ++i)
            QVERIFY2(stamped.match(lines[i]).hasMatch(), qPrintable(lines[i]));
        QVERIFY(lines.last().endsWith(QStringLiteral("log: Ошибка распаковки: не найден файл архива")));
        QCOMPARE(lines.size() - 1, result.out.size());
    }

    // Cut off at any point, the update leaves every file either old or new, never partial, and the
    // next run completes it.
    void killedExtractionLeavesOldOrNew_data() {
        QTest::addColumn<int>("linesBeforeKill");
        QTest::newRow("before the first item") << 4;
        QTest::newRow("among the items") << 40;
        QTest::newRow("after the last item") << 84;
    }
    void killedExtractionLeavesOldOrNew() {
        QFETCH(int, linesBeforeKill);
        KitFolders kit;
        kit.installKit();
        QList<ArchiveEntry> entries;
        QStringList names;
        for (int i = 0; i < 80; ++i) {
            const QString name = QStringLiteral("lib/part%1.bin").arg(i);
            QByteArray data(400 * 1024, char(i));
            for (qsizetype k = 0; k < data.size(); k += 97)
                data[k] = char(k * 31 + i);
            ArchiveEntry entry = fileEntry(name, data);
            entry.compress = false;
            entries.append(entry);
            names.append(name);
            QDir().mkpath(kit.extraction + QStringLiteral("lib"));
            writeBytes(kit.extraction + name, "old");
        }
        kit.writeUpdateArchive(entries);

        QProcess process;
        startUpdater(process, kit);
        int lines = 0;
        QByteArray pending;
        while (lines < linesBeforeKill && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            pending += process.readAllStandardOutput();
            lines = int(pending.count('\n'));
        }
        signalUpdater(process, SIGKILL);
        process.waitForFinished(10000);

        for (int i = 0; i < entries.size(); ++i) {
            const QByteArray now = readBytes(kit.extraction + names[i]);
            QVERIFY2(now == "old" || now == entries[i].data, qPrintable(names[i]));
        }
        // The next run clears what the killed one left and completes the update.
        const UpdaterRun again = runUpdater(kit);
        QCOMPARE(again.exitCode, 0);
        for (int i = 0; i < entries.size(); ++i)
            QCOMPARE(readBytes(kit.extraction + names[i]), entries[i].data);
        const QStringList left =
            QDir(kit.extraction + QStringLiteral("lib")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), entries.size());
    }
};

QTEST_GUILESS_MAIN(TestUnattended)
#include "test_unattended.moc"
