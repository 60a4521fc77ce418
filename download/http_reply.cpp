#include "download/http_reply.h"

#include <QHash>
#include <QHostAddress>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTcpSocket>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// A reply head larger than this is no reply of a file server.
constexpr qsizetype maxHeadBytes = 64 * 1024;
constexpr qsizetype maxChunkLine = 4 * 1024;

bool isTokenCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("!#$%&'*+-.^_`|~", c);
}

bool isToken(const QByteArray& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

bool hasLineBreak(const QByteArray& text) {
    return text.contains('\r') || text.contains('\n');
}

bool isDigits(const QByteArray& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The same mapping as Qt's HTTP backend.
QNetworkReply::NetworkError errorOfStatus(int status) {
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status >= 500 && status < 600 ? QNetworkReply::UnknownServerError
                                             : QNetworkReply::UnknownContentError;
    }
}

QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

} // namespace

HttpReply::HttpReply(QNetworkAccessManager::Operation operation, const QNetworkRequest& request,
                     QNetworkCookieJar* cookies, Timeouts timeouts, QObject* parent)
    : QNetworkReply(parent)
    , m_cookies(cookies)
    , m_timeouts(timeouts) {
    setOperation(operation);
    setRequest(request);
    setUrl(request.url());
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    m_connectTimer.setSingleShot(true);
    m_stallTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this,
            [this] { fail(TimeoutError, QStringLiteral("Connection to %1 timed out").arg(url().host())); });
    connect(&m_stallTimer, &QTimer::timeout, this,
            [this] { fail(TimeoutError, QStringLiteral("Read timed out")); });
    // The caller connects to the reply's signals after it gets it; a connection to a local address
    // may succeed or fail at once.
    QMetaObject::invokeMethod(this, &HttpReply::start, Qt::QueuedConnection);
}

HttpReply::~HttpReply() = default;

void HttpReply::start() {
    if (isFinished())
        return;
    const QUrl target = url();
    if (!target.isValid() || target.host().isEmpty()) {
        fail(ProtocolUnknownError, QStringLiteral("Invalid URL %1").arg(target.toDisplayString()));
        return;
    }
    for (const QByteArray& name : request().rawHeaderList())
        if (!isToken(name) || hasLineBreak(request().rawHeader(name))) {
            fail(ProtocolInvalidOperationError,
                 QStringLiteral("Invalid request header %1").arg(QString::fromLatin1(name)));
            return;
        }
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &HttpReply::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpReply::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpReply::onClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpReply::onSocketError);
    m_connectTimer.start(m_timeouts.connect);
    m_socket->connectToHost(target.host(), quint16(target.port(80)));
}

QByteArray HttpReply::requestHead() const {
    const QUrl target = url();
    QByteArray path = target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (path.isEmpty() || path.startsWith('?'))
        path.prepend('/');

    const QString hostName = target.host();
    QByteArray host;
    QHostAddress address;
    if (address.setAddress(hostName))
        host = address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + hostName.toLatin1() + ']'
                                                                   : hostName.toLatin1();
    else
        host = QUrl::toAce(hostName);
    if (target.port() != -1)
        host += ':' + QByteArray::number(target.port());

    const QByteArray verb = operation() == QNetworkAccessManager::HeadOperation ? "HEAD" : "GET";
    QByteArray head = verb + ' ' + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    bool hasCookies = false;
    for (const QByteArray& name : request().rawHeaderList()) {
        if (name.compare("Host", Qt::CaseInsensitive) == 0)
            continue;
        hasCookies = hasCookies || name.compare("Cookie", Qt::CaseInsensitive) == 0;
        head += name + ": " + request().rawHeader(name) + "\r\n";
    }
    if (m_cookies && !hasCookies) {
        QList<QByteArray> pairs;
        for (const QNetworkCookie& cookie : m_cookies->cookiesForUrl(target))
            pairs.append(cookie.toRawForm(QNetworkCookie::NameAndValueOnly));
        if (!pairs.isEmpty())
            head += "Cookie: " + pairs.join("; ") + "\r\n";
    }
    return head + "\r\n";
}

void HttpReply::onConnected() {
    if (m_stage != Stage::Connecting)
        return;
    m_connectTimer.stop();
    m_stage = Stage::StatusLine;
    m_stallTimer.start(m_timeouts.stall);
    m_socket->write(requestHead());
}

void HttpReply::onReadyRead() {
    if (m_stage == Stage::Done)
        return;
    m_stallTimer.start(m_timeouts.stall);
    m_input += m_socket->readAll();
    parse();
}

