#include "hub/input/NetworkSource.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <string.h>

namespace tavro {
namespace {

// Ticks are 32-bit milliseconds that wrap: compare by difference.
bool Reached(uint32_t now, uint32_t when) {
    return static_cast<int32_t>(now - when) >= 0;
}

} // namespace

NetworkSource::NetworkSource(platform::Network& network, platform::Threads& threads,
                             platform::Timing& timing, const SourceAddress& address,
                             SourceRecord& record)
    : network_(network), threads_(threads), timing_(timing), address_(address), record_(record) {}

NetworkSource::~NetworkSource() {
    Close();
}

bool NetworkSource::Open() {
    platform::ClearSystemError();
    if (record_.state != SourceState::Closed) {
        return true;
    }
    if (record_.delayMs == 0) {
        record_.delayMs = firstDelayMs;
    }
    if (record_.scheduled && !Reached(Now(), record_.nextTryTick)) {
        record_.state = SourceState::Waiting;
        return true;
    }
    BeginAttempt();
    return true;
}

void NetworkSource::BeginAttempt() {
    record_.scheduled = false;
    record_.state = SourceState::Resolving;
    record_.sinceTick = Now();
    lookup_.Start(network_, threads_, address_.host, address_.port,
                  address_.kind == SourceKind::Udp);
    if (!lookup_.Running()) {
        Fail(error::notEnoughMemory);
        return;
    }
    Advance(); // a numeric address may be done already
}

SourceState NetworkSource::Tick() {
    Advance();
    return record_.state;
}

void NetworkSource::Advance() {
    platform::ClearSystemError();
    const uint32_t now = Now();
    switch (record_.state) {
    case SourceState::Resolving: {
        uint32_t result = error::success;
        platform::SocketAddress address;
        if (!lookup_.Take(result, address)) {
            return;
        }
        if (result == error::success) {
            result = address_.kind == SourceKind::Udp ? network_.OpenReceiver(address, socket_)
                                                      : network_.Connect(address, socket_);
        }
        if (result != error::success) {
            Fail(result);
        } else if (address_.kind == SourceKind::Udp) {
            record_.state = SourceState::Listening;
            record_.sinceTick = now;
        } else {
            record_.state = SourceState::Connecting;
            record_.sinceTick = now;
            Advance(); // on loopback the connection is often made already
        }
        return;
    }
    case SourceState::Connecting: {
        const uint32_t result = network_.ConnectResult(socket_);
        if (result == error::success) {
            Connected();
        } else if (result != error::ioPending) {
            Fail(result);
        } else if (now - record_.sinceTick >= connectLimitMs) {
            Fail(error::timedOut);
        }
        return;
    }
    case SourceState::Connected:
        if (now - record_.sinceTick >= stableMs) {
            record_.delayMs = firstDelayMs;
        }
        if (now - record_.lastByteTick >= silenceLimitMs) {
            Fail(error::timedOut);
        }
        return;
    case SourceState::Waiting:
        if (Reached(now, record_.nextTryTick)) {
            BeginAttempt();
        }
        return;
    case SourceState::Closed:
    case SourceState::Listening:
        return;
    }
}

void NetworkSource::Connected() {
    const uint32_t now = Now();
    record_.state = SourceState::Connected;
    record_.sinceTick = now;
    record_.lastByteTick = now;
    if (record_.connections++ != 0) {
        ++record_.reconnects;
    }
    lineStart_ = true;
    inJson_ = false;
    if (address_.kind != SourceKind::Gpsd) {
        return;
    }
    // The raw stream of one device (or of all), nothing of gpsd's own reports but its
    // greeting and answers, which Read leaves out.
    char watch[64 + sourceDeviceSize];
    platform::TextBuilder text(watch, sizeof watch);
    text.Append("?WATCH={\"enable\":true,\"raw\":1");
    if (address_.device[0] != '\0') {
        text.Append(",\"device\":\"").Append(address_.device).Append("\"");
    }
    text.Append("}\n");
    const auto length = static_cast<int>(strlen(watch));
    uint32_t sent = 0;
    const uint32_t result = network_.Send(socket_, reinterpret_cast<const uint8_t*>(watch),
                                          static_cast<uint32_t>(length), sent);
    if (result != error::success || sent != static_cast<uint32_t>(length)) {
        Fail(result != error::success ? result : error::connectionReset);
    }
}

// The back-off: the next try waits delayMs (0.5 s after a stable minute), which doubles up to
// 30 s for the try after.
void NetworkSource::Fail(uint32_t error) {
    const uint32_t now = Now();
    const bool wasStable =
        record_.state == SourceState::Connected && now - record_.sinceTick >= stableMs;
    CloseSocket();
    lookup_.Reset();
    if (error != error::success) {
        const platform::SystemError failure = platform::SystemErrorOf(error);
        record_.lastError = failure.code;
        record_.lastOsError = failure.osCode;
    }
    if (wasStable || record_.delayMs == 0) {
        record_.delayMs = firstDelayMs;
    }
    record_.nextTryTick = now + record_.delayMs;
    record_.delayMs = record_.delayMs * 2 < maxDelayMs ? record_.delayMs * 2 : maxDelayMs;
    record_.scheduled = true;
    record_.state = SourceState::Waiting;
}

void NetworkSource::CloseSocket() {
    if (socket_ != platform::noSocket) {
        network_.Close(socket_);
        socket_ = platform::noSocket;
    }
    datagramLength_ = 0;
    datagramOffset_ = 0;
}

void NetworkSource::Close() {
    if (record_.state != SourceState::Closed && record_.state != SourceState::Waiting) {
        Fail(error::success);
    }
    CloseSocket();
    lookup_.Reset();
    record_.state = SourceState::Closed;
}

uint32_t NetworkSource::Queued(uint32_t& bytes) {
    bytes = datagramLength_ - datagramOffset_;
    return error::success;
}

uint32_t NetworkSource::Read(void* buffer, uint32_t size, uint32_t& got) {
    got = 0;
    platform::ClearSystemError();
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (socket_ != platform::noSocket) {
        network_.Settle(socket_); // Windows: the event is signalled again for what stays unread
    }
    if (record_.state == SourceState::Listening) {
        if (datagramOffset_ == datagramLength_) {
            uint32_t length = 0;
            // An empty datagram, or an error an unconnected socket may report (an ICMP
            // message), is no reason to stop listening.
            if (network_.Receive(socket_, datagram_, sizeof datagram_, length) != error::success ||
                length == 0) {
                return error::success;
            }
            datagramLength_ = length;
            datagramOffset_ = 0;
            record_.bytes += length;
        }
        const uint32_t left = datagramLength_ - datagramOffset_;
        got = left < size ? left : size;
        memcpy(bytes, datagram_ + datagramOffset_, got);
        datagramOffset_ += got;
        return error::success;
    }
    if (record_.state != SourceState::Connected) {
        return error::success;
    }
    const uint32_t result = network_.Receive(socket_, bytes, size, got);
    if (result != error::success) {
        got = 0;
        Fail(result);
        return error::success;
    }
    if (got != 0) {
        record_.bytes += got;
        record_.lastByteTick = Now();
        if (address_.kind == SourceKind::Gpsd) {
            got = Filter(bytes, got);
        }
    }
    return error::success;
}

// gpsd sends its own reports as JSON lines ({"class":...}) between the raw ones: only the
// receiver's lines go on.
uint32_t NetworkSource::Filter(uint8_t* bytes, uint32_t count) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t c = bytes[i];
        if (lineStart_) {
            inJson_ = c == '{';
        }
        if (!inJson_) {
            bytes[kept++] = c;
        }
        lineStart_ = c == '\n';
    }
    return kept;
}

uint32_t NetworkSource::Write(const void* data, uint32_t size, uint32_t& written) {
    written = 0;
    platform::ClearSystemError();
    if (!SourceWritable(address_.kind)) {
        return error::accessDenied;
    }
    if (record_.state != SourceState::Connected) {
        written = size; // dropped, as bytes for a receiver whose line is down
        return error::success;
    }
    const uint32_t result =
        network_.Send(socket_, static_cast<const uint8_t*>(data), size, written);
    if (result != error::success) {
        Fail(result);
        written = size;
        return error::success;
    }
    return error::success;
}

platform::WaitObject NetworkSource::ArmArrival() {
    if (record_.state != SourceState::Connected && record_.state != SourceState::Listening) {
        return platform::noWaitObject;
    }
    return network_.WaitFor(socket_, platform::waitInput);
}

// Bytes a full socket did not take wait for the next tick's pump (50 ms): a TCP send buffer
// holds many seconds of what programs write to a receiver, and one event per socket (Windows)
// cannot tell room to send from bytes to read.
platform::WaitObject NetworkSource::WriteWait() {
    return platform::noWaitObject;
}

} // namespace tavro
