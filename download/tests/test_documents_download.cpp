// The documents download on its own: what is fetched, where it goes, what a failure leaves, the
// texts shown and the progress posted, over recording seams and without a window.

#include "download/archive_file.h"
#include "download/documents_download.h"
#include "download/http_client.h"
#include "support/archive_responder.h"
#include "support/fake_network_state.h"
#include "support/recording_dialogs.h"
#include "support/recording_seams.h"
#include "support/registry_fixture.h"
#include "support/scripted_http_server.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

// A download to a scripted local server, run in a current directory of its own.
struct DownloadFixture : DownloadFolder {
    explicit DownloadFixture(std::chrono::seconds slow = 1s) {
        DownloadServer where;
        where.baseUrl = server.baseUrl();
        where.limits.connect = 2s;
        where.limits.slowTime = slow;
        where.limits.maxBody = 1 << 20;
        download = std::make_unique<download::DocumentsDownload>(
            download::DocumentsDownload::Context{.dialogs = dialogs,
                                                 .networkState = &network,
                                                 .server = where,
                                                 .controls = controls,
                                                 .queue = queue});
    }

    void click() { download->downloadDocuments(); }
    // The update button as an earlier operation leaves it when the bar ends full.
    void barFull() { controls.updateButtonEnabled = false; }

    ScriptedHttpServer server;
    FakeNetworkState network;
    RecordingDialogs dialogs;
    RecordingControls controls;
    RecordingQueue queue;
    std::unique_ptr<download::DocumentsDownload> download;
};

} // namespace

