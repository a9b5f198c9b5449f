#include "hub/engine/NetworkOutput.h"

#include "common/NmeaChecksum.h"

#include "platform/ErrorCodes.h"

#include <new>
#include <string.h>

namespace tavro {
namespace {

// Accepts per wake, and bytes read from one client per wake: a storm of connections or a
// flood of bytes cannot hold the loop.
constexpr uint32_t acceptsPerWake = 64;
constexpr uint32_t receivePerWake = 4096;

// Peers read "address:port" or "[address]:port": the same host up to the last colon.
bool SameHost(const char* a, const char* b) {
    const char* aPort = strrchr(a, ':');
    const char* bPort = strrchr(b, ':');
    const size_t length = aPort != nullptr ? static_cast<size_t>(aPort - a) : strlen(a);
    const size_t bLength = bPort != nullptr ? static_cast<size_t>(bPort - b) : strlen(b);
    return length == bLength && memcmp(a, b, length) == 0;
}

} // namespace

NetworkOutput::NetworkOutput(platform::Network* network, NetworkSink& sink,
                             platform::Threads* threads)
    : network_(network), sink_(sink), threads_(threads) {}

NetworkOutput::~NetworkOutput() {
    Close();
}

void NetworkOutput::Configure(const Settings& settings, uint32_t nowMs) {
    nowMs_ = nowMs;
    write_ = settings.tcpWrite != 0;
    // A lower limit leaves the clients there; it turns away the next ones.
    const uint32_t most = network_ != nullptr && network_->ClientLimit() < clientSlots
                              ? network_->ClientLimit()
                              : clientSlots;
    limit_ = settings.tcpClients == 0 ? 1 : settings.tcpClients < most ? settings.tcpClients : most;
    if (settings.tcpPort != port_ || strncmp(settings.tcpAddress, address_, sizeof address_) != 0) {
        CloseServer();
        port_ = settings.tcpPort;
        memcpy(address_, settings.tcpAddress, sizeof address_);
        address_[sizeof address_ - 1] = '\0';
        // No port has such a number (a value edited into the settings by hand): said, not
        // tried again on every tick.
        listenError_ = port_ <= 0xFFFF ? 0 : error::invalidParameter;
        retryDue_ = true;
    }
    if (strncmp(settings.udpTarget, target_, sizeof target_) != 0) {
        CloseSender();
        targetLookup_.Reset();
        memcpy(target_, settings.udpTarget, sizeof target_);
        target_[sizeof target_ - 1] = '\0';
        datagramError_ = 0;
        retryDue_ = true;
    }
    TakeTargetLookup();
    if (network_ == nullptr || (!retryDue_ && nowMs - lastAttemptMs_ < retryMs)) {
        return;
    }
    const bool serverDue = port_ != 0 && port_ <= 0xFFFF && listener_ == platform::noSocket;
    const bool senderDue =
        target_[0] != '\0' && sender_ == platform::noSocket && !targetLookup_.Running();
    if (serverDue || senderDue) {
        lastAttemptMs_ = nowMs;
        if (serverDue) {
            OpenServer(nowMs);
        }
        if (senderDue) {
            OpenSender();
        }
    }
    retryDue_ = false;
}

void NetworkOutput::Close() {
    CloseServer();
    CloseSender();
}

bool NetworkOutput::OpenServer(uint32_t nowMs) {
    nowMs_ = nowMs;
    if (pool_ == nullptr) {
        pool_.reset(new (std::nothrow) uint8_t[clientSlots * clientBufferSize]);
        if (pool_ == nullptr) {
            listenError_ = error::notEnoughMemory;
            return false;
        }
    }
    listenError_ = network_->Listen(address_, static_cast<uint16_t>(port_), listener_);
    if (listenError_ != error::success) {
        listener_ = platform::noSocket;
        pool_.reset();
        return false;
    }
    listeningPort_ = network_->LocalPort(listener_);
    return true;
}

void NetworkOutput::CloseServer() {
    for (Connection& client : clients_) {
        if (client.socket != platform::noSocket) {
            Drop(client);
        }
    }
    if (listener_ != platform::noSocket) {
        network_->Close(listener_);
        listener_ = platform::noSocket;
    }
    listeningPort_ = 0;
    pool_.reset();
}

// A name server that does not answer must not hold the loop: the name is looked up on a
// thread of its own, and the sender opens when the answer is in (TakeTargetLookup).
void NetworkOutput::OpenSender() {
    SourceAddress target;
    const char* reason = nullptr;
    if (!ParseHostPort(target_, target, reason)) {
        datagramError_ = error::invalidParameter;
        return;
    }
    if (threads_ != nullptr) {
        targetLookup_.Start(*network_, *threads_, target.host, target.port, true);
        TakeTargetLookup();
        return;
    }
    platform::SocketAddress address;
    datagramError_ = network_->Resolve(target.host, target.port, true, address);
    if (datagramError_ == error::success) {
        datagramError_ = network_->OpenDatagram(address, sender_);
    }
    if (datagramError_ != error::success) {
        sender_ = platform::noSocket;
    }
}

void NetworkOutput::TakeTargetLookup() {
    platform::SocketAddress address;
    uint32_t result = error::success;
    if (!targetLookup_.Take(result, address)) {
        return;
    }
    datagramError_ = result == error::success ? network_->OpenDatagram(address, sender_) : result;
    if (datagramError_ != error::success) {
        sender_ = platform::noSocket;
    }
}

void NetworkOutput::CloseSender() {
    if (sender_ != platform::noSocket) {
        network_->Close(sender_);
        sender_ = platform::noSocket;
    }
}

bool NetworkOutput::OpenToNetwork() const {
    return Listening() && !platform::IsLoopbackAddress(address_);
}

uint32_t NetworkOutput::ClientCount() const {
    uint32_t count = 0;
    for (const Connection& client : clients_) {
        count += client.socket != platform::noSocket ? 1 : 0;
    }
    return count;
}

bool NetworkOutput::Client(uint32_t slot, NetworkClientInfo& info) const {
    if (slot >= clientSlots || clients_[slot].socket == platform::noSocket) {
        return false;
    }
    info = clients_[slot].info;
    return true;
}

// ---- The stream to the clients ---------------------------------------------------------------

void NetworkOutput::Relay(const uint8_t* bytes, uint32_t length) {
    if (listener_ == platform::noSocket || bytes == nullptr || length == 0) {
        return;
    }
    for (Connection& client : clients_) {
        if (client.socket == platform::noSocket) {
            continue;
        }
        if (client.count != 0) {
            Append(client, bytes, length, nowMs_);
            Flush(client, nowMs_);
            continue;
        }
        // Nothing waits: straight to the socket, and only what it does not take waits.
        uint32_t sent = 0;
        if (network_->Send(client.socket, bytes, length, sent) != error::success) {
            Drop(client);
            continue;
        }
        client.info.bytesSent += sent;
        if (sent < length) {
            Append(client, bytes + sent, length - sent, nowMs_);
        }
    }
}

// Keeps what fits, newest last. When something must go, the oldest bytes go up to the end of
// a line, so that the client goes on with a whole sentence.
void NetworkOutput::Append(Connection& client, const uint8_t* bytes, uint32_t length,
                           uint32_t nowMs) {
    if (client.count == 0 && !client.windowStalled) {
        client.waitingSinceMs = nowMs;
    }
    if (length > clientBufferSize) {
        // More than the whole buffer: only the newest lines of these bytes can stay.
        uint32_t skip = length - clientBufferSize;
        while (skip < length && bytes[skip - 1] != '\n') {
            ++skip;
        }
        client.info.bytesDropped += client.count + skip;
        client.head = 0;
        client.count = 0;
        bytes += skip;
        length -= skip;
    }
    const uint32_t room = clientBufferSize - client.count;
    if (length > room) {
        uint32_t drop = length - room;
        while (drop < client.count &&
               client.ring[(client.head + drop - 1) % clientBufferSize] != '\n') {
            ++drop;
        }
        client.head = (client.head + drop) % clientBufferSize;
        client.count -= drop;
        client.info.bytesDropped += drop;
    }
    uint32_t tail = (client.head + client.count) % clientBufferSize;
    const uint32_t first = length < clientBufferSize - tail ? length : clientBufferSize - tail;
    memcpy(client.ring + tail, bytes, first);
    memcpy(client.ring, bytes + first, length - first);
    client.count += length;
}

void NetworkOutput::Flush(Connection& client, uint32_t nowMs) {
    while (client.count != 0) {
        uint32_t span = clientBufferSize - client.head;
        if (span > client.count) {
            span = client.count;
        }
        uint32_t sent = 0;
        if (network_->Send(client.socket, client.ring + client.head, span, sent) !=
            error::success) {
            Drop(client);
            return;
        }
        if (sent != 0) {
            client.waitingSinceMs = nowMs;
        }
        client.head = (client.head + sent) % clientBufferSize;
        client.count -= sent;
        client.info.bytesSent += sent;
        if (sent < span) {
            return; // full: the loop waits for room
        }
    }
}

void NetworkOutput::SendFrame(const uint8_t* frame, uint32_t length) {
    if (sender_ == platform::noSocket || frame == nullptr || length == 0) {
        return;
    }
    const uint32_t result = network_->SendDatagram(sender_, frame, length);
    if (result == error::success) {
        ++datagramsSent_;
    } else {
        ++datagramsDropped_;
        datagramError_ = result;
    }
}

void NetworkOutput::Tick(uint32_t nowMs) {
    nowMs_ = nowMs;
    for (Connection& client : clients_) {
        if (client.socket == platform::noSocket) {
            continue;
        }
        // Bytes its system took in but its program has not read shrink the window it
        // advertises, and once it is closed bytes wait unsent in ours; a program that reads
        // keeps it open. The window is told afresh with each acknowledgement: a client
        // starts to stall only on what came after bytes went out to it (a reader's window
        // that the last sentence narrowed stands while the stream pauses).
        platform::PeerFlow flow;
        const bool fresh = client.windowMax == 0 || client.info.bytesSent != client.sentAtCheck;
        client.sentAtCheck = client.info.bytesSent;
        if (platform::peerWindowKnown && (fresh || client.windowStalled) &&
            network_->PeerWindow(client.socket, flow)) {
            client.windowMax = flow.window > client.windowMax ? flow.window : client.windowMax;
            const bool stalled =
                (flow.unsent != 0 || client.windowMax - flow.window >= unreadAllowance) &&
                (fresh || client.windowStalled);
            if (stalled && !client.windowStalled && client.count == 0) {
                client.waitingSinceMs = nowMs;
            }
            client.windowStalled = stalled;
            // The path's own round trip is the least ever seen (the system forgets its least
            // after minutes, and a client that never reads would then look prompt).
            if (flow.leastRoundTripUs != 0 && flow.leastRoundTripUs < client.roundTripFloorUs) {
                client.roundTripFloorUs = flow.leastRoundTripUs;
            }
            const bool late = (flow.roundTripUs > client.roundTripFloorUs &&
                               flow.roundTripUs - client.roundTripFloorUs >= lateAckUs) ||
                              flow.needlessResends > client.needlessResends;
            client.needlessResends = flow.needlessResends;
            if (late) {
                client.lateSinceMs = client.lateAcks ? client.lateSinceMs : nowMs;
                client.lateSeenMs = nowMs;
                client.lateAcks = true;
            } else if (client.lateAcks && nowMs - client.lateSeenMs >= stallGraceMs) {
                client.lateAcks = false; // prompt for a while: a reader after all
            }
        }
        if (Stalled(client, stallMs)) {
            ++stalled_;
            Drop(client);
        }
    }
}

bool NetworkOutput::Stalled(const Connection& client, uint32_t forMs) const {
    return client.socket != platform::noSocket && (client.count != 0 || client.windowStalled) &&
           nowMs_ - client.waitingSinceMs >= forMs;
}

NetworkOutput::Connection* NetworkOutput::MakeRoom(const char* peer) {
    Connection* stalled = nullptr;
    Connection* late = nullptr;
    for (Connection& client : clients_) {
        if (Stalled(client, stallGraceMs) &&
            (stalled == nullptr ||
             nowMs_ - client.waitingSinceMs > nowMs_ - stalled->waitingSinceMs)) {
            stalled = &client;
        }
        if (client.socket != platform::noSocket && client.lateAcks &&
            nowMs_ - client.lateSinceMs >= makeWayAfterMs &&
            (late == nullptr || nowMs_ - client.lateSinceMs > nowMs_ - late->lateSinceMs)) {
            late = &client;
        }
    }
    if (stalled != nullptr) {
        ++stalled_;
        Drop(*stalled);
        return stalled;
    }
    if (late != nullptr) {
        ++displaced_;
        Drop(*late);
        return late;
    }
    // A host holding at least two slots more than the newcomer's makes way with its
    // longest-served client, so that no one host keeps the others out.
    Connection* oldest = nullptr;
    uint32_t most = 0;
    for (Connection& client : clients_) {
        if (client.socket == platform::noSocket) {
            continue;
        }
        const uint32_t held = HostClients(client.info.peer);
        if (oldest == nullptr || held > most ||
            (held == most && nowMs_ - client.connectedMs > nowMs_ - oldest->connectedMs)) {
            oldest = &client;
            most = held;
        }
    }
    if (oldest == nullptr || most < HostClients(peer) + 2) {
        return nullptr;
    }
    ++displaced_;
    Drop(*oldest);
    return oldest;
}

uint32_t NetworkOutput::HostClients(const char* peer) const {
    uint32_t count = 0;
    for (const Connection& client : clients_) {
        count += client.socket != platform::noSocket && SameHost(client.info.peer, peer) ? 1 : 0;
    }
    return count;
}

// ---- The loop's side ---------------------------------------------------------------------------

uint32_t NetworkOutput::CollectWaits(platform::WaitEntry* entries, uint32_t capacity,
                                     uint32_t firstToken) {
    uint32_t count = 0;
    if (listener_ == platform::noSocket || entries == nullptr || capacity == 0) {
        return 0;
    }
    const bool paused = acceptError_ != 0 && nowMs_ - acceptPausedAtMs_ < acceptPauseMs;
    const platform::WaitObject accept =
        paused ? platform::noWaitObject : network_->WaitFor(listener_, platform::waitInput);
    if (accept != platform::noWaitObject) {
        entries[count++] = {accept, platform::waitInput, firstToken};
    }
    for (uint32_t slot = 0; slot < clientSlots && count < capacity; ++slot) {
        const Connection& client = clients_[slot];
        if (client.socket == platform::noSocket) {
            continue;
        }
        const uint8_t events = static_cast<uint8_t>((client.readClosed ? 0 : platform::waitInput) |
                                                    (client.count != 0 ? platform::waitOutput : 0));
        if (events == 0) {
            continue; // a read-only client with nothing waiting: the next relay tells
        }
        const platform::WaitObject object = network_->WaitFor(client.socket, events);
        if (object != platform::noWaitObject) {
            entries[count++] = {object, events, firstToken + 1 + slot};
        }
    }
    return count;
}

void NetworkOutput::Ready(uint32_t index, uint8_t events, uint32_t nowMs) {
    nowMs_ = nowMs;
    if (index == 0) {
        if (listener_ != platform::noSocket) {
            network_->Settle(listener_);
            AcceptAll(nowMs);
        }
        return;
    }
    if (index > clientSlots || clients_[index - 1].socket == platform::noSocket) {
        return;
    }
    Connection& client = clients_[index - 1];
    network_->Settle(client.socket);
    if ((events & platform::waitInput) != 0) {
        ReadFrom(client);
    }
    if (client.socket != platform::noSocket && client.count != 0) {
        Flush(client, nowMs);
    }
}

void NetworkOutput::AcceptAll(uint32_t nowMs) {
    for (uint32_t i = 0; i < acceptsPerWake; ++i) {
        platform::SocketHandle socket = platform::noSocket;
        char peer[platform::peerTextSize];
        const uint32_t accepted = network_->Accept(listener_, socket, peer);
        if (accepted != error::success) {
            if (accepted != error::noMoreItems) {
                acceptError_ = accepted; // out of descriptors: wait, do not spin
                acceptPausedAtMs_ = nowMs;
            }
            return;
        }
        acceptError_ = 0;
        Connection* free = nullptr;
        const bool room = ClientCount() < limit_;
        for (uint32_t slot = 0; room && slot < clientSlots && free == nullptr; ++slot) {
            if (clients_[slot].socket == platform::noSocket) {
                free = &clients_[slot];
                free->ring = pool_.get() + slot * clientBufferSize;
            }
        }
        if (free == nullptr && !room) {
            free = MakeRoom(peer);
        }
        if (free == nullptr) {
            ++refused_;
            network_->Close(socket); // full: taken and closed, nothing sent
            continue;
        }
        uint8_t* ring = free->ring;
        *free = Connection{};
        free->socket = socket;
        free->ring = ring;
        free->connectedMs = nowMs;
        free->waitingSinceMs = nowMs;
        free->garbageCheckedMs = nowMs;
        free->writeCheckedMs = nowMs;
        memcpy(free->info.peer, peer, sizeof peer);
    }
}

void NetworkOutput::ReadFrom(Connection& client) {
    uint8_t bytes[1024];
    for (uint32_t total = 0; total < receivePerWake;) {
        uint32_t got = 0;
        const uint32_t received = network_->Receive(client.socket, bytes, sizeof bytes, got);
        if (received == error::handleEof) {
            // Its sending side is closed; it may still read (a failed send tells when not).
            client.readClosed = true;
            return;
        }
        if (received != error::success) {
            Drop(client); // gone
            return;
        }
        if (got == 0) {
            return;
        }
        total += got;
        for (uint32_t i = 0; i < got; ++i) {
            const uint8_t c = bytes[i];
            uint32_t rejected = 0;
            if (client.crPending && c != '\n') {
                // A CR inside a sentence: refused whole, not mended.
                client.crPending = false;
                if (!client.skipping) {
                    rejected = client.lineLength + 1;
                    client.lineLength = 0;
                    client.skipping = true;
                }
            }
            if (c == '\r') {
                client.crPending = true;
            } else if (c == '$' || c == '!') {
                // A sentence starts here, whatever came before it.
                rejected += client.lineLength;
                client.line[0] = c;
                client.lineLength = 1;
                client.skipping = false;
            } else if (c == '\n') {
                client.crPending = false;
                if (!client.skipping && !TakeLine(client)) {
                    rejected += client.lineLength;
                }
                client.lineLength = 0;
                client.skipping = false;
            } else if (client.skipping) {
                rejected += 1;
            } else if (c < 0x20 || c > 0x7E || client.lineLength + 2 >= sentenceMax) {
                // Not text, or longer than any sentence: the rest up to the next sentence goes.
                rejected = client.lineLength + 1;
                client.lineLength = 0;
                client.skipping = true;
            } else {
                client.line[client.lineLength++] = c;
            }
            if (rejected != 0 && !Tolerate(client, rejected)) {
                ++garbage_;
                Drop(client);
                return;
            }
        }
    }
}

bool NetworkOutput::Tolerate(Connection& client, uint32_t rejected) {
    const uint32_t refill = static_cast<uint32_t>(
        (uint64_t{nowMs_ - client.garbageCheckedMs} * garbageRefillPerSecond) / 1000);
    if (refill != 0) {
        client.garbageBudget = refill >= garbageAllowance - client.garbageBudget
                                   ? garbageAllowance
                                   : client.garbageBudget + refill;
        client.garbageCheckedMs = nowMs_;
    }
    if (rejected > client.garbageBudget) {
        return false;
    }
    client.garbageBudget -= rejected;
    return true;
}

bool NetworkOutput::TakeLine(Connection& client) {
    if (client.lineLength == 0) {
        return true; // an empty line: a keep-alive
    }
    if (!NmeaSentenceValid(reinterpret_cast<const char*>(client.line), client.lineLength)) {
        return false;
    }
    if (write_) {
        const uint32_t refill = (nowMs_ - client.writeCheckedMs) / (1000 / writeRate);
        if (refill != 0) {
            client.writeTokens = refill >= writeBurst - client.writeTokens
                                     ? writeBurst
                                     : client.writeTokens + refill;
            client.writeCheckedMs += refill * (1000 / writeRate);
        }
        if (client.writeTokens == 0) {
            ++client.info.sentencesLimited;
            ++rateLimited_;
            return true; // a good sentence, only too many of them
        }
        --client.writeTokens;
        uint8_t sentence[sentenceMax];
        memcpy(sentence, client.line, client.lineLength);
        sentence[client.lineLength] = '\r';
        sentence[client.lineLength + 1] = '\n';
        sink_.WriteFromNetwork(sentence, client.lineLength + 2);
    }
    return true;
}

void NetworkOutput::Drop(Connection& client) {
    network_->Close(client.socket);
    uint8_t* ring = client.ring;
    client = Connection{};
    client.ring = ring;
}

} // namespace tavro
