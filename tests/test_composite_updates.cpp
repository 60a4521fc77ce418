// The composite updates: the school database in place, and an AD database on working copies whose
// vehicles, teachers and instructors go into the new main database.

#include "db/database_files.h"
#include "support/database_files.h"
#include "support/school_database.h"
#include "support/stale_companions.h"
#include "support/steps_fixture.h"

#include <QTest>

namespace {

const QString noFileMessage =
    QStringLiteral("update_3_7: Файл базы данных не найден. Укажите его вручную... ");

} // namespace

class TestCompositeUpdates : public QObject {
    Q_OBJECT

    std::unique_ptr<StepsFixture> f;
    QString m_school;

    db::DatabaseSteps& w() { return *f->steps; }

    // A database of the served program before the update, encrypted with the main password.
    void makeSchool(const QString& path, const QStringList& extra = {}) {
        makeDatabase(path, db::mainDatabasePassword);
        execSql(path, db::mainDatabasePassword, schoolDatabase() + extra);
    }

    static QString rows(const QString& path, const QString& sql) {
        return rowsOf(path, db::mainDatabasePassword, sql);
    }

    void schoolInRegistry(const QString& value) {
        writeBytes(f->registryPath,
                   regeditFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\SchoolBase]\n\"path\"=\"%1\"\n")
                                   .arg(KitFolders::escapedForRegistry(value))));
    }

    static QString updatedColumns() {
        return QStringLiteral("SELECT diploma_theory_num, diploma_pract_num FROM diploma");
    }

