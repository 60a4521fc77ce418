// The documents download end to end, from a local server through the window's command to the
// archive on disk: throughput, and how far the process's peak memory grows with the archive.
//
//   bench_download [MiB...]     (default: 16 64 256)

#include "support/fake_network_state.h"
#include "support/scripted_http_server.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>

#include <sys/resource.h>

#include <cstdio>

namespace {

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// Sends the body a few MiB at a time, so that the server holds no copy of the archive.
void stream(QTcpSocket* socket, qint64 size) {
    const QByteArray block(1 << 20, 'z');
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n");
    auto sent = std::make_shared<qint64>(0);
    const auto topUp = [socket, size, sent, block] {
        while (*sent < size && socket->bytesToWrite() < 4 * block.size()) {
            const qint64 piece = std::min<qint64>(block.size(), size - *sent);
            socket->write(block.constData(), piece);
            *sent += piece;
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    topUp();
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QByteArray(argv[i]).toLongLong());
    if (sizes.isEmpty())
        sizes = {16, 64, 256};

    // The first run loads what Qt loads once (plugins, fonts); it is not reported.
    sizes.prepend(1);
    std::printf("%10s %10s %10s %18s\n", "MiB", "seconds", "MiB/s", "peak RSS growth");
    for (qsizetype run = 0; run < sizes.size(); ++run) {
        const qint64 mib = sizes[run];
        const qint64 size = mib << 20;
        QTemporaryDir cwd;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        ScriptedHttpServer server;
        FakeNetworkState network;
        server.respond = [size](QTcpSocket* socket, const ScriptedHttpServer::Request& request) {
            if (request.method() == "HEAD")
                socket->write(ScriptedHttpServer::head("HTTP/1.1 200 OK",
                                                       {"Content-Length: " + QByteArray::number(size)}));
            else
                stream(socket, size);
        };
        WindowFixture f(QString(), [&](Seams& seams) {
            seams.networkState = &network;
            seams.downloadServer.baseUrl = server.baseUrl();
        });
        const double peakBefore = peakMiB();
        QElapsedTimer timer;
        timer.start();
        f.ui().Button2->click();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double growth = peakMiB() - peakBefore;
        const qint64 saved = QFileInfo(cwd.filePath(QStringLiteral("res/ver_1_3.zip"))).size();
        QDir::setCurrent(previous);
        if (saved != size) {
            std::fprintf(stderr, "download of %lld MiB failed (%lld bytes saved)\n", mib, saved);
            return 1;
        }
        if (run > 0)
            std::printf("%10lld %10.2f %10.1f %14.1f MiB\n", mib, seconds, double(mib) / seconds, growth);
    }
    return 0;
}
