#include "network/network_state.h"

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>
#else
#include <QNetworkInterface>
#endif

namespace network {

#ifdef _WIN32

bool SystemNetworkState::connected() {
    // The kind of connection that the flags name does not matter, only that there is one.
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

#else

bool SystemNetworkState::connected() {
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& i : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = i.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning) &&
            !flags.testFlag(QNetworkInterface::IsLoopBack))
            return true;
    }
    return false;
}

#endif

} // namespace network
