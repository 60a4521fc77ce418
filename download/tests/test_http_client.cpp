#include "base/error.h"
#include "download/http_client.h"
#include "support/scripted_http_server.h"

#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>

using base::Error;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    QString error; // empty: success
    QByteArray body;
    QList<qint64> begins;
    QList<qint64> counts;
};

TransferLimits limits(std::chrono::seconds slow = 5s) {
    TransferLimits l;
    l.connect = 5s;
    l.slowTime = slow;
    return l;
}

Outcome fetch(HttpClient& client, const QUrl& url, bool head = false) {
    Outcome out;
    const QObject context; // the connections end with the call
    QObject::connect(&client, &HttpClient::workBegin, &context,
                     [&](WorkMode, qint64 max) { out.begins.append(max); });
    QObject::connect(&client, &HttpClient::work, &context,
                     [&](WorkMode, qint64 count) { out.counts.append(count); });
    try {
        if (head)
            client.Head(url);
        else
            client.Get(url, [&](QByteArrayView data) { out.body += data.toByteArray(); });
    } catch (const Error& e) {
        out.error = QString::fromUtf8(e.what());
    }
    return out;
}

// Writes `data` in pieces, one per turn of the event loop, and closes the connection after it
// when asked.
void sendInPieces(QTcpSocket* socket, const QByteArray& data, int piece, bool closeAfter) {
    if (data.isEmpty()) {
        if (closeAfter)
            socket->disconnectFromHost();
        return;
    }
    socket->write(data.left(piece));
    socket->flush();
    const QPointer<QTcpSocket> alive(socket);
    QTimer::singleShot(1ms, socket, [alive, rest = data.mid(piece), piece, closeAfter] {
        if (alive)
            sendInPieces(alive, rest, piece, closeAfter);
    });
}

const QString slowError =
    QStringLiteral("Сервер 127.0.0.1 передавал данные медленнее 1024 байт/с %1 с подряд");

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT

    QUrl url(const ScriptedHttpServer& server) const {
        return QUrl(server.baseUrl() + QString::fromLatin1(archivePath));
    }

