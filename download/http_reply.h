#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QTimer>

#include <chrono>

class QNetworkCookieJar;
class QTcpSocket;

// One plain HTTP/1.1 exchange, GET or HEAD, on a connection of its own. It sends the request line,
// Host, the request's own headers and the jar's cookies, and nothing else: Qt's HTTP backend always
// adds Connection, Accept-Encoding and Accept-Language, which the download server must not see.
// Redirects are never followed. A status of 400 or more is reported as Qt's backend reports it; the
// body is read as it arrives and kept only until the reader takes it.
class HttpReply final : public QNetworkReply {
    Q_OBJECT
public:
    struct Timeouts {
        std::chrono::milliseconds connect; // name lookup and connection
        std::chrono::milliseconds stall;   // longest wait for the next bytes of the reply
    };

    HttpReply(QNetworkAccessManager::Operation operation, const QNetworkRequest& request,
              QNetworkCookieJar* cookies, Timeouts timeouts, QObject* parent);
    ~HttpReply() override;

    void abort() override;
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private:
    enum class Stage { Connecting, StatusLine, Headers, Body, Done };
    enum class Framing { None, Length, Chunked, UntilClose };
    enum class ChunkStage { Size, Data, DataEnd, Trailer };

    void start();
    void onConnected();
    void onReadyRead();
    void onClosed();
    void onSocketError();
    QByteArray requestHead() const;

    void parse();
    bool takeLine(QByteArray& line, qsizetype limit);
    void parseStatusLine(const QByteArray& line);
    void addHeaderLine(const QByteArray& line);
    void headersDone();
    bool parseBody();
    void deliver(qsizetype size);

    void fail(NetworkError code, const QString& text);
    void finish();

    QNetworkCookieJar* const m_cookies;
    const Timeouts m_timeouts;
    QTcpSocket* m_socket = nullptr;
    QTimer m_connectTimer;
    QTimer m_stallTimer;

    Stage m_stage = Stage::Connecting;
    Framing m_framing = Framing::None;
    ChunkStage m_chunkStage = ChunkStage::Size;
    QByteArray m_input; // received, not yet parsed
    QByteArray m_body;  // parsed, not yet read
    qsizetype m_headerBytes = 0;
    int m_status = 0;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    qint64 m_remaining = 0; // of the body (Length) or of the current chunk
    qint64 m_total = -1;
    qint64 m_received = 0;
};
