#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <functional>
#include <memory>

// The path of the archive the tests serve.
inline const QByteArray archivePath = "/sites/default/files/ZentavoDocument/ver_1_3.zip";

// `size` bytes of a fixed pattern that is not one byte repeated, for bodies whose content is checked.
inline QByteArray bytes(int size) {
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 131 + i / 7) & 0xFF);
    return out;
}

// An HTTP server on the loopback address for the tests: it records the head of every request and
// answers each with whatever the test's responder writes (or withholds).
class ScriptedHttpServer : public QObject {
public:
    struct Request {
        QByteArray requestLine;   // "GET /path HTTP/1.1"
        QList<QByteArray> fields; // "Name: value" as received, in order
        QByteArray method() const { return requestLine.left(requestLine.indexOf(' ')); }
        QByteArray target() const { return requestLine.split(' ').value(1); }
    };
    using Responder = std::function<void(QTcpSocket* socket, const Request& request)>;

    explicit ScriptedHttpServer(int backlog = -1) {
        if (backlog >= 0)
            m_server.setListenBacklogSize(backlog);
        if (!m_server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen on the loopback address");
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    QTcpServer& server() { return m_server; }

    // A reply head with the given fields.
    static QByteArray head(const QByteArray& statusLine, const QList<QByteArray>& fields) {
        QByteArray out = statusLine + "\r\n";
        for (const QByteArray& f : fields)
            out += f + "\r\n";
        return out + "\r\n";
    }
    static QByteArray ok(const QByteArray& body) {
        return head("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(body.size())}) + body;
    }

    // Ends the connection with a reset instead of an orderly close.
    static void reset(QTcpSocket* socket) {
        socket->flush();
        const linger hard{1, 0};
#ifdef _WIN32
        ::setsockopt(SOCKET(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&hard), int(sizeof hard));
#else
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
        socket->abort();
    }
    // Writes `data`, then resets the connection once the client has had time to read it.
    static void sendThenReset(QTcpSocket* socket, const QByteArray& data) {
        socket->write(data);
        socket->flush();
        QTimer::singleShot(std::chrono::milliseconds(200), socket, [socket] { reset(socket); });
    }
    // Writes `data`, then one byte of `drip` each `interval`, as long as the connection lasts.
    static void trickle(QTcpSocket* socket, const QByteArray& data, const QByteArray& drip,
                        std::chrono::milliseconds interval) {
        socket->write(data);
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, drip, at = qsizetype(0)]() mutable {
            socket->write(drip.mid(at++ % drip.size(), 1));
        });
        timer->start(interval);
    }
    // Writes `head`, then `piece` again and again, as fast as the client takes it.
    static void endless(QTcpSocket* socket, const QByteArray& head, const QByteArray& piece) {
        socket->write(head);
        const auto topUp = [socket, piece] {
            while (socket->bytesToWrite() < 4 * piece.size())
                socket->write(piece);
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
    }

    // The fields the updater's client puts in every request to this server, as it writes them.
    struct ClientFields {
        QByteArray host;
        QByteArray agent;
        QByteArray accept;
    };
    ClientFields clientFields() const {
        return {"Host: 127.0.0.1:" + QByteArray::number(port()),
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
                "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"};
    }

    Responder respond;
    QList<Request> requests;
    int connections = 0;
    int disconnections = 0;

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++connections;
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnections; });
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                qsizetype end;
                while ((end = buffer->indexOf("\r\n\r\n")) >= 0) {
                    QList<QByteArray> lines = buffer->left(end).split('\n');
                    buffer->remove(0, end + 4);
                    for (QByteArray& line : lines)
                        if (line.endsWith('\r'))
                            line.chop(1);
                    Request request;
                    request.requestLine = lines.takeFirst();
                    request.fields = lines;
                    requests.append(request);
                    if (respond)
                        respond(socket, request);
                }
            });
        }
    }

    QTcpServer m_server;
};
