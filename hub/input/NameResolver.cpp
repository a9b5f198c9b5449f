#include "hub/input/NameResolver.h"

#include "hub/settings/SourceAddress.h"
#include "platform/ErrorCodes.h"

#include <atomic>
#include <new>
#include <string.h>

namespace tavro {
namespace {

// getaddrinfo wants more than the smallest stacks.
constexpr uint32_t lookupStackSize = 256 * 1024;

class Lookup final : public NameLookup, private platform::ThreadBody {
public:
    Lookup(platform::Network& network, const char* host, uint16_t port, bool datagram)
        : network_(network), port_(port), datagram_(datagram) {
        const size_t length = host != nullptr ? strnlen(host, sizeof host_ - 1) : 0;
        memcpy(host_, host != nullptr ? host : "", length);
        host_[length] = '\0';
    }

    bool StartOn(platform::Threads& threads) {
        references_.store(2);
        if (threads.StartThread(*this, lookupStackSize)) {
            return true;
        }
        references_.store(1);
        result_ = error::notEnoughMemory;
        done_.store(true, std::memory_order_release);
        return false;
    }

    bool IsDone() const { return done_.load(std::memory_order_acquire); }
    uint32_t TakeResult(platform::SocketAddress& address) const {
        address = address_;
        return result_;
    }
    void Release() override {
        if (references_.fetch_sub(1) == 1) {
            delete this;
        }
    }

private:
    uint32_t Run() override {
        result_ = network_.Resolve(host_, port_, datagram_, address_);
        done_.store(true, std::memory_order_release);
        Release();
        return 0;
    }

    platform::Network& network_;
    char host_[sourceHostSize] = {};
    uint16_t port_;
    bool datagram_;
    platform::SocketAddress address_{};
    uint32_t result_ = error::ioPending;
    std::atomic<bool> done_{false};
    std::atomic<int> references_{1};
};

} // namespace

NameLookup* NameLookup::Start(platform::Network& network, platform::Threads& threads,
                              const char* host, uint16_t port, bool datagram) {
    auto* lookup = new (std::nothrow) Lookup(network, host, port, datagram);
    if (lookup != nullptr) {
        lookup->StartOn(threads);
    }
    return lookup;
}

bool NameLookup::Done() const {
    return static_cast<const Lookup*>(this)->IsDone();
}

uint32_t NameLookup::Result(platform::SocketAddress& address) const {
    return static_cast<const Lookup*>(this)->TakeResult(address);
}

} // namespace tavro
