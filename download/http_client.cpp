#include "download/http_client.h"

#include "base/error.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QUrl>

#include <curl/curl.h>

#include <exception>

using base::Error;

namespace {

void initialiseCurl() {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initialised != CURLE_OK)
        throw Error("Не удалось подготовить библиотеку HTTP (libcurl)");
}

template <typename T> void set(CURL* easy, CURLoption option, T value) {
    if (const CURLcode code = curl_easy_setopt(easy, option, value); code != CURLE_OK)
        throw Error(QStringLiteral("Библиотека HTTP отвергла настройку %1: %2")
                        .arg(int(option))
                        .arg(QString::fromUtf8(curl_easy_strerror(code)))
                        .toStdString());
}

} // namespace

struct HttpClient::Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct HttpClient::Transfer {
    HttpClient* client = nullptr;
    CURL* easy = nullptr;
    const BodySink* sink = nullptr; // none for HEAD
    QString host;
    QEventLoop loop;
    bool done = false;
    CURLcode result = CURLE_OK;

    QByteArray statusLine; // of the last reply head
    bool headDone = false; // the final reply's head is in
    bool refused = false;  // its status is no success
    bool headTooLarge = false;
    bool bodyTooLarge = false;
    bool cancelled = false;
    std::exception_ptr sinkError;
    qint64 headBytes = 0;
    qint64 received = 0;
    char curlError[CURL_ERROR_SIZE] = {};
};

struct HttpClient::Curl {
    static int onSocket(CURL*, curl_socket_t socket, int what, void* client, void*) {
        static_cast<HttpClient*>(client)->watch(qintptr(socket), what);
        return 0;
    }

    static int onTimer(CURLM*, long milliseconds, void* client) {
        auto* self = static_cast<HttpClient*>(client);
        if (milliseconds < 0)
            self->m_timer.stop();
        else
            self->m_timer.start(int(milliseconds));
        return 0;
    }

    // Every line of every reply head, trailers included. A reply is judged when its head is in.
    static size_t onHeader(char* data, size_t size, size_t count, void* transferData) {
        auto* t = static_cast<Transfer*>(transferData);
        const size_t n = size * count;
        if (t->cancelled)
            return 0;
        t->headBytes += qint64(n);
        if (t->headBytes > t->client->m_limits.maxHead) {
            t->headTooLarge = true;
            return 0;
        }
        if (t->headDone)
            return n;
        const QByteArrayView line(data, qsizetype(n));
        if (line.startsWith("HTTP/"))
            t->statusLine = line.toByteArray().trimmed();
        if (line != "\r\n" && line != "\n")
            return n;
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 100 && status < 200 && status != 101)
            return n; // an interim reply; the real one follows
        if (status < 200 || status >= 300) {
            t->refused = true;
            return 0;
        }
        t->headDone = true;
        if (t->sink) {
            curl_off_t length = -1;
            curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            Q_EMIT t->client->workBegin(WorkMode::Read, length < 0 ? -1 : qint64(length));
        }
        return n;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* transferData) {
        auto* t = static_cast<Transfer*>(transferData);
        const size_t n = size * count;
        if (n == 0)
            return 0;
        if (t->cancelled || !t->sink || !t->headDone)
            return 0;
        if (t->received + qint64(n) > t->client->m_limits.maxBody) {
            t->bodyTooLarge = true;
            return 0;
        }
        try {
            (*t->sink)(QByteArrayView(data, qsizetype(n)));
        } catch (...) {
            // Nothing may leave through libcurl; it is raised once the transfer is over.
            t->sinkError = std::current_exception();
            return 0;
        }
        t->received += qint64(n);
        Q_EMIT t->client->work(WorkMode::Read, t->received);
        return n;
    }
};

