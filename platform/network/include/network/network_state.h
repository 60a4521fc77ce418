#pragma once

namespace network {

// Whether the system has a way to the internet at all. The download asks before it sends anything;
// the tests answer for the system.
class NetworkState {
public:
    virtual ~NetworkState() = default;
    virtual bool connected() = 0;
};

// WinINet's connection state on Windows; elsewhere, whether a network interface other than the
// loopback one is up and running.
class SystemNetworkState final : public NetworkState {
public:
    bool connected() override;
};

} // namespace network
