// Name resolution off the loop thread. A lookup runs on a short-lived thread of its own, so a
// name server that never answers holds that thread and nothing else: the loop asks Done() on
// its tick. The lookup's state is shared by its owner and its thread; whichever lets go last
// frees it, so an owner may drop a lookup still running (a changed setting, the hub's end).
#pragma once

#include "platform/Network.h"
#include "platform/Threads.h"

#include <stdint.h>

namespace tavro {

class NameLookup {
public:
    // Starts resolving `host` and `port` (see platform::Network::Resolve). With no thread the
    // lookup is done at once with error::notEnoughMemory; null only when no memory at all.
    static NameLookup* Start(platform::Network& network, platform::Threads& threads,
                             const char* host, uint16_t port, bool datagram);

    // Whether the result is there; Result is valid once it is.
    bool Done() const;
    uint32_t Result(platform::SocketAddress& address) const;

    // The owner lets go (the object may be freed at once).
    virtual void Release() = 0;

protected:
    NameLookup() = default;
    ~NameLookup() = default;
};

// Owns at most one lookup: Restart drops the one running.
class LookupHolder {
public:
    LookupHolder() = default;
    ~LookupHolder() { Reset(); }
    LookupHolder(const LookupHolder&) = delete;
    LookupHolder& operator=(const LookupHolder&) = delete;

    void Start(platform::Network& network, platform::Threads& threads, const char* host,
               uint16_t port, bool datagram) {
        Reset();
        lookup_ = NameLookup::Start(network, threads, host, port, datagram);
    }
    bool Running() const { return lookup_ != nullptr; }
    // True once the lookup is done, with its result (the holder is then empty).
    bool Take(uint32_t& result, platform::SocketAddress& address) {
        if (lookup_ == nullptr || !lookup_->Done()) {
            return false;
        }
        result = lookup_->Result(address);
        Reset();
        return true;
    }
    void Reset() {
        if (lookup_ != nullptr) {
            lookup_->Release();
            lookup_ = nullptr;
        }
    }

private:
    NameLookup* lookup_ = nullptr;
};

} // namespace tavro
