// The network output under load (NetworkBench.cpp): the virtual ports' delay beside many TCP
// clients, and storms of connections against the hub's descriptors and memory.
#pragma once

#include <stdint.h>
#include <string>

namespace tavro::bench {

struct NetworkRun {
    std::string tavro;
    uint32_t seconds = 60;      // network: per phase; storm: the whole storm
    uint32_t portClients = 8;   // virtual-port clients
    uint32_t tcpClients = 100;  // network: TCP clients at once
    uint32_t tcpLimit = 0;      // "TCP Clients" to set; 0 leaves the hub's default
    uint32_t sampleSeconds = 5; // storm: how often the hub's size is read
};

// Sentences at 10 Hz for `seconds` with no TCP client, then as long with `tcpClients`: the
// virtual ports' delay in both, and whether every TCP client got every byte in order.
int NetworkDelay(const NetworkRun& run);

// For `seconds`: connect/disconnect cycles, garbage floods, a client that never reads and
// crowds beyond the client limit, while a TCP client and a virtual port read; the hub's
// descriptors and memory sampled throughout.
int Storm(const NetworkRun& run);

} // namespace tavro::bench
