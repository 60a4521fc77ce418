// The documents download as the window shows it: the bar, the buttons, input held off and a close
// during the transfer.

#include "download/http_client.h"
#include "support/archive_responder.h"
#include "support/fake_network_state.h"
#include "support/scripted_http_server.h"
#include "support/window_fixture.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

// The progress messages the window receives, in order.
class ProgressRecorder : public QObject {
public:
    explicit ProgressRecorder(QObject* window) { window->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == WM_MYPROGRESS) {
            const auto* progress = static_cast<MyProgressEvent*>(event);
            messages.append({progress->WParam, progress->LParam});
        }
        return false;
    }
    QList<QPair<int, qint32>> messages;
};

// Counts the paintings of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int paints = 0;
};

// A window whose download goes to a scripted local server, run in a current directory of its own.
struct DownloadFixture : DownloadFolder {
    explicit DownloadFixture(std::chrono::seconds slow = 1s) {
        window = std::make_unique<WindowFixture>(QString(), [&](Seams& seams) {
            seams.networkState = &network;
            seams.downloadServer.baseUrl = server.baseUrl();
            seams.downloadServer.limits.connect = 2s;
            seams.downloadServer.limits.slowTime = slow;
            seams.downloadServer.limits.maxBody = 1 << 20;
        });
    }

    Ui::TfmMain& ui() { return window->ui(); }
    void click() { ui().Button2->click(); }

    ScriptedHttpServer server;
    FakeNetworkState network;
    std::unique_ptr<WindowFixture> window;
};

} // namespace

class TestDownloadWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // All of the transfer has reached the bar when the command returns; no box and no log line.
    void barShowsTheWholeTransfer_data() { addFramingRows(); }
    void barShowsTheWholeTransfer() {
        QFETCH(QByteArray, framing);
        QFETCH(int, announced);
        DownloadFixture f;
        const QByteArray archive = bytes(300'000);
        f.server.respond = serve(archive, framing);
        f.click();
        QCOMPARE(readBytes(f.archive()), archive);
        QVERIFY(f.window->dialogs.shown.isEmpty());
        QVERIFY(f.window->log().isEmpty());
        QCOMPARE(f.ui().ProgressBar1->maximum(), announced);
        QCOMPARE(f.ui().ProgressBar1->value(), announced);
    }

    // The buttons follow the outcome of this transfer, not what the bar showed before it.
    void completionFollowsThisTransfer_data() {
        QTest::addColumn<bool>("barFullBefore");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("bar full, transfer fails") << true << false;
        QTest::newRow("bar full, transfer succeeds") << true << true;
        QTest::newRow("bar at start, transfer fails") << false << false;
        QTest::newRow("bar at start, transfer succeeds") << false << true;
    }
    void completionFollowsThisTransfer() {
        QFETCH(bool, barFullBefore);
        QFETCH(bool, succeeds);
        DownloadFixture f;
        const QByteArray archive = bytes(5'000);
        f.server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "HEAD")
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 5000"}));
            else if (succeeds)
                socket->write(ScriptedHttpServer::ok(archive));
            else {
                // The bar ends full for this transfer too, but the archive is cut short.
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + archive.left(2'000));
                socket->disconnectFromHost();
            }
        };
        f.ui().Button3->setEnabled(false);
        if (barFullBefore)
            f.ui().ProgressBar1->setValue(f.ui().ProgressBar1->maximum());
        f.click();
        QCOMPARE(f.ui().Button3->isEnabled(), succeeds);
        QCOMPARE(f.ui().Button2->isEnabled(), !succeeds);
        QCOMPARE(QFile::exists(f.archive()), succeeds);
        QVERIFY(f.window->log().isEmpty());
    }

    // While the body arrives the bar moves and the window repaints, but it takes no input.
    void duringTheTransfer() {
        DownloadFixture f(5s);
        f.window->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window->window.get()));
        QSignalSpy exitClicks(f.ui().Button1, &QPushButton::clicked);
        QSignalSpy updateClicks(f.ui().Button3, &QPushButton::clicked);
        PaintCounter paints(f.ui().ProgressBar1);
        const QByteArray archive = bytes(1'000);
        bool seenHalfway = false;
        int paintsHalfway = 0;
        f.server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "HEAD") {
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 1000"}));
                return;
            }
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + archive.left(400));
            auto* poll = new QTimer(socket);
            poll->setInterval(10ms);
            QObject::connect(poll, &QTimer::timeout, socket, [&, socket, poll, attempts = 0]() mutable {
                QProgressBar* bar = f.ui().ProgressBar1;
                seenHalfway = bar->maximum() == 1000 && bar->value() == 400;
                if (!seenHalfway && ++attempts < 300)
                    return;
                poll->stop();
                paintsHalfway = paints.paints;
                QTest::mouseClick(f.ui().Button1, Qt::LeftButton);
                QTest::mouseClick(f.ui().Button3, Qt::LeftButton);
                QTest::keyClick(f.ui().ListBox1, Qt::Key_Escape);
                socket->write(archive.mid(400));
            });
            poll->start();
        };
        f.click();
        QVERIFY(seenHalfway);
        QVERIFY(paintsHalfway > 0);
        QCOMPARE(exitClicks.count(), 0);
        QCOMPARE(updateClicks.count(), 0);
        QVERIFY(f.window->window->isVisible());
        QCOMPARE(readBytes(f.archive()), archive);
        // Input reaches the window again once the command is over.
        QTest::mouseClick(f.ui().Button3, Qt::LeftButton);
        QCOMPARE(updateClicks.count(), 1);
    }

    // Closing the window ends a transfer that would otherwise wait out its time-out.
    void closingTheWindowEndsTheTransfer() {
        DownloadFixture f(std::chrono::hours(1));
        f.window->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window->window.get()));
        f.writeArchive("earlier archive");
        f.server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "HEAD") {
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 1000"}));
                return;
            }
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes(100));
            QTimer::singleShot(10ms, f.window->window.get(), [&] { f.window->window->close(); });
        };
        f.click();
        QVERIFY(!f.window->window->isVisible());
        QCOMPARE(readBytes(f.archive()), QByteArray("earlier archive"));
        QCOMPARE(f.entries(), QStringList{QStringLiteral("res")});
        QVERIFY(f.ui().Button2->isEnabled());
    }

    // The handlers post; the bar changes when the queue runs. Only the low 32 bits travel, and an
    // unknown size starts a bar of unknown length.
    void workHandlers_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("position");
        QTest::newRow("plain") << qint64(1000) << qint64(250) << 1000 << 250;
        QTest::newRow("unknown size") << qint64(-1) << qint64(250) << 0 << 0;
        QTest::newRow("beyond 32 bits")
            << (qint64(1) << 32) + 5000 << (qint64(1) << 32) + 2500 << 5000 << 2500;
    }
    void workHandlers() {
        QFETCH(qint64, size);
        QFETCH(qint64, count);
        QFETCH(int, maximum);
        QFETCH(int, position);
        DownloadFixture f;
        ProgressRecorder progress(f.window->window.get());
        f.window->window->IdHTTP1WorkBegin(nullptr, WorkMode::Read, size);
        f.window->window->IdHTTP1Work(nullptr, WorkMode::Read, count);
        QCOMPARE(f.ui().ProgressBar1->maximum(), 100);
        QCOMPARE(f.ui().ProgressBar1->value(), 0);
        QCoreApplication::sendPostedEvents(f.window->window.get(), WM_MYPROGRESS);
        QCOMPARE(progress.messages.size(), 2);
        QCOMPARE(f.ui().ProgressBar1->maximum(), maximum);
        QCOMPARE(f.ui().ProgressBar1->value(), position);
    }
};

QTEST_MAIN(TestDownloadWindow)
#include "test_download_window.moc"
