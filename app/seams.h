#pragma once

#include "download/download_server.h"

#include <QString>

class Dialogs;
class NetworkState;
class Registry;

// The outside world as the window sees it. The program hands in the real ones; the tests their own.
struct Seams {
    Dialogs* dialogs = nullptr;
    Registry* registry = nullptr;
    QString updaterFolder;                // the running executable's folder, with a trailing separator
    NetworkState* networkState = nullptr; // the system's internet-connection state
    DownloadServer downloadServer;        // where the documents archive comes from
};
