#pragma once

#include "download/download_server.h"

#include <QString>

namespace seams {
class Dialogs;
}
namespace network {
class NetworkState;
}
namespace registry {
class Registry;
}

// The outside world as the window sees it. The program hands in the real ones; the tests their own.
struct Seams {
    seams::Dialogs* dialogs = nullptr;
    registry::Registry* registry = nullptr;
    QString updaterFolder; // the running executable's folder, with a trailing separator
    network::NetworkState* networkState = nullptr; // the system's internet-connection state
    DownloadServer downloadServer;                 // where the documents archive comes from
};
