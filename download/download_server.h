#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>

// How long a request may take and how much it may bring before it ends as an error.
struct TransferLimits {
    // Name lookup and connection.
    std::chrono::milliseconds connect{15'000};
    // A transfer whose rate stays below `slowBytesPerSecond` for `slowTime` ends: this covers a
    // silent server and one that trickles alike. Whole seconds.
    std::chrono::seconds slowTime{30};
    long slowBytesPerSecond = 1024;
    // The largest body taken.
    qint64 maxBody = qint64(4) << 30;
    // All header lines of one reply (interim replies and trailers included).
    qint64 maxHead = 256 * 1024;
};

// Where the documents archive comes from and the limits of its requests. The program uses these
// defaults; the tests point them at a server of their own and shorten the limits.
struct DownloadServer {
    // Plain HTTP on the scheme's default port. The name lies in the reserved .example domain, so
    // that no one but the kit's distributor, who points it at a real server, can answer for it.
    QString baseUrl = QStringLiteral("http://download.kvarnel.example");
    TransferLimits limits;
};
