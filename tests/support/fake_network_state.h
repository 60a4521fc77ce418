#pragma once

#include "network/network_state.h"

// The tests' answer to "is there a network?".
class FakeNetworkState final : public network::NetworkState {
public:
    bool connected() override {
        ++queries;
        return online;
    }
    bool online = true;
    int queries = 0;
};
