#pragma once

#include "download/download_server.h"
#include "download/http_client.h"

#include <QString>

namespace seams {
class Dialogs;
}
namespace network {
class NetworkState;
}
namespace seams {
class WindowControls;
}
namespace seams {
class WindowQueue;
}

namespace download {

// The hidden documents download: the archive of documents over plain HTTP into "res/ver_1_3.zip"
// under the current directory, its progress posted to the window.
class DocumentsDownload {
public:
    struct Context {
        seams::Dialogs& dialogs;
        network::NetworkState* networkState = nullptr; // the system's internet-connection state
        DownloadServer server;
        seams::WindowControls& controls;
        seams::WindowQueue& queue;
    };
    explicit DocumentsDownload(const Context& context);

    // Button2: the archive downloaded; on success the update command is enabled and this one not.
    void downloadDocuments();
    bool InternetConnected();
    // The client's work notifications, posted as progress messages.
    void IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCountMax);
    void IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount);

private:
    seams::Dialogs& m_dialogs;
    network::NetworkState* const m_networkState;
    const DownloadServer m_server;
    seams::WindowControls& m_controls;
    seams::WindowQueue& m_queue;

public:
    // The HTTP client of the download; its cookies last as long as this object.
    HttpClient IdHTTP1;
};

} // namespace download