HttpClient::HttpClient(QObject* parent)
    : QObject(parent) {
    initialiseCurl();
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    if (!m_multi || !m_share)
        throw Error("Не удалось подготовить библиотеку HTTP (libcurl)");
    // The cookies of one client go to all its transfers, and only to them.
    curl_share_setopt(static_cast<CURLSH*>(m_share), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_multi_setopt(static_cast<CURLM*>(m_multi), CURLMOPT_SOCKETFUNCTION, &Curl::onSocket);
    curl_multi_setopt(static_cast<CURLM*>(m_multi), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(static_cast<CURLM*>(m_multi), CURLMOPT_TIMERFUNCTION, &Curl::onTimer);
    curl_multi_setopt(static_cast<CURLM*>(m_multi), CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(qintptr(CURL_SOCKET_TIMEOUT), 0); });
}

HttpClient::~HttpClient() {
    curl_multi_cleanup(static_cast<CURLM*>(m_multi));
    curl_share_cleanup(static_cast<CURLSH*>(m_share));
}

void HttpClient::setLimits(const TransferLimits& limits) {
    m_limits = limits;
}

void HttpClient::Head(const QUrl& url) {
    run(url, nullptr);
}

void HttpClient::Get(const QUrl& url, const BodySink& sink) {
    run(url, &sink);
}

void HttpClient::cancel() {
    if (!m_active)
        return;
    m_active->cancelled = true;
    m_active->done = true;
    m_active->loop.quit();
}

// libcurl names the sockets it waits on; each gets a notifier for what it waits for.
void HttpClient::watch(qintptr socket, int what) {
    if (what == CURL_POLL_REMOVE) {
        const auto found = m_watches.find(socket);
        if (found == m_watches.end())
            return;
        // The notifier may be the one whose signal runs now: it goes once the loop is back.
        for (std::unique_ptr<QSocketNotifier>* notifier : {&found->second->read, &found->second->write}) {
            if (*notifier) {
                (*notifier)->setEnabled(false);
                (*notifier)->disconnect(this);
                notifier->release()->deleteLater();
            }
        }
        m_watches.erase(found);
        return;
    }
    std::unique_ptr<Watch>& w = m_watches[socket];
    if (!w) {
        w = std::make_unique<Watch>();
        w->read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        w->write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        connect(w->read.get(), &QSocketNotifier::activated, this,
                [this, socket] { act(socket, CURL_CSELECT_IN); });
        connect(w->write.get(), &QSocketNotifier::activated, this,
                [this, socket] { act(socket, CURL_CSELECT_OUT); });
    }
    w->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    w->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void HttpClient::act(qintptr socket, int events) {
    int running = 0;
    curl_multi_socket_action(static_cast<CURLM*>(m_multi), curl_socket_t(socket), events, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(static_cast<CURLM*>(m_multi), &left)) {
        if (message->msg != CURLMSG_DONE || !m_active || message->easy_handle != m_active->easy)
            continue;
        m_active->result = message->data.result;
        m_active->done = true;
        m_active->loop.quit();
    }
}

namespace {

[[noreturn]] void fail(const QString& text) {
    throw Error(text.toStdString());
}

QString seconds(std::chrono::milliseconds time) {
    return QString::number(double(time.count()) / 1000.0);
}

} // namespace

void HttpClient::run(const QUrl& url, const BodySink* sink) {
    if (m_active)
        throw Error("Загрузка уже идёт");
    Transfer t;
    t.client = this;
    t.sink = sink;
    t.host = url.host();
    const std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), &curl_easy_cleanup);
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(nullptr, (QByteArray("Accept: ") + accept).constData()), &curl_slist_free_all);
    if (!easy || !headers)
        throw Error("Не удалось подготовить запрос HTTP (libcurl)");
    t.easy = easy.get();
    CURL* e = easy.get();
    set(e, CURLOPT_URL, url.toEncoded(QUrl::RemoveFragment).constData());
    set(e, CURLOPT_PROTOCOLS_STR, "http,https");
    set(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(e, CURLOPT_NOBODY, long(sink ? 0 : 1));
    // Neither a configured nor an environment proxy: the request goes to the server itself.
    set(e, CURLOPT_PROXY, "");
    set(e, CURLOPT_FOLLOWLOCATION, 0L);
    set(e, CURLOPT_USERAGENT, userAgent);
    // A header of our own replaces curl's "Accept: */*".
    set(e, CURLOPT_HTTPHEADER, headers.get());
    // The body is stored as it comes; nothing asked for an encoding.
    set(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // The cookies engine, in memory only, shared by this client's transfers.
    set(e, CURLOPT_COOKIEFILE, "");
    set(e, CURLOPT_SHARE, static_cast<CURLSH*>(m_share));
    set(e, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.connect.count()));
    set(e, CURLOPT_LOW_SPEED_LIMIT, m_limits.slowBytesPerSecond);
    set(e, CURLOPT_LOW_SPEED_TIME, long(m_limits.slowTime.count()));
    set(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBody));
    // Each transfer on a connection of its own, closed when it ends.
    set(e, CURLOPT_FORBID_REUSE, 1L);
    set(e, CURLOPT_NOSIGNAL, 1L);
    set(e, CURLOPT_HEADERFUNCTION, &Curl::onHeader);
    set(e, CURLOPT_HEADERDATA, &t);
    set(e, CURLOPT_WRITEFUNCTION, &Curl::onBody);
    set(e, CURLOPT_WRITEDATA, &t);
    set(e, CURLOPT_ERRORBUFFER, t.curlError);

    if (curl_multi_add_handle(static_cast<CURLM*>(m_multi), e) != CURLM_OK)
        throw Error("Не удалось начать запрос HTTP (libcurl)");
    m_active = &t;
    if (!t.done)
        t.loop.exec();
    m_active = nullptr;
    curl_multi_remove_handle(static_cast<CURLM*>(m_multi), e);

    if (t.sinkError)
        std::rethrow_exception(t.sinkError);
    const QString server = t.host;
    if (t.cancelled)
        fail(QStringLiteral("Загрузка прервана"));
    if (t.refused)
        fail(QStringLiteral("Сервер %1 ответил «%2»").arg(server, QString::fromLatin1(t.statusLine)));
    if (t.headTooLarge)
        fail(QStringLiteral("Заголовок ответа сервера %1 больше %2 байт").arg(server).arg(m_limits.maxHead));
    if (t.bodyTooLarge || t.result == CURLE_FILESIZE_EXCEEDED)
        fail(QStringLiteral("Ответ сервера %1 больше %2 байт").arg(server).arg(m_limits.maxBody));
    switch (t.result) {
    case CURLE_OK:
        if (!t.headDone)
            fail(QStringLiteral("Сервер %1 не прислал ответа").arg(server));
        return;
    case CURLE_COULDNT_RESOLVE_HOST:
        fail(QStringLiteral("Сервер %1 не найден").arg(server));
    case CURLE_COULDNT_CONNECT:
        fail(QStringLiteral("Нет соединения с сервером %1").arg(server));
    case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0)
            fail(QStringLiteral("Сервер %1 не ответил на соединение за %2 с")
                     .arg(server, seconds(m_limits.connect)));
        fail(QStringLiteral("Сервер %1 передавал данные медленнее %2 байт/с %3 с подряд")
                 .arg(server)
                 .arg(m_limits.slowBytesPerSecond)
                 .arg(m_limits.slowTime.count()));
    }
    case CURLE_PARTIAL_FILE:
        fail(QStringLiteral("Ответ сервера %1 оборван: получены не все данные").arg(server));
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: {
        // The same codes stand for a broken reply that the connection did not break.
        long systemError = 0;
        curl_easy_getinfo(e, CURLINFO_OS_ERRNO, &systemError);
        if (systemError != 0)
            fail(QStringLiteral("Соединение с сервером %1 разорвано").arg(server));
        break;
    }
    case CURLE_GOT_NOTHING:
        fail(QStringLiteral("Сервер %1 закрыл соединение, не ответив").arg(server));
    default:
        break;
    }
    fail(QStringLiteral("Ошибка обмена с сервером %1: %2")
             .arg(server, QString::fromUtf8(t.curlError[0] ? t.curlError : curl_easy_strerror(t.result))));
}
