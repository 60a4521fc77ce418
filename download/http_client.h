#pragma once

#include "download/download_server.h"

#include <QByteArrayView>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;
class QUrl;

// The direction of a transfer that the work notifications count.
enum class WorkMode { Read, Write };

// The HTTP client of the documents download, the window's `IdHTTP1`, on libcurl. Each request is
// one curl transfer driven from Qt's event loop (socket notifiers and a timer), so the window
// repaints while it runs. Requests carry Host, User-Agent, Accept and the cookies that earlier
// replies to this client set, nothing else; no proxy is used and no redirect followed. The
// requests block: they run a local event loop until the exchange ends.
class HttpClient : public QObject {
    Q_OBJECT
public:
    // The headers that every request of this client carries.
    static constexpr const char* userAgent = "Mozilla/3.0 (compatible; Indy Library)";
    static constexpr const char* accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

    using BodySink = std::function<void(QByteArrayView data)>;

    explicit HttpClient(QObject* parent = nullptr);
    ~HttpClient() override;

    void setLimits(const TransferLimits& limits);

    // Both raise Error on every failure, worded for the operator: no connection, a time-out, a
    // reply cut short or too large, a cancelled request, any status other than 2xx (redirects
    // included). `Get` hands the body to `sink` as it arrives; an Error that `sink` raises ends
    // the transfer and is raised.
    void Head(const QUrl& url);
    void Get(const QUrl& url, const BodySink& sink);

    // Ends the request under way, if any, with an error.
    void cancel();

Q_SIGNALS:
    // The body of a GET begins: its size, or -1 when the server does not say.
    void workBegin(WorkMode mode, qint64 workCountMax);
    // Bytes of the body received so far.
    void work(WorkMode mode, qint64 workCount);

private:
    struct Transfer;
    struct Watch;
    struct Curl; // libcurl's callbacks
    friend struct Curl;

    void run(const QUrl& url, const BodySink* sink);
    void act(qintptr socket, int events);
    void watch(qintptr socket, int what);

    TransferLimits m_limits;
    void* m_multi = nullptr;
    void* m_share = nullptr; // the cookies of this client
    QTimer m_timer;
    std::map<qintptr, std::unique_ptr<Watch>> m_watches;
    Transfer* m_active = nullptr;
};
