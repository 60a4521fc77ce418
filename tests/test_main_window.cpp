#include "app/qt_dialogs.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/folder_tree.h"
#include "support/window_fixture.h"
#include "ui_about.h"

#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

using seams::BoxIcon;

namespace {

QString vusBistral(const QString& programmPath) {
    return QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=\"%1\"\n")
        .arg(QString(programmPath).replace(QStringLiteral("\\"), QStringLiteral("\\\\")));
}

const QString noDatabaseWarning = QStringLiteral("Не определен файл базы данных по умолчанию!!! Пожалуйста, "
                                                 "откройте программу Сорвентия выбрав нужный файл "
                                                 "базы. Затем закройте программу  и откройте снова. Путь к "
                                                 "необходимой бызе должен предлагаться по умолчанию.");

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layout() {
        WindowFixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Обновление программы Сорвентия."));
        QCOMPARE(f.ui().lblUpdate->text(), QStringLiteral("(До версии 3.7)"));
        QCOMPARE(f.ui().lblProgrammName->text(), QStringLiteral("«Сорвентия»"));
        QCOMPARE(f.ui().Button3->text(), QStringLiteral("Обновить программу"));
        QCOMPARE(f.ui().Button1->text(), QStringLiteral("Выход"));
        QCOMPARE(f.ui().Label5->text(), QStringLiteral("Список обновленных файлов:"));
        QCOMPARE(f.ui().ProgressBar1->minimum(), 0);
        QCOMPARE(f.ui().ProgressBar1->maximum(), 100);
        QCOMPARE(f.ui().ProgressBar1->value(), 0);
        f.window->show();
        QVERIFY(f.ui().Button3->isVisible());
        for (QWidget* hidden : {static_cast<QWidget*>(f.ui().Button2), static_cast<QWidget*>(f.ui().Button4),
                                static_cast<QWidget*>(f.ui().Button5)})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        QVERIFY(!f.ui().N2->isVisible());
        QVERIFY(f.ui().N6->isVisible());
        QCOMPARE(f.ui().N4->title(), QStringLiteral("Файл"));
        QCOMPARE(f.ui().N1->title(), QStringLiteral("О программе"));
    }

    void formShow_data() {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("folder of the companion") << vusBistral(QStringLiteral("D:\\Work\\ВУС бистрал\\"))
                                                 << "Каталог установки программы ВУС бистрал = D:\\Work\\";
        QTest::newRow("other letter case") << vusBistral(QStringLiteral("d:\\work\\вус БИСТРАЛ\\"))
                                           << "Каталог установки программы ВУС бистрал = d:\\work\\";
        QTest::newRow("slashes") << vusBistral(QStringLiteral("/home/op/Kit/ВУС Бистрал/"))
                                 << "Каталог установки программы ВУС бистрал = /home/op/Kit/";
        QTest::newRow("False is not the default")
            << vusBistral(QStringLiteral("False")) << "Каталог установки программы ВУС бистрал = False";
        QTest::newRow("empty value") << vusBistral(QString()) << "Каталог установки программы ВУС бистрал = ";
    }
    void formShow() {
        QFETCH(QString, registry);
        QFETCH(QString, firstLine);
#ifdef _WIN32
        if (QByteArray(QTest::currentDataTag()) == "slashes")
            QSKIP("on Windows only the folder name with its backslash is removed from the path");
#endif
        WindowFixture f(registry);
        f.window->show();
        QCOMPARE(f.log(), (QStringList{firstLine, QString()}));
        QCOMPARE(f.selectedRow(), 1);
        QVERIFY(f.dialogs.shown.isEmpty());
        // Showing the window again does not run it again.
        f.window->hide();
        f.window->show();
        QCOMPARE(f.log().size(), 2);
    }

    void formShowWithoutInstallationWarns_data() {
        QTest::addColumn<QString>("registry");
        QTest::newRow("no registry file") << QString();
        QTest::newRow("no section") << QStringLiteral("[HKEY_CURRENT_USER\\Software\\VUSBase]\n");
        QTest::newRow("the text false") << vusBistral(QStringLiteral("false"));
    }
    void formShowWithoutInstallationWarns() {
        QFETCH(QString, registry);
        WindowFixture f(registry);
        f.window->show();
        QVERIFY(f.log().isEmpty());
        QCOMPARE(f.dialogs.boxes(), QStringList{QStringLiteral("update_3_7: ") + noDatabaseWarning});
    }

    void formShowRegistryErrorGoesToTheErrorBox() {
        WindowFixture f(
            QStringLiteral("[HKEY_CURRENT_USER\\Software\\vus_bistral]\n\"ProgrammPath\"=dword:00000001\n"));
        f.window->show();
        QVERIFY(f.log().isEmpty());
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QCOMPARE(f.dialogs.shown[0].text, QStringLiteral("Invalid data type for 'ProgrammPath'"));
    }

    void logOperations() {
        WindowFixture f;
        f.window->AddToLog(QStringLiteral("a"));
        f.window->AppendToLog(QStringLiteral("b"));
        QCOMPARE(f.selectedRow(), 0);
        f.window->AddToLog(QString());
        QCOMPARE(f.log(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QString()}));
        QCOMPARE(f.selectedRow(), 2);
        f.window->AppendToLog(QStringLiteral("c"));
        QCOMPARE(f.selectedRow(), 2);
    }

    // The line AddToLog selects is in view, whether the lines came while the window was shown or
    // before it was (--silent keeps it hidden); lines of AppendToLog leave the view where it was.
    void logScrollsToTheSelectedLine_data() {
        QTest::addColumn<bool>("shownFirst");
        QTest::newRow("shown") << true;
        QTest::newRow("hidden, then shown") << false;
    }
    void logScrollsToTheSelectedLine() {
        QFETCH(bool, shownFirst);
        WindowFixture f;
        QListWidget* list = f.ui().ListBox1;
        const auto inView = [list](int row) {
            return list->viewport()->rect().intersects(list->visualItemRect(list->item(row)));
        };
        if (shownFirst)
            f.window->show();
        for (int i = 0; i < 300; ++i)
            f.window->AddToLog(QStringLiteral("added %1").arg(i));
        for (int i = 0; i < 300; ++i)
            f.window->AppendToLog(QStringLiteral("appended %1").arg(i));
        f.window->show();
        QCoreApplication::processEvents();
        QCOMPARE(f.selectedRow(), 299);
        QVERIFY(inView(299));
        QVERIFY(!inView(0));
        QVERIFY(!inView(599));
    }

    // At an extraction's pace (the queue runs after each line) a shown log selects every line of
    // AddToLog and has it in view at its next repaint, and stays where the operator scrolled for
    // lines of AppendToLog.
    void shownLogFollowsLinesAsTheQueueRuns() {
        WindowFixture f;
        QListWidget* list = f.ui().ListBox1;
        const auto inView = [list](int row) {
            return list->viewport()->rect().intersects(list->visualItemRect(list->item(row)));
        };
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        for (int i = 0; i < 400; ++i) {
            f.window->AddToLog(QStringLiteral("added %1").arg(i));
            QCOMPARE(f.selectedRow(), i);
            QCOMPARE(list->currentRow(), i);
            QCoreApplication::processEvents();
            if (i % 100 == 99) {
                QTRY_VERIFY(list->updatesEnabled()); // repainted
                QVERIFY(inView(i));
            }
        }
        QVERIFY(!inView(0));

        list->scrollToTop();
        for (int i = 0; i < 100; ++i) {
            f.window->AppendToLog(QStringLiteral("appended %1").arg(i));
            QCoreApplication::processEvents();
        }
        QVERIFY(inView(0));
        QCOMPARE(f.selectedRow(), 399);
        QTRY_VERIFY(list->updatesEnabled());

        f.window->AddToLog(QStringLiteral("last"));
        QCOMPARE(f.selectedRow(), 500);
        QTRY_VERIFY(list->updatesEnabled());
        QVERIFY(inView(500));
        QVERIFY(!inView(0));
    }

    void escapeAndExitClose_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("Выход") << "button";
        QTest::newRow("menu Файл, Выход") << "menu";
    }
    void escapeAndExitClose() {
        QFETCH(QString, how);
        WindowFixture f(vusBistral(QStringLiteral("C:\\Kit\\ВУС бистрал\\")));
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        if (how == QStringLiteral("esc"))
            QTest::keyClick(f.ui().ListBox1, Qt::Key_Escape);
        else if (how == QStringLiteral("button"))
            f.ui().Button1->click();
        else
            f.ui().N6->trigger();
        QVERIFY(!f.window->isVisible());
    }

    void aboutWindow() {
        WindowFixture f;
        f.window->show();
        f.ui().N3->trigger();
        f.ui().N3->trigger();
        QVERIFY(f.about->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().count(f.about.get()), 1);
        auto& about = *f.about->findChild<QPushButton*>(QStringLiteral("Button1"));
        QCOMPARE(about.text(), QStringLiteral("ОК"));
        const QStringList texts{f.about->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
                                f.about->findChild<QLabel*>(QStringLiteral("lblProgrammType"))->text(),
                                f.about->findChild<QLabel*>(QStringLiteral("lblUpdateDate"))->text()};
        QCOMPARE(texts, (QStringList{QStringLiteral("Обновление программы"), QStringLiteral("Сорвентия"),
                                     QStringLiteral("Обновление от 10.03.2022")}));
        QCOMPARE(f.about->windowTitle(), QStringLiteral("О программе"));

        // Esc does not close it; "ОК" hides it and the main window goes on.
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(f.about->isVisible());
        about.click();
        QVERIFY(!f.about->isVisible());
        QVERIFY(f.window->isVisible());
        f.ui().N3->trigger();
        QVERIFY(f.about->isVisible());
        f.about->close();
        QVERIFY(!f.about->isVisible());
        QVERIFY(f.window->isVisible());
        QVERIFY(!f.about->testAttribute(Qt::WA_QuitOnClose));
    }

    // The About window belongs to the main window: the system keeps it in front of it and gives it
    // no task-bar button of its own; it stays modeless.
    void aboutWindowBelongsToTheMainWindow() {
        WindowFixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.ui().N3->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(f.about.get()));
        QCOMPARE(f.about->windowType(), Qt::Tool);
        QCOMPARE(f.about->windowHandle()->transientParent(), f.window->windowHandle());
        QCOMPARE(f.about->windowModality(), Qt::NonModal);
        QVERIFY(!QApplication::activeModalWidget());
        f.about->close();
        QVERIFY(f.window->isVisible());
    }

    // Restored, the client area below the menu is the laid-out 869 x 429, and nothing holds the window
    // taller.
    void restoredClientArea() {
        WindowFixture f;
        f.window->showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QCOMPARE(f.window->centralWidget()->size(), QSize(869, 429));
        QCOMPARE(f.window->centralWidget()->geometry().top(), f.window->menuBar()->geometry().bottom() + 1);
        QVERIFY(f.window->minimumSizeHint().height() <= f.window->height());
    }

    // A message box is wide enough for its whole caption even when its text is short.
    void messageBoxShowsItsWholeCaption_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::newRow("Неудачно!") << "Неудачно!"
                                   << "Ошибка обновления!";
        QTest::newRow("short text") << "Не найден каталог установки программы"
                                    << "Да";
    }
    void messageBoxShowsItsWholeCaption() {
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QWidget owner;
        QtDialogs dialogs;
        dialogs.setOwner(&owner);
        int width = 0;
        int captionWidth = 0;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            QFont bold = box->font();
            bold.setBold(true);
            captionWidth = QFontMetrics(bold).horizontalAdvance(caption);
            width = box->width();
            box->close();
        });
        dialogs.messageBox(text, caption, BoxIcon::None);
        // Beside the caption the title bar holds the window icon and the close button.
        QVERIFY2(width >= captionWidth + 100,
                 qPrintable(QStringLiteral("%1 < %2").arg(width).arg(captionWidth)));
    }

    // The buttons of the boxes and Qt's own dialog texts are Russian, as on the system the kit runs on.
    void dialogTextsInRussian() {
        QVERIFY2(installQtTranslation(), "Qt's Russian translation (qt6-translations-l10n) is not installed");
        QCOMPARE(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("&Открыть"));
        QWidget owner;
        QtDialogs dialogs;
        dialogs.setOwner(&owner);
        QString button;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            button = box->button(QMessageBox::Ok)->text();
            box->close();
        });
        dialogs.showMessage(QStringLiteral("текст"));
        QCOMPARE(button, QStringLiteral("ОК")); // Cyrillic О and К
    }

    // A range of 0..0 (a download of unknown size) draws an empty bar, not Qt's busy indicator, while
    // the range and the position stay as set.
    void emptyRangeDrawsAnEmptyBar() {
        WindowFixture f;
        f.window->showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QProgressBar* bar = f.ui().ProgressBar1;
        const QImage empty = bar->grab().toImage();
        f.window->MyProgress(0, 0);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(bar->value(), 0);
        QTest::qWait(50); // a busy indicator would have moved on
        QCOMPARE(bar->grab().toImage(), empty);
        f.window->MyProgress(0, 10);
        f.window->MyProgress(1, 5);
        QVERIFY(bar->grab().toImage() != empty);
    }

    void hiddenInstructions() {
        WindowFixture f;
        f.ui().N2->trigger();
        QCOMPARE(f.dialogs.boxes(), QStringList{QStringLiteral("Подсказка:   ")});
        QCOMPARE(f.dialogs.shown[0].icon, BoxIcon::None);
    }

    void progressMessage() {
        WindowFixture f;
        QProgressBar* bar = f.ui().ProgressBar1;
        const auto post = [&](int w, qint32 l) {
            QCoreApplication::postEvent(f.window.get(), new MyProgressEvent(w, l));
        };
        post(0, 500);
        QCOMPARE(bar->maximum(), 100); // posted: handled when the queue next runs
        QCoreApplication::processEvents();
        QCOMPARE(bar->maximum(), 500);
        QCOMPARE(bar->value(), 0);
        post(1, 250);
        post(2, 400);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 250);
        QCOMPARE(bar->maximum(), 500);
        post(1, 9000);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 500);
        post(0, -1);
        QCoreApplication::processEvents();
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 500);
        QCOMPARE(bar->value(), 500);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QVERIFY(f.log().isEmpty());
    }

    // The photo folders' walk runs the window's events after every entry: what the operator starts
    // meanwhile runs inside the walk, and a close waits until the walk is over.
    void eventsRunDuringThePhotoFolderWalk() {
#ifdef _WIN32
        QSKIP("Windows file names cannot hold '?', so there is no folder to rename");
#endif
        WindowFixture f;
        const QString photos = f.dir.filePath(QStringLiteral("photos"));
        QVERIFY(folder_tree::makeFolder(photos + QStringLiteral("/a?")));
        QVERIFY(folder_tree::makeFolder(photos + QStringLiteral("/b?")));
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QStringList seen;
        bool visibleAfterClose = false;
        QTimer::singleShot(0, f.window.get(), [&] {
            seen = folder_tree::list(photos);
            f.window->close();
            visibleAfterClose = f.window->isVisible();
        });
        f.window->RenameDirForPhoto(photos);
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen.filter(QStringLiteral("_qst_")).size(), 1);
        QVERIFY(visibleAfterClose);
        QVERIFY(!f.window->isVisible());
        QCOMPARE(folder_tree::list(photos), (QStringList{"a_qst_/", "b_qst_/"}));
    }

    // The window's close runs FormClose: both connections of the database steps close with it.
    void closingTheWindowClosesBothConnections() {
        WindowFixture f;
        const QString school = f.dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(school, db::mainDatabasePassword);
        QVERIFY(f.window->connectToBaseUser(school, db::mainDatabasePassword));
        QVERIFY(f.window->connectToBase2(school, db::mainDatabasePassword));
        f.window->show();
        QVERIFY(f.window->close());
        QVERIFY(!f.window->database().ADOConnection1.Connected());
        QVERIFY(!f.window->database().ADOConnection2.Connected());
        for (const RecordingDialogs::Shown& shown : f.dialogs.shown)
            QVERIFY2(shown.kind != RecordingDialogs::Shown::Kind::Error, qPrintable(shown.text));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
