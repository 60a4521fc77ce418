#include "download/http_client.h"
#include "platform/error.h"
#include "support/scripted_http_server.h"

#include <QNetworkCookieJar>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

struct Outcome {
    QString error; // empty: success
    QByteArray body;
    QList<qint64> begins;
    QList<qint64> counts;
};

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
        QTest::newRow("bare line feeds, folded field")
            << QByteArray("HTTP/1.1 200 OK\nX-Long: a\n b\nContent-Length: 3\n\nabc") << 1 << false
            << QByteArray("abc") << qint64(3);
        QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << 1 << false
                                    << QByteArray() << qint64(-1);
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
        client.setTimeouts(5s, 5s);
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, QString());
        QCOMPARE(out.body, body);
        QCOMPARE(out.begins, QList<qint64>{size});
        QVERIFY(std::is_sorted(out.counts.begin(), out.counts.end()));
        QCOMPARE(out.counts.isEmpty() ? 0 : out.counts.last(), qint64(body.size()));
        QCOMPARE(server.requests.size(), 1);
    }

    void failures_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<QString>("error");

        QTest::newRow("404") << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
                             << false << "HTTP/1.1 404 Not Found";
        QTest::newRow("500") << QByteArray("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n") << false
                             << "HTTP/1.1 500 Oops";
        QTest::newRow("redirect")
            << QByteArray("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n") << false
            << "HTTP/1.1 302 Found";
        QTest::newRow("not modified")
            << QByteArray("HTTP/1.1 304 Not Modified\r\n\r\n") << false << "HTTP/1.1 304 Not Modified";
        QTest::newRow("not HTTP") << QByteArray("ICY 200 OK\r\n\r\n") << false << "Invalid status line";
        QTest::newRow("lengths differ")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabc") << false
            << "Invalid Content-Length";
        QTest::newRow("length not a number") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\nabc")
                                             << false << "Invalid Content-Length";
        QTest::newRow("bad chunk size")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << false
            << "Invalid chunk size";
        QTest::newRow("closes mid-body") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd")
                                         << true << "Connection closed before the reply was complete";
        QTest::newRow("closes mid-chunk")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel") << true
            << "Connection closed before the reply was complete";
        QTest::newRow("closes in the head")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << true << "Connection closed without a reply";
        QTest::newRow("closes at once") << QByteArray() << true << "Connection closed without a reply";
        QTest::newRow("head too large") << "HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(70'000, 'x') + "\r\n\r\n"
                                        << false << "Reply line too long";
        QTest::newRow("protocol switch") << QByteArray("HTTP/1.1 101 Switching Protocols\r\n\r\n") << false
                                         << "Unexpected protocol switch";
    }
    void failures() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, closeAfter);
        QFETCH(QString, error);
        ScriptedHttpServer server;
        server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write(reply);
            if (closeAfter)
                socket->disconnectFromHost();
        };
        HttpClient client;
        client.setTimeouts(5s, 5s);
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, error);
        // Nothing of a refused reply counts as progress, and no redirect is followed.
        if (error.startsWith(QLatin1String("HTTP/")))
            QVERIFY(out.begins.isEmpty() && out.counts.isEmpty());
        QCOMPARE(server.requests.size(), 1);
    }

    void refusedConnection() {
        quint16 port;
        {
            ScriptedHttpServer gone;
            port = gone.port();
        }
        HttpClient client;
        client.setTimeouts(5s, 5s);
        const Outcome out = fetch(client, QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port)));
        QVERIFY2(out.error.contains(QLatin1String("refused")), qPrintable(out.error));
    }

    // Exactly the request line, Host, Accept and User-Agent, and the cookies the client was given.
    void requestOnTheWire() {
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
        client.setTimeouts(5s, 5s);
        QCOMPARE(fetch(client, url(server), true).error, QString());
        QCOMPARE(fetch(client, url(server)).error, QString());
        QCOMPARE(fetch(client, url(server)).error, QString());
        HttpClient fresh;
        fresh.setTimeouts(5s, 5s);
        QCOMPARE(fetch(fresh, url(server)).error, QString());

        const auto [host, agent, accept] = server.clientFields();
        QCOMPARE(server.requests.size(), 4);
        QCOMPARE(server.requests[0].requestLine, "HEAD " + archivePath + " HTTP/1.1");
        QCOMPARE(server.requests[0].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(server.requests[1].requestLine, "GET " + archivePath + " HTTP/1.1");
        QCOMPARE(server.requests[1].fields, (QList<QByteArray>{host, agent, accept}));
        QCOMPARE(server.requests[2].fields, (QList<QByteArray>{host, agent, accept, "Cookie: sid=42"}));
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
        client.setTimeouts(60s, 60s);
        const Outcome out = fetch(client, url(server), true);
        QCOMPARE(out.error, QString());
        QVERIFY(out.begins.isEmpty() && out.counts.isEmpty());
    }

    void stalls_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("before the reply") << QByteArray();
        QTest::newRow("in the head") << QByteArray("HTTP/1.1 200 OK\r\n");
        QTest::newRow("mid-body") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd");
    }
    void stalls() {
        QFETCH(QByteArray, sent);
        ScriptedHttpServer server;
        server.respond = [&](QTcpSocket* socket, const ScriptedHttpServer::Request&) { socket->write(sent); };
        HttpClient client;
        client.setTimeouts(5s, 200ms);
        QCOMPARE(fetch(client, url(server)).error, QStringLiteral("Read timed out"));
        QTRY_COMPARE(server.disconnections, 1);
    }

    // A server whose queue of connections is full never completes the connection.
    void connectTimeout() {
        ScriptedHttpServer server(0);
        server.server().pauseAccepting();
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(filler.waitForConnected(5000));
        HttpClient client;
        client.setTimeouts(200ms, 60s);
        QCOMPARE(fetch(client, url(server)).error, QStringLiteral("Connection to 127.0.0.1 timed out"));
    }

    void cancel() {
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        };
        HttpClient client;
        client.setTimeouts(60s, 60s);
        connect(&client, &HttpClient::work, &client,
                [&] { QTimer::singleShot(0, &client, [&] { client.cancel(); }); });
        const Outcome out = fetch(client, url(server));
        QCOMPARE(out.error, QStringLiteral("Operation canceled"));
        QCOMPARE(out.body, QByteArray("ab"));
        QTRY_COMPARE(server.disconnections, 1);
        client.cancel(); // nothing under way: nothing happens
    }

    void sinkErrorEndsTheTransfer() {
        ScriptedHttpServer server;
        server.respond = [](QTcpSocket* socket, const ScriptedHttpServer::Request&) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
        };
        HttpClient client;
        client.setTimeouts(60s, 60s);
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
