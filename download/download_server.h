#pragma once

#include <QString>

#include <chrono>

// Where the documents archive comes from and how long its requests may wait. The program uses
// these defaults; the tests point them at a server of their own and shorten the waits.
struct DownloadServer {
    // Plain HTTP on the scheme's default port. The name lies in the reserved .example domain, so
    // that no one but the kit's distributor, who points it at a real server, can answer for it.
    QString baseUrl = QStringLiteral("http://download.kvarnel.example");
    // Name lookup and connection.
    std::chrono::milliseconds connectTimeout{15'000};
    // Longest silence of the server while a reply is awaited or its body arrives.
    std::chrono::milliseconds stallTimeout{30'000};
};