void HttpReply::onClosed() {
    if (m_stage == Stage::Done)
        return;
    m_input += m_socket->readAll();
    parse();
    if (m_stage == Stage::Done)
        return;
    if (m_stage == Stage::Body && m_framing == Framing::UntilClose)
        finish();
    else if (m_stage == Stage::Body)
        fail(RemoteHostClosedError, QStringLiteral("Connection closed before the reply was complete"));
    else
        fail(RemoteHostClosedError, QStringLiteral("Connection closed without a reply"));
}

void HttpReply::onSocketError() {
    if (m_stage == Stage::Done)
        return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError) {
        onClosed();
        return;
    }
    fail(errorOfSocket(m_socket->error()), m_socket->errorString());
}

bool HttpReply::takeLine(QByteArray& line, qsizetype limit) {
    const qsizetype end = m_input.indexOf('\n');
    if (end < 0) {
        if (m_input.size() > limit)
            fail(ProtocolFailure, QStringLiteral("Reply line too long"));
        return false;
    }
    if (end > limit) {
        fail(ProtocolFailure, QStringLiteral("Reply line too long"));
        return false;
    }
    line = m_input.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    m_input.remove(0, end + 1);
    return true;
}

void HttpReply::parse() {
    QByteArray line;
    while (m_stage != Stage::Done) {
        if (m_stage == Stage::StatusLine || m_stage == Stage::Headers) {
            if (!takeLine(line, maxHeadBytes - m_headerBytes))
                return;
            m_headerBytes += line.size() + 2;
            if (m_stage == Stage::StatusLine)
                parseStatusLine(line);
            else if (line.isEmpty())
                headersDone();
            else
                addHeaderLine(line);
        } else if (m_stage == Stage::Body) {
            if (!parseBody())
                return;
        } else {
            return; // still connecting: nothing can have arrived
        }
    }
}

void HttpReply::parseStatusLine(const QByteArray& line) {
    // HTTP/1.x SP three digits [SP reason]
    const bool versionOk = line.size() >= 12 && line.startsWith("HTTP/1.") && line[7] >= '0' &&
                           line[7] <= '9' && line[8] == ' ' && isDigits(line.mid(9, 3)) &&
                           (line.size() == 12 || line[12] == ' ');
    if (!versionOk) {
        fail(ProtocolFailure, QStringLiteral("Invalid status line"));
        return;
    }
    m_status = line.mid(9, 3).toInt();
    m_reason = line.mid(13);
    m_headers.clear();
    m_stage = Stage::Headers;
}

void HttpReply::addHeaderLine(const QByteArray& line) {
    if (line[0] == ' ' || line[0] == '\t') {
        // An obsolete continuation line belongs to the header before it.
        if (m_headers.isEmpty()) {
            fail(ProtocolFailure, QStringLiteral("Invalid header line"));
            return;
        }
        m_headers.last().second += ' ' + line.trimmed();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon);
    if (colon <= 0 || !isToken(name)) {
        fail(ProtocolFailure, QStringLiteral("Invalid header line"));
        return;
    }
    m_headers.append({name, line.mid(colon + 1).trimmed()});
}

void HttpReply::headersDone() {
    if (m_status >= 100 && m_status < 200) {
        if (m_status == 101) {
            fail(ProtocolFailure, QStringLiteral("Unexpected protocol switch"));
            return;
        }
        m_stage = Stage::StatusLine; // an interim reply; the real one follows
        return;
    }

    // Headers of one name, in the order of their first appearance, under the first spelling.
    struct Grouped {
        QByteArray name;
        QByteArray separator; // cookies one per line, the others as a list
        QList<QByteArray> values;
    };
    QList<Grouped> grouped;
    QHash<QByteArray, qsizetype> groupOf; // lower-case name -> index in `grouped`
    QList<QByteArray> lengths;
    QByteArray transferEncoding;
    for (const auto& [name, value] : std::as_const(m_headers)) {
        const QByteArray lower = name.toLower();
        if (lower == "set-cookie" && m_cookies)
            m_cookies->setCookiesFromUrl(QNetworkCookie::parseCookies(value), url());
        else if (lower == "content-length")
            for (const QByteArray& part : value.split(','))
                lengths.append(part.trimmed());
        else if (lower == "transfer-encoding")
            transferEncoding += (transferEncoding.isEmpty() ? "" : ",") + value;
        auto group = groupOf.constFind(lower);
        if (group == groupOf.cend()) {
            group = groupOf.insert(lower, grouped.size());
            grouped.append({name, lower == "set-cookie" ? "\n" : ", ", {}});
        }
        grouped[*group].values.append(value);
    }
    for (const Grouped& group : std::as_const(grouped))
        setRawHeader(group.name, group.values.join(group.separator));
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));

    const bool noBody =
        operation() == QNetworkAccessManager::HeadOperation || m_status == 204 || m_status == 304;
    if (!transferEncoding.isEmpty()) {
        // The last coding decides how the body ends; chunked or not, any length given is void.
        const QList<QByteArray> codings = transferEncoding.split(',');
        m_framing = codings.last().trimmed().toLower() == "chunked" ? Framing::Chunked : Framing::UntilClose;
    } else if (!lengths.isEmpty()) {
        if (!isDigits(lengths.first()) || lengths.first().size() > 18 ||
            lengths.count(lengths.first()) != lengths.size()) {
            fail(ProtocolFailure, QStringLiteral("Invalid Content-Length"));
            return;
        }
        m_total = lengths.first().toLongLong();
        setHeader(QNetworkRequest::ContentLengthHeader, m_total);
        m_framing = Framing::Length;
        m_remaining = m_total;
    } else {
        m_framing = Framing::UntilClose;
    }
    if (noBody)
        m_framing = Framing::None;

    if (m_status >= 400)
        setError(errorOfStatus(m_status), QStringLiteral("Error transferring %1 - server replied: %2")
                                              .arg(url().toDisplayString(), QString::fromLatin1(m_reason)));
    m_stage = Stage::Body;
    Q_EMIT metaDataChanged();
    if (m_stage == Stage::Done)
        return; // the reader gave up on this reply
    if (m_framing == Framing::None || (m_framing == Framing::Length && m_remaining == 0))
        finish();
}