private Q_SLOTS:
    void bodies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("piece");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("size");

        const QByteArray body = bytes(70'000);
        QTest::newRow("length") << ScriptedHttpServer::ok(body) << 1 << false << body << qint64(body.size());
        QTest::newRow("length, small pieces")
            << ScriptedHttpServer::ok(body.left(100)) << 7 << false << body.left(100) << qint64(100);
        const QByteArray chunked =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            "5;name=value\r\nhello\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Sum: 1\r\n\r\n";
        QTest::newRow("chunked, extension, trailer")
            << chunked << 1 << false << QByteArray("helloabcdefghijklmnopqrstuvwxyz") << qint64(-1);
        QTest::newRow("chunked, small pieces")
            << chunked << 3 << false << QByteArray("helloabcdefghijklmnopqrstuvwxyz") << qint64(-1);
        QTest::newRow("until close") << "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n" + body << 1 << true << body
                                     << qint64(-1);
        QTest::newRow("interim reply first")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc") << 1
            << false << QByteArray("abc") << qint64(3);
        QTest::newRow("empty") << ScriptedHttpServer::ok({}) << 1 << false << QByteArray() << qint64(0);
        QTest::newRow("bare line feeds") << QByteArray("HTTP/1.1 200 OK\nContent-Length: 3\n\nabc") << 1
                                         << false << QByteArray("abc") << qint64(3);
        QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << 1 << false
                                    << QByteArray() << qint64(0);
        // Stored as sent: nothing asked for an encoding, so nothing is decoded.
        QTest::newRow("encoded anyway")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd") << 1
            << false << QByteArray("abcd") << qint64(4);
    }
    void bodies() {
        QFETCH(QByteArray, reply);
        QFETCH(int, piece);
        QFETCH(bool, closeAfter);
        QFETCH(QByteArray, body);
        QFETCH(qint64, size);
        ScriptedHttpServer server;
        server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            sendInPieces(socket, reply, piece == 1 ? int(reply.size()) : piece, closeAfter);
        };
        HttpClient client;
        client.setLimits(limits());
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, QString());
        QCOMPARE(out.body, body);
        QCOMPARE(out.begins, QList<qint64>{size});
        QVERIFY(std::is_sorted(out.counts.begin(), out.counts.end()));
        QCOMPARE(out.counts.isEmpty() ? 0 : out.counts.last(), qint64(body.size()));
        QCOMPARE(server.requests.size(), 1);
    }

    // Every reply that is not a whole success ends as an error, nothing of a refused reply counts as
    // progress, and no redirect is followed.
    void failures_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("ending"); // "", "close" or "reset"
        QTest::addColumn<QString>("error");     // how the error text begins

        const QString refused = QStringLiteral("Сервер 127.0.0.1 ответил «%1»");
        const QString cut = QStringLiteral("Ответ сервера 127.0.0.1 оборван");
        const QString broken = QStringLiteral("Соединение с сервером 127.0.0.1 разорвано");
        QTest::newRow("404") << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
                             << QByteArray() << refused.arg("HTTP/1.1 404 Not Found");
        QTest::newRow("500") << QByteArray("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n") << QByteArray()
                             << refused.arg("HTTP/1.1 500 Oops");
        QTest::newRow("redirect")
            << QByteArray("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n")
            << QByteArray() << refused.arg("HTTP/1.1 302 Found");
        QTest::newRow("not modified") << QByteArray("HTTP/1.1 304 Not Modified\r\n\r\n") << QByteArray()
                                      << refused.arg("HTTP/1.1 304 Not Modified");
        QTest::newRow("protocol switch") << QByteArray("HTTP/1.1 101 Switching Protocols\r\n\r\n")
                                         << QByteArray() << refused.arg("HTTP/1.1 101 Switching Protocols");
        QTest::newRow("bad chunk size")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << QByteArray()
            << QStringLiteral("Ошибка обмена с сервером 127.0.0.1");
        QTest::newRow("closes mid-body")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd") << QByteArray("close") << cut;
        QTest::newRow("closes mid-chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel")
            << QByteArray("close") << cut;
        QTest::newRow("closes in the head")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << QByteArray("close")
            << QStringLiteral("Сервер 127.0.0.1 не прислал ответа");
        QTest::newRow("closes at once") << QByteArray() << QByteArray("close")
                                        << QStringLiteral("Сервер 127.0.0.1 закрыл соединение, не ответив");
        const QByteArray half = bytes(50'000);
        QTest::newRow("reset after half the body")
            << "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + half << QByteArray("reset") << broken;
        QTest::newRow("reset after half the body, no length")
            << "HTTP/1.1 200 OK\r\n\r\n" + half << QByteArray("reset") << broken;
        QTest::newRow("reset in a chunk")
            << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n186a0\r\n" + half << QByteArray("reset")
            << broken;
        QTest::newRow("over 4 GiB announced")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4294967297\r\n\r\nabc") << QByteArray()
            << QStringLiteral("Ответ сервера 127.0.0.1 больше 4294967296 байт");
    }
    void failures() {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, ending);
        QFETCH(QString, error);
        ScriptedHttpServer server;
        server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            if (ending == "reset") {
                ScriptedHttpServer::sendThenReset(socket, reply);
                return;
            }
            socket->write(reply);
            if (ending == "close")
                socket->disconnectFromHost();
        };
        HttpClient client;
        client.setLimits(limits());
        const Outcome out = fetch(client, url(server));
        QVERIFY2(!out.error.isEmpty() && out.error.startsWith(error), qPrintable(out.error));
        if (error.contains(u'«'))
            QVERIFY(out.begins.isEmpty() && out.counts.isEmpty());
        QCOMPARE(server.requests.size(), 1);
    }

    // A server that sends without end is stopped by the size caps, one that sends next to nothing
    // by the rate: a byte now and then does not keep a transfer alive.
    void endlessAndSlowReplies_data() {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<int>("slowSeconds");
        QTest::addColumn<QString>("error");
        QTest::newRow("silent") << QByteArray("silent") << 1 << slowError.arg(1);
        QTest::newRow("silent mid-body") << QByteArray("silent mid-body") << 1 << slowError.arg(1);
        QTest::newRow("a byte every 2 s in the head") << QByteArray("trickle head") << 3 << slowError.arg(3);
        QTest::newRow("a byte every 2 s in the body") << QByteArray("trickle body") << 3 << slowError.arg(3);
        QTest::newRow("endless chunked body")
            << QByteArray("endless body") << 5
            << QStringLiteral("Ответ сервера 127.0.0.1 больше 1048576 байт");
        QTest::newRow("endless body without a length")
            << QByteArray("endless close") << 5
            << QStringLiteral("Ответ сервера 127.0.0.1 больше 1048576 байт");
        QTest::newRow("endless trailer")
            << QByteArray("endless trailer") << 5
            << QStringLiteral("Заголовок ответа сервера 127.0.0.1 больше 262144 байт");
        QTest::newRow("endless head")
            << QByteArray("endless head") << 5
            << QStringLiteral("Заголовок ответа сервера 127.0.0.1 больше 262144 байт");
    }
    void endlessAndSlowReplies() {
        QFETCH(QByteArray, scenario);
        QFETCH(int, slowSeconds);
        QFETCH(QString, error);
        ScriptedHttpServer server;
        server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'z') + "\r\n";
            if (scenario == "silent mid-body")
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabcd");
            else if (scenario == "trickle head")
                ScriptedHttpServer::trickle(socket, "HTTP/1.1 200 OK\r\n", "X-Slow: yes\r\n", 2s);
            else if (scenario == "trickle body")
                ScriptedHttpServer::trickle(
                    socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + bytes(400), "z", 2s);
            else if (scenario == "endless body")
                ScriptedHttpServer::endless(socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                            chunk);
            else if (scenario == "endless close")
                ScriptedHttpServer::endless(socket, "HTTP/1.1 200 OK\r\n\r\n", QByteArray(0x10000, 'z'));
            else if (scenario == "endless trailer")
                ScriptedHttpServer::endless(
                    socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n",
                    "X-Trailer: " + QByteArray(100, 't') + "\r\n");
            else if (scenario == "endless head")
                ScriptedHttpServer::endless(socket, "HTTP/1.1 200 OK\r\n",
                                            "X-Head: " + QByteArray(100, 'h') + "\r\n");
        };
        HttpClient client;
        TransferLimits l = limits(std::chrono::seconds(slowSeconds));
        l.maxBody = 1 << 20;
        client.setLimits(l);
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, error);
        QVERIFY(out.body.size() <= l.maxBody);
        QTRY_COMPARE(server.disconnections, 1);
    }

    void refusedConnection() {
        quint16 port;
        {
            ScriptedHttpServer gone;
            port = gone.port();
        }
        HttpClient client;
        client.setLimits(limits());
        const Outcome out = fetch(client, QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port)));
        QCOMPARE(out.error, QStringLiteral("Нет соединения с сервером 127.0.0.1"));
    }

    // A server whose queue of connections is full never completes the connection.
    void connectTimeout() {
        ScriptedHttpServer server(0);
        server.server().pauseAccepting();
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(filler.waitForConnected(5000));
        HttpClient client;
        TransferLimits l = limits(60s);
        l.connect = 300ms;
        client.setLimits(l);
        QCOMPARE(fetch(client, url(server)).error,
                 QStringLiteral("Сервер 127.0.0.1 не ответил на соединение за 0.3 с"));
    }

    // Exactly the request line, Host, User-Agent and Accept, and the cookies this client was given,
    // also when the environment names a proxy.
    void requestOnTheWire() {
        ScriptedHttpServer proxy;
        qputenv("http_proxy", proxy.baseUrl().toLatin1());
        qputenv("HTTP_PROXY", proxy.baseUrl().toLatin1());
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "HEAD")
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 1000"}));
            else
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK",
                                                       {"Set-Cookie: sid=42; Path=/", "Content-Length: 2"}) +
                              "ok");
        };
        HttpClient client;
        client.setLimits(limits());
        QCOMPARE(fetch(client, url(server), true).error, QString());
        QCOMPARE(fetch(client, url(server)).error, QString());
        QCOMPARE(fetch(client, url(server)).error, QString());
        HttpClient fresh;
        fresh.setLimits(limits());
        QCOMPARE(fetch(fresh, url(server)).error, QString());
        qunsetenv("http_proxy");
        qunsetenv("HTTP_PROXY");

        QCOMPARE(proxy.connections, 0);
        const auto [host, agent, accept] = server.clientFields();
        QCOMPARE(server.requests.size(), 4);
        QCOMPARE(server.requests[0].requestLine, "HEAD " + archivePath + " HTTP/1.1");
        QCOMPARE(server.requests[0].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(server.requests[1].requestLine, "GET " + archivePath + " HTTP/1.1");
        QCOMPARE(server.requests[1].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(server.requests[2].fields, (QList<QByteArray>{host, agent, "Cookie: sid=42", accept}));
        QCOMPARE(server.requests[3].fields, (QList<QByteArray>{host, agent, accept}));
    }

    void requestTarget_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("no path") << QString() << QByteArray("/");
        QTest::newRow("query only") << "?a=b" << QByteArray("/?a=b");
        QTest::newRow("escaped") << "/a b/ф?x=1#frag" << QByteArray("/a%20b/%D1%84?x=1");
    }
    void requestTarget() {
        QFETCH(QString, path);
        QFETCH(QByteArray, target);
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write(ScriptedHttpServer::ok({}));
        };
        HttpClient client;
        QCOMPARE(fetch(client, QUrl(server.baseUrl() + path)).error, QString());
        QCOMPARE(server.requests.value(0).target(), target);
    }

    // A HEAD reply names the size of the body it does not send.
    void headEndsWithItsHead() {
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Content-Length: 1000"}));
        };
        HttpClient client;
        client.setLimits(limits(60s));
        const Outcome out = fetch(client, url(server), true);
        QCOMPARE(out.error, QString());
        QVERIFY(out.begins.isEmpty() && out.counts.isEmpty());
    }

    void cancel() {
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        };
        HttpClient client;
        client.setLimits(limits(60s));
        connect(&client, &HttpClient::work, &client,
                [&] { QTimer::singleShot(0, &client, [&] { client.cancel(); }); });
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, QStringLiteral("Загрузка прервана"));
        QCOMPARE(out.body, QByteArray("ab"));
        QTRY_COMPARE(server.disconnections, 1);
        client.cancel(); // nothing under way: nothing happens
        // The client serves the next request as before.
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write(ScriptedHttpServer::ok("next"));
        };
        QCOMPARE(fetch(client, url(server)).body, QByteArray("next"));
    }

    void sinkErrorEndsTheTransfer() {
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        };
        HttpClient client;
        client.setLimits(limits(60s));
        int calls = 0;
        try {
            client.Get(url(server), [&](QByteArrayView) {
                ++calls;
                throw Error("disk full");
            });
            QFAIL("no error");
        } catch (const Error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("disk full"));
        }
        QCOMPARE(calls, 1);
        QTRY_COMPARE(server.disconnections, 1);
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "test_http_client.moc"
