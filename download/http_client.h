#pragma once

#include "download/http_reply.h"

#include <QByteArrayView>
#include <QNetworkAccessManager>
#include <QPointer>

#include <chrono>
#include <functional>

class QUrl;

// The direction of a transfer that the work notifications count.
enum class WorkMode { Read, Write };

// The HTTP client of the documents download, the window's `IdHTTP1`: Qt's access manager, with its
// own cookie jar (the cookies it gets are sent back on its later requests), and with plain HTTP GET
// and HEAD served by HttpReply, so that the request carries only the headers given here. Its
// requests block: they run a local event loop until the exchange ends.
class HttpClient : public QNetworkAccessManager {
    Q_OBJECT
public:
    // The headers that every request of this client carries.
    static constexpr const char* userAgent = "Mozilla/3.0 (compatible; Indy Library)";
    static constexpr const char* accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

    using BodySink = std::function<void(QByteArrayView data)>;

    explicit HttpClient(QObject* parent = nullptr);

    // Each request ends with an error when the connection is not made within `connect`, or when
    // no bytes of the reply arrive for `stall`.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);

    // Both raise Error on every failure: no connection, a time-out, a broken reply, a cancelled
    // request, any status other than 2xx (redirects included: they are not followed). `Get` hands
    // the body to `sink` as it arrives; an Error that `sink` raises ends the transfer and is raised.
    void Head(const QUrl& url);
    void Get(const QUrl& url, const BodySink& sink);

    // Ends the request under way, if any, with an error.
    void cancel();

Q_SIGNALS:
    // The body of a GET begins: its size, or -1 when the server does not say.
    void workBegin(WorkMode mode, qint64 workCountMax);
    // Bytes of the body received so far.
    void work(WorkMode mode, qint64 workCount);

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    void run(Operation operation, const QUrl& url, const BodySink* sink);

    HttpReply::Timeouts m_timeouts;
    QPointer<QNetworkReply> m_active;
};