private Q_SLOTS:
    void init() {
        f = std::make_unique<StepsFixture>();
        m_school = f->root + QStringLiteral("school.accdb");
        makeSchool(m_school, {QStringLiteral("INSERT INTO diploma (student_id) VALUES (1)")});
    }
    void cleanup() { f.reset(); }

    void updateBaseFromTheRegistry() {
        schoolInRegistry(m_school);
        w().UpdateBase();
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Работа с базой данных..."),
                                        QStringLiteral("Работа с базой данных...")}));
        QCOMPARE(f->activity.selectedRow, -1);
        QVERIFY(f->dialogs.shown.isEmpty());
        QCOMPARE(rows(m_school, updatedColumns()), QStringLiteral("NULL|NULL"));
        QCOMPARE(rows(m_school, QStringLiteral("SELECT student_fam, gibdd_id FROM student")),
                 QStringLiteral("Иванов|NULL"));
        execSql(w().ADOConnection1,
                QStringLiteral("INSERT INTO gibdd (student_id, Instruktor_id) VALUES (1, 2)"));
        QCOMPARE(rows(m_school, QStringLiteral("SELECT * FROM gibdd")),
                 QStringLiteral("1|1|NULL|NULL|2|NULL|NULL|NULL"));
        QCOMPARE(f->controls.updateButtonText, QStringLiteral("2. Обновление успешно..."));
        QVERIFY(!f->controls.updateButtonEnabled);

        // Again: every probe succeeds and nothing changes.
        w().UpdateBase();
        QCOMPARE(f->log().size(), 4);
        QCOMPARE(rows(m_school, QStringLiteral("SELECT * FROM gibdd")),
                 QStringLiteral("1|1|NULL|NULL|2|NULL|NULL|NULL"));
    }

    void updateBaseAsksForTheFile_data() {
        QTest::addColumn<QString>("registry");
        QTest::newRow("value missing") << QString();
        QTest::newRow("the text false stored") << QStringLiteral("false");
    }
    void updateBaseAsksForTheFile() {
        QFETCH(QString, registry);
        if (!registry.isNull())
            schoolInRegistry(registry);
        f->dialogs.fileAnswers = {m_school};
        w().UpdateBase();
        QCOMPARE(f->dialogs.boxes(), QStringList{noFileMessage});
        const RecordingDialogs::Shown& dialog = f->dialogs.shown.last();
        QCOMPARE(dialog.kind, RecordingDialogs::Shown::Kind::OpenFile);
        QCOMPARE(dialog.request.filter, QStringLiteral("Файл базы данных |*.accdb"));
        QCOMPARE(dialog.request.initialFolder, f->updaterFolder);
        QVERIFY(!dialog.request.fileMustExist);
        QCOMPARE(rows(m_school, updatedColumns()), QStringLiteral("NULL|NULL"));
        QVERIFY(!f->controls.updateButtonEnabled);
    }

    void updateBaseCancelled() {
        w().UpdateBase();
        QCOMPARE(f->dialogs.boxes(),
                 (QStringList{noFileMessage, QStringLiteral("update_3_7: Обновление прервано! ")}));
        QVERIFY(f->log().isEmpty());
        QVERIFY(f->controls.updateButtonEnabled);
        QCOMPARE(f->controls.updateButtonText, QStringLiteral("Обновить программу"));
    }

    // A registry path naming no file: the first probe and the first change fail, and the failure
    // reaches the window's error handling.
    void updateBaseOnAMissingFile() {
        schoolInRegistry(f->root + QStringLiteral("gone.accdb"));
        f->handle([this] { w().UpdateBase(); });
        QCOMPARE(f->log(), QStringList{QStringLiteral("Работа с базой данных...")});
        QCOMPARE(f->dialogs.shown.size(), 1);
        QCOMPARE(f->dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QVERIFY(f->controls.updateButtonEnabled);
        QVERIFY(!QFileInfo::exists(f->root + QStringLiteral("gone.accdb")));
    }

    void updateBaseADCancelledOrWithoutWorkingFolder_data() {
        QTest::addColumn<bool>("choose");
        QTest::newRow("cancelled") << false;
        QTest::newRow("no out folder") << true;
    }
    void updateBaseADCancelledOrWithoutWorkingFolder() {
        QFETCH(bool, choose);
        if (choose)
            f->dialogs.fileAnswers = {m_school};
        w().UpdateBase_AD();
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Выбор базы данных \"Сорвентия\"..."),
                                        QStringLiteral("База данных обновлена ...")}));
        const RecordingDialogs::Shown& dialog = f->dialogs.shown.first();
        QCOMPARE(dialog.request.filter, QStringLiteral("Файлы баз данных|*.accdb"));
        QCOMPARE(dialog.request.initialFolder, f->updaterFolder + QStringLiteral("in"));
        QVERIFY(dialog.request.fileMustExist);
        QCOMPARE(f->dialogs.boxes(), QStringList());
        QVERIFY(!f->controls.updateButtonEnabled);
        QVERIFY(!w().ADOConnection1.Connected());
    }

    void updateBaseADRunsTheStepsAndCopies() {
        QDir().mkpath(f->updaterFolder + QStringLiteral("in"));
        QDir().mkpath(f->updaterFolder + QStringLiteral("out"));
        const QString chosen = f->updaterFolder + QStringLiteral("in/ad.accdb");
        makeSchool(chosen, {QStringLiteral("INSERT INTO car (car_name) VALUES ('КамАЗ')"),
                            QStringLiteral("INSERT INTO prepod (prepod_fam) VALUES ('Петров')")});
        makeSchool(f->updaterFolder + QStringLiteral("res/MainBase.accdb"),
                   {QStringLiteral("INSERT INTO car (car_name, car_ad) VALUES ('ГАЗ', false)")});
        const QByteArray chosenBefore = readBytes(chosen);
        // An earlier run killed while working on its copies left their companions behind: the new
        // copies take nothing of them.
        const QString adCopy = f->updaterFolder + QStringLiteral("out/ad.accdb");
        const QString mainCopy = f->updaterFolder + QStringLiteral("out/MainBase.accdb");
        leaveStaleCompanion(f->root, mainCopy, QStringLiteral("-wal"), db::mainDatabasePassword);
        leaveStaleCompanion(f->root, adCopy, QStringLiteral("-journal"), db::mainDatabasePassword);

        for (int run = 1; run <= 2; ++run) {
            f->dialogs.fileAnswers = {chosen};
            w().UpdateBase_AD();
            QCOMPARE(f->dialogs.boxes(), QStringList());
            QVERIFY(!w().ADOConnection1.Connected());
            QVERIFY(!w().ADOConnection2.Connected());
            QCOMPARE(f->log().last(), QStringLiteral("База данных обновлена ..."));
            QVERIFY(f->log().contains(QStringLiteral("Обновление таблицы Instruktor = успешно")));
        }
        QCOMPARE(companionsOf(adCopy), QStringList());
        QCOMPARE(companionsOf(mainCopy), QStringList());
        QCOMPARE(rows(adCopy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(rows(mainCopy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(rows(adCopy, QStringLiteral("SELECT spravka_type FROM spravka")),
                 QStringLiteral("kvitancia;prihodnokassoviy;platejka"));
        QCOMPARE(rows(adCopy, QStringLiteral("SELECT teach_obj_name, teach_drive FROM teach_obj")),
                 QStringLiteral("Вождение автомобиля|True;Устройство|False"));
        // The main copy is made afresh from the update data each run: its own row and the AD rows.
        QCOMPARE(rows(f->updaterFolder + QStringLiteral("out/MainBase.accdb"),
                      QStringLiteral("SELECT car_name, car_ad FROM car")),
                 QStringLiteral("ГАЗ|True;КамАЗ|True"));
        QCOMPARE(readBytes(chosen), chosenBefore);
        QVERIFY(!f->controls.updateButtonEnabled);
    }

    // A failing column step shows its own box, then the composite's; AddColumnTeach_obj shows none of
    // its own.
    void updateBaseADFailingSteps_data() {
        QTest::addColumn<QString>("drop");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("subjects") << "DROP TABLE teach_obj"
                                  << QStringList{
                                         "Ошибка: Возникла ошибка при обновлении таблицы \"Предметы\""};
        QTest::newRow("groups") << "DROP TABLE gruppa"
                                << QStringList{"Внимание: Обновление не корректно!",
                                               "Ошибка: Возникла ошибка при обновлении таблицы \"Группа\""};
    }
    void updateBaseADFailingSteps() {
        QFETCH(QString, drop);
        QFETCH(QStringList, boxes);
        QDir().mkpath(f->updaterFolder + QStringLiteral("out"));
        const QString chosen = f->root + QStringLiteral("ad.accdb");
        makeSchool(chosen, {drop});
        makeSchool(f->updaterFolder + QStringLiteral("res/MainBase.accdb"));
        f->dialogs.fileAnswers = {chosen};
        w().UpdateBase_AD();
        QCOMPARE(f->dialogs.boxes(), boxes);
        QCOMPARE(f->log().last(), QStringLiteral("База данных обновлена ..."));
    }

    // The operator picks the working copy itself: copied onto itself, it stays whole.
    void updateBaseADOnItsOwnWorkingCopy() {
        QDir().mkpath(f->updaterFolder + QStringLiteral("out"));
        const QString chosen = f->updaterFolder + QStringLiteral("out/ad.accdb");
        makeSchool(chosen, {QStringLiteral("INSERT INTO car (car_name) VALUES ('КамАЗ')")});
        makeSchool(f->updaterFolder + QStringLiteral("res/MainBase.accdb"));
        f->dialogs.fileAnswers = {chosen};
        w().UpdateBase_AD();
        QCOMPARE(f->dialogs.boxes(), QStringList());
        QCOMPARE(rows(chosen, QStringLiteral("SELECT car_name FROM car")), QStringLiteral("КамАЗ"));
        QCOMPARE(rows(chosen, QStringLiteral("SELECT count(*) FROM spravka")), QStringLiteral("3"));
    }
};

QTEST_MAIN(TestCompositeUpdates)
#include "test_composite_updates.moc"
