#pragma once

#include "support/registry_fixture.h"
#include "support/scripted_http_server.h"

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// Answers HEAD with the archive's size and GET with the archive, framed as asked.
inline ScriptedHttpServer::Responder serve(const QByteArray& archive, const QByteArray& framing = "length") {
    return [archive, framing](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
        const QByteArray length = "Content-Length: " + QByteArray::number(archive.size());
        if (request.method() == "HEAD") {
            socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {length}));
        } else if (framing == "length") {
            socket->write(ScriptedHttpServer::ok(archive));
        } else if (framing == "chunked") {
            QByteArray body;
            for (qsizetype at = 0; at < archive.size(); at += 4096) {
                const QByteArray chunk = archive.mid(at, 4096);
                body += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
            }
            socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + body +
                          "0\r\n\r\n");
        } else {
            socket->write("HTTP/1.0 200 OK\r\n\r\n" + archive);
            socket->disconnectFromHost();
        }
    };
}

// The framings a reply body comes in, with the maximum the first progress message sets for each.
inline void addFramingRows() {
    QTest::addColumn<QByteArray>("framing");
    QTest::addColumn<int>("announced");
    QTest::newRow("length") << QByteArray("length") << 300'000;
    QTest::newRow("chunked: size unknown") << QByteArray("chunked") << 0;
    QTest::newRow("until close: size unknown") << QByteArray("close") << 0;
}

// A current directory of the download's own for as long as it lives; the archive goes to its res.
struct DownloadFolder {
    DownloadFolder() { QDir::setCurrent(cwd.path()); }
    ~DownloadFolder() { QDir::setCurrent(previous); }

    // Everything in the current directory, hidden files too.
    QStringList entries() const {
        return QDir(cwd.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString archive() const { return cwd.filePath(QStringLiteral("res/ver_1_3.zip")); }
    void writeArchive(const QByteArray& content) {
        QDir(cwd.path()).mkdir(QStringLiteral("res"));
        writeBytes(archive(), content);
    }

    const QString previous = QDir::currentPath();
    QTemporaryDir cwd;
};