class TestDocumentsDownload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void savesTheArchive_data() { addFramingRows(); }
    void savesTheArchive() {
        QFETCH(QByteArray, framing);
        QFETCH(int, announced);
        DownloadFixture f;
        const QByteArray archive = bytes(300'000);
        f.server.respond = serve(archive, framing);
        f.click();

        QCOMPARE(readBytes(f.archive()), archive);
        QCOMPARE(f.entries(), QStringList{QStringLiteral("res")}); // no temporary file stays
        QCOMPARE(QDir(f.cwd.filePath(QStringLiteral("res")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("ver_1_3.zip")});
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.server.requests.size(), 2);
        QCOMPARE(f.server.requests[0].method(), QByteArray("HEAD"));
        QCOMPARE(f.server.requests[1].method(), QByteArray("GET"));

        // Start with the size, then the running count up to the whole archive.
        QVERIFY(f.queue.progress.size() >= 2);
        QCOMPARE(f.queue.progress.first(), (QPair<int, qint32>(0, announced)));
        qint32 last = 0;
        for (qsizetype i = 1; i < f.queue.progress.size(); ++i) {
            QCOMPARE(f.queue.progress[i].first, 1);
            QVERIFY(f.queue.progress[i].second > last);
            last = f.queue.progress[i].second;
        }
        QCOMPARE(last, qint32(archive.size()));
    }

    void replacesAnArchiveInAnExistingFolder() {
        DownloadFixture f;
        f.writeArchive("old archive");
        writeBytes(f.cwd.filePath(QStringLiteral("res/other.txt")), "other");
        const QByteArray archive = bytes(10'000);
        f.server.respond = serve(archive);
        f.click();
        QCOMPARE(readBytes(f.archive()), archive);
        QCOMPARE(readBytes(f.cwd.filePath(QStringLiteral("res/other.txt"))), QByteArray("other"));
        QCOMPARE(f.entries(), QStringList{QStringLiteral("res")});
        QVERIFY(!f.controls.downloadButtonEnabled);
    }

    void requestHeaders() {
        DownloadFixture f;
        f.server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            // Cookies of the download client come back on its next run; those of the probe do not.
            if (request.method() == "HEAD")
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK",
                                                       {"Set-Cookie: probe=1; Path=/", "Content-Length: 2"}));
            else
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK",
                                                       {"Set-Cookie: sid=42; Path=/", "Content-Length: 2"}) +
                              "ok");
        };
        f.click();
        f.controls.downloadButtonEnabled = true; // a success disables it
        f.click();
        const auto [host, agent, accept] = f.server.clientFields();
        QCOMPARE(f.server.requests.size(), 4);
        QCOMPARE(f.server.requests[0].requestLine, "HEAD " + archivePath + " HTTP/1.1");
        QCOMPARE(f.server.requests[1].requestLine, "GET " + archivePath + " HTTP/1.1");
        QCOMPARE(f.server.requests[0].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(f.server.requests[1].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(f.server.requests[2].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(f.server.requests[3].fields, (QList<QByteArray>{host, agent, "Cookie: sid=42", accept}));
    }

    void failuresKeepEverythingAsItWas_data() {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<bool>("earlierArchive");
        QTest::addColumn<int>("requests");
        const QList<QPair<QByteArray, int>> scenarios{
            {"HEAD 404", 1},
            {"HEAD redirect", 1},
            {"HEAD stalls", 1},
            {"server gone", 0},
            {"GET 404", 2},
            {"GET redirect", 2},
            {"GET stalls", 2},
            {"GET stalls mid-body", 2},
            {"GET closes mid-body", 2},
            {"GET closes mid-chunk", 2},
            {"GET resets mid-body", 2},
            {"GET resets mid-body without a length", 2},
            {"GET resets mid-chunk", 2},
            {"GET trickles in the head", 2},
            {"GET trickles in the body", 2},
            {"GET sends an endless chunked body", 2},
            {"GET announces over 4 GiB", 2},
        };
        for (const auto& [scenario, requests] : scenarios) {
            QTest::newRow(scenario.constData()) << scenario << false << requests;
            QTest::newRow((scenario + ", earlier archive").constData()) << scenario << true << requests;
        }
    }
    void failuresKeepEverythingAsItWas() {
        QFETCH(QByteArray, scenario);
        QFETCH(bool, earlierArchive);
        QFETCH(int, requests);
        // A window of three seconds, so that a byte every two seconds would keep a mere silence
        // timer from ever ending the transfer.
        DownloadFixture f(scenario.contains("trickles") ? 3s : 1s);
        if (earlierArchive)
            f.writeArchive("earlier archive");
        const QStringList before = f.entries();
        f.server.respond = [scenario](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            const bool head = request.method() == "HEAD";
            const QByteArray stage = head ? "HEAD" : "GET";
            if (!scenario.startsWith(stage)) {
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 1000"}));
                return;
            }
            if (scenario.endsWith("404"))
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
            else if (scenario.endsWith("redirect"))
                socket->write(ScriptedHttpServer::head("HTTP/1.1 302 Found",
                                                       {"Location: /moved.zip", "Content-Length: 0"}));
            else if (scenario.endsWith("stalls"))
                ; // says nothing
            else if (scenario.endsWith("stalls mid-body"))
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes(400));
            else if (scenario.endsWith("closes mid-body")) {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes(400));
                socket->disconnectFromHost();
            } else if (scenario.endsWith("closes mid-chunk")) {
                socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + bytes(400));
                socket->disconnectFromHost();
            } else if (scenario.endsWith("resets mid-body")) {
                ScriptedHttpServer::sendThenReset(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" +
                                                              bytes(500));
            } else if (scenario.endsWith("resets mid-body without a length")) {
                ScriptedHttpServer::sendThenReset(socket, "HTTP/1.1 200 OK\r\n\r\n" + bytes(500));
            } else if (scenario.endsWith("resets mid-chunk")) {
                ScriptedHttpServer::sendThenReset(
                    socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + bytes(500));
            } else if (scenario.endsWith("trickles in the head")) {
                ScriptedHttpServer::trickle(socket, "HTTP/1.1 200 OK\r\n", "X-Slow: yes\r\n", 2s);
            } else if (scenario.endsWith("trickles in the body")) {
                ScriptedHttpServer::trickle(
                    socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes(400), "z", 2s);
            } else if (scenario.endsWith("endless chunked body")) {
                ScriptedHttpServer::endless(socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                            "10000\r\n" + QByteArray(0x10000, 'z') + "\r\n");
            } else if (scenario.endsWith("over 4 GiB")) {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 4294967297\r\n\r\n" + bytes(400));
            }
        };
        if (scenario == "server gone") {
            f.server.server().close();
            f.server.respond = nullptr;
        }
        f.barFull();
        f.click();

        QCOMPARE(f.entries(), before);
        if (earlierArchive)
            QCOMPARE(readBytes(f.archive()), QByteArray("earlier archive"));
        QCOMPARE(f.server.requests.size(), requests);
        for (const ScriptedHttpServer::Request& request : std::as_const(f.server.requests))
            QCOMPARE(request.target(), archivePath); // the redirect is not followed
        // Dropped without a word, and a bar full from before enables nothing.
        QVERIFY(f.dialogs.shown.isEmpty());
        QVERIFY(!f.controls.updateButtonEnabled);
        QVERIFY(f.controls.downloadButtonEnabled);
    }

    // A killed download's temporary file goes with the next download, in the current directory and
    // in "res" alike; one that a running download holds stays, and so does every other file.
    void leftoversOfKilledDownloadsGo() {
        DownloadFixture f;
        f.writeArchive("earlier archive");
        const QString killed = QStringLiteral(".ver_1_3.zip.~upd37~Ab3dE9");
        const QString held = QStringLiteral(".ver_1_3.zip.~upd37~hEld42");
        const QString other = QStringLiteral(".other.zip.~upd37~Ab3dE9");
        for (const QString& name : {killed, held, other})
            writeBytes(f.cwd.filePath(name), "part");
        writeBytes(f.cwd.filePath(QStringLiteral("res/") + killed), "part");
        const int holder = ::open(QFile::encodeName(f.cwd.filePath(held)).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        const QByteArray archive = bytes(5'000);
        f.server.respond = serve(archive);
        f.click();
        ::close(holder);
        QCOMPARE(readBytes(f.archive()), archive);
        QCOMPARE(f.entries(), (QStringList{other, held, QStringLiteral("res")}));
        QCOMPARE(QDir(f.cwd.filePath(QStringLiteral("res")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("ver_1_3.zip")});
    }

    // Under a file-size limit (as on a full disk) the archive cannot be written: the transfer ends,
    // and the earlier archive and the buttons stay as they were.
    void aFileSizeLimitKeepsTheEarlierArchive() {
        DownloadFixture f;
        f.writeArchive("earlier archive");
        rlimit before{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before;
        limited.rlim_cur = 100'000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        f.server.respond = serve(bytes(300'000));
        f.click();
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(readBytes(f.archive()), QByteArray("earlier archive"));
        QCOMPARE(f.entries(), QStringList{QStringLiteral("res")});
        QCOMPARE(QDir(f.cwd.filePath(QStringLiteral("res")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("ver_1_3.zip")});
        QVERIFY(f.controls.downloadButtonEnabled);
        QTRY_COMPARE(f.server.disconnections, 2);
    }

    // A download killed with its temporary file open leaves it behind; while that process lives the
    // file is its own, and once it is killed the next download removes it.
    void aKilledDownloadsFileGoesNextTime() {
        DownloadFixture f;
        f.writeArchive("earlier archive");
        const pid_t child = ::fork();
        if (child == 0) {
            ArchiveFile file(f.cwd.path());
            file.write("part", 4);
            for (;;)
                ::pause();
        }
        QVERIFY(child > 0);
        const auto temporary = [&] {
            return QDir(f.cwd.filePath(QStringLiteral("res")))
                .entryList({QStringLiteral(".ver_1_3.zip.~upd37~*")}, QDir::Files | QDir::Hidden);
        };
        QTRY_COMPARE(temporary().size(), 1);
        const QString left = temporary().first();
        const QByteArray archive = bytes(5'000);
        f.server.respond = serve(archive);
        f.click();
        QCOMPARE(readBytes(f.archive()), archive);
        QCOMPARE(temporary(), QStringList{left}); // held by a live download

        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        f.controls.downloadButtonEnabled = true;
        f.click();
        QVERIFY(temporary().isEmpty());
        QCOMPARE(readBytes(f.archive()), archive);
    }

    // "res" may lead to another file system; the archive gets there all the same, also when the
    // link appears while the body arrives.
    void resOnAnotherFileSystem_data() {
        QTest::addColumn<bool>("linkedDuringTransfer");
        QTest::newRow("linked before") << false;
        QTest::newRow("linked during the transfer") << true;
    }
    void resOnAnotherFileSystem() {
        QFETCH(bool, linkedDuringTransfer);
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/download-XXXXXX"));
        DownloadFixture f;
        struct stat here {
        }, there{};
        if (!elsewhere.isValid() || ::stat(QFile::encodeName(f.cwd.path()).constData(), &here) != 0 ||
            ::stat(QFile::encodeName(elsewhere.path()).constData(), &there) != 0 ||
            here.st_dev == there.st_dev)
            QSKIP("needs /dev/shm on a file system other than the temporary folder's");
        const QString res = f.cwd.filePath(QStringLiteral("res"));
        const auto link = [&] { QVERIFY(QFile::link(elsewhere.path(), res)); };
        if (!linkedDuringTransfer)
            link();
        const QByteArray archive = bytes(300'000);
        f.server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "GET" && linkedDuringTransfer)
                link();
            serve(archive)(socket, request);
        };
        f.click();
        QCOMPARE(readBytes(elsewhere.filePath(QStringLiteral("ver_1_3.zip"))), archive);
        QVERIFY(QFileInfo(res).isSymLink());
        QCOMPARE(f.entries(), QStringList{QStringLiteral("res")});
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("ver_1_3.zip")});
        QVERIFY(!f.controls.downloadButtonEnabled);
    }

    void offline() {
        DownloadFixture f;
        f.network.online = false;
        f.barFull();
        f.click();
        QCOMPARE(f.dialogs.boxes(),
                 QStringList{QStringLiteral("update_3_7: Отсутствует подключение к интернету!")});
        QCOMPARE(f.network.queries, 1);
        QCOMPARE(f.server.connections, 0);
        QVERIFY(f.entries().isEmpty());
        QVERIFY(!f.controls.updateButtonEnabled);
        QVERIFY(f.controls.downloadButtonEnabled);
    }

    // The handlers post what the bar takes: only the low 32 bits travel, and an unknown size starts a
    // bar of unknown length.
    void workHandlers_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("position");
        QTest::newRow("plain") << qint64(1000) << qint64(250) << 1000 << 250;
        QTest::newRow("unknown size") << qint64(-1) << qint64(250) << 0 << 250;
        QTest::newRow("beyond 32 bits")
            << (qint64(1) << 32) + 5000 << (qint64(1) << 32) + 2500 << 5000 << 2500;
    }
    void workHandlers() {
        QFETCH(qint64, size);
        QFETCH(qint64, count);
        QFETCH(int, maximum);
        QFETCH(int, position);
        DownloadFixture f;
        f.download->IdHTTP1WorkBegin(nullptr, WorkMode::Read, size);
        f.download->IdHTTP1Work(nullptr, WorkMode::Read, count);
        QCOMPARE(f.queue.progress, (QList<QPair<int, qint32>>{{0, maximum}, {1, position}}));
    }
};

QTEST_MAIN(TestDocumentsDownload)
#include "test_documents_download.moc"