bool HttpReply::parseBody() {
    switch (m_framing) {
    case Framing::None:
        finish();
        return true;
    case Framing::UntilClose:
        if (m_input.isEmpty())
            return false;
        deliver(m_input.size());
        return true;
    case Framing::Length: {
        const qsizetype size = qsizetype(std::min<qint64>(m_remaining, m_input.size()));
        if (size == 0)
            return false;
        deliver(size);
        m_remaining -= size;
        if (m_remaining == 0 && m_stage != Stage::Done)
            finish();
        return true;
    }
    case Framing::Chunked:
        break;
    }

    QByteArray line;
    switch (m_chunkStage) {
    case ChunkStage::Size: {
        if (!takeLine(line, maxChunkLine))
            return false;
        const qsizetype extension = line.indexOf(';');
        const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
        bool ok = digits.size() <= 15 && std::all_of(digits.begin(), digits.end(),
                                                     [](char c) { return std::isxdigit((unsigned char)c); });
        const qint64 size = ok ? digits.toLongLong(&ok, 16) : 0;
        if (!ok) {
            fail(ProtocolFailure, QStringLiteral("Invalid chunk size"));
            return false;
        }
        m_remaining = size;
        m_chunkStage = size == 0 ? ChunkStage::Trailer : ChunkStage::Data;
        return true;
    }
    case ChunkStage::Data: {
        const qsizetype size = qsizetype(std::min<qint64>(m_remaining, m_input.size()));
        if (size == 0)
            return false;
        deliver(size);
        m_remaining -= size;
        if (m_remaining == 0)
            m_chunkStage = ChunkStage::DataEnd;
        return true;
    }
    case ChunkStage::DataEnd:
        if (!takeLine(line, maxChunkLine))
            return false;
        if (!line.isEmpty()) {
            fail(ProtocolFailure, QStringLiteral("Invalid chunk end"));
            return false;
        }
        m_chunkStage = ChunkStage::Size;
        return true;
    case ChunkStage::Trailer:
        if (!takeLine(line, maxChunkLine))
            return false;
        if (line.isEmpty())
            finish();
        return true;
    }
    return false;
}

void HttpReply::deliver(qsizetype size) {
    m_body += m_input.left(size);
    m_input.remove(0, size);
    m_received += size;
    Q_EMIT readyRead();
    if (m_stage != Stage::Done)
        Q_EMIT downloadProgress(m_received, m_total);
}

qint64 HttpReply::bytesAvailable() const {
    return m_body.size() + QNetworkReply::bytesAvailable();
}

qint64 HttpReply::readData(char* data, qint64 maxSize) {
    const qsizetype size = qsizetype(std::min<qint64>(maxSize, m_body.size()));
    if (size == 0)
        return m_stage == Stage::Done ? -1 : 0;
    std::memcpy(data, m_body.constData(), size_t(size));
    m_body.remove(0, size);
    return size;
}

void HttpReply::abort() {
    fail(OperationCanceledError, QStringLiteral("Operation canceled"));
}

void HttpReply::fail(NetworkError code, const QString& text) {
    if (m_stage == Stage::Done)
        return;
    setError(code, text);
    finish();
}

void HttpReply::finish() {
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    m_connectTimer.stop();
    m_stallTimer.stop();
    if (m_socket) {
        // Nothing more goes over this connection, and what is still to come is of no use.
        m_socket->disconnect(this);
        m_socket->abort();
    }
    setFinished(true);
    if (error() != NoError)
        Q_EMIT errorOccurred(error());
    Q_EMIT finished();
}
