#include "download/http_client.h"

#include "download/download_server.h"

#include "platform/error.h"

#include <QEventLoop>
#include <QNetworkRequest>
#include <QUrl>

#include <exception>
#include <memory>

using namespace std::chrono_literals;

HttpClient::HttpClient(QObject* parent)
    : QNetworkAccessManager(parent)
    , m_timeouts{DownloadServer().connectTimeout, DownloadServer().stallTimeout} {
    // Only for what Qt's own backend serves; HttpReply never follows a redirect.
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void HttpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) {
    m_timeouts = {connect, stall};
}

QNetworkReply* HttpClient::createRequest(Operation operation, const QNetworkRequest& request,
                                         QIODevice* outgoingData) {
    if ((operation == GetOperation || operation == HeadOperation) &&
        request.url().scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
        return new HttpReply(operation, request, cookieJar(), m_timeouts, this);
    return QNetworkAccessManager::createRequest(operation, request, outgoingData);
}

void HttpClient::Head(const QUrl& url) {
    run(HeadOperation, url, nullptr);
}

void HttpClient::Get(const QUrl& url, const BodySink& sink) {
    run(GetOperation, url, &sink);
}

void HttpClient::cancel() {
    if (m_active)
        m_active->abort();
}

void HttpClient::run(Operation operation, const QUrl& url, const BodySink* sink) {
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    request.setRawHeader("Accept", accept);
    const std::unique_ptr<QNetworkReply> reply(operation == HeadOperation ? head(request) : get(request));
    m_active = reply.get();

    QString refused;
    std::exception_ptr sinkError;
    qint64 count = 0;
    QEventLoop loop;
    connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            return;
        if (status.toInt() < 200 || status.toInt() >= 300) {
            refused = QStringLiteral("HTTP/1.1 %1 %2")
                          .arg(status.toInt())
                          .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
            reply->abort();
            return;
        }
        if (sink) {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            Q_EMIT workBegin(WorkMode::Read, length.isValid() ? length.toLongLong() : -1);
        }
    });
    if (sink)
        connect(reply.get(), &QIODevice::readyRead, &loop, [&] {
            const QByteArray data = reply->readAll();
            if (data.isEmpty() || sinkError)
                return;
            try {
                (*sink)(data);
            } catch (...) {
                // Nothing may leave through the event loop; it is raised once the loop is done.
                sinkError = std::current_exception();
                reply->abort();
                return;
            }
            count += data.size();
            Q_EMIT work(WorkMode::Read, count);
        });
    connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    m_active = nullptr;

    if (sinkError)
        std::rethrow_exception(sinkError);
    if (!refused.isEmpty())
        throw Error(refused.toStdString());
    if (reply->error() != QNetworkReply::NoError)
        throw Error(reply->errorString().toStdString());
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        throw Error(QStringLiteral("No HTTP reply from %1").arg(url.toDisplayString()).toStdString());
}
