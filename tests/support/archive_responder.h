#pragma once

#include "support/scripted_http_server.h"

#include <QByteArray>
#include <QTcpSocket>

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
