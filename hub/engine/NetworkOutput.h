// The receiver's stream over the network, beside the virtual ports: a TCP server ("TCP Port",
// "TCP Address") whose clients get the same bytes as a virtual port from the moment they
// connect, and UDP datagrams to "UDP Target", one per complete frame. The hub's loop waits for
// its sockets; nothing here blocks.
//
// - At most "TCP Clients" clients (32 unless set; at most clientSlots, and what the edition's
//   loop can wait on). At the limit a further connection takes the place of, in this order:
//   the client stalled longest, for stallGraceMs or more (see below); the client whose system
//   has acknowledged late (see lateAckUs: as one does for a program that does not read) for
//   makeWayAfterMs or more, with no prompt spell of stallGraceMs between; the longest-served
//   client of a host holding at least two slots more than the newcomer's (no one host keeps
//   the others out). Without any, it is taken and closed at once, with nothing sent: the
//   clients that read keep their slots.
// - Each client has a buffer of its own (clientBufferSize). A client that does not keep up
//   loses its oldest whole lines (counted), so it goes on at a sentence's start. A client
//   stalls while it takes nothing and bytes wait for it: in this buffer, unsent in this
//   system, or unread in its own, as a receive window that shrinks tells (PeerWindow, where
//   the system says). One stalled for stallMs is disconnected. The others never wait.
//   Limit: a Linux peer grows its buffer to megabytes for a program that never reads while
//   it keeps advertising the same window, so such a client looks like a reader until then
//   (hours of a slow receiver); only its late acknowledgements tell, and they make it give
//   up its slot at the limit.
// - A client that closes its sending side (a read-only client) goes on receiving.
// - Clients send nothing, or sentences: with "TCP Write" whole, checksum-valid sentences of at
//   most 82 characters (CR LF included) go to the receiver, at most writeRate a second from
//   each client after a burst of writeBurst (the rest are dropped and counted: one client
//   must not fill the receiver's line for everyone); without it they are read and dropped. A
//   sentence with any stray byte (a CR not followed by LF included) is refused whole. Anything
//   else is dropped too, up to garbageAllowance bytes, refilled at
//   garbageRefillPerSecond: programs that read any source (gpsd among them) send a few
//   receiver probes, some of them binary, when they connect, and must stay served. A client
//   that sends more than that floods, and is disconnected.
// - The server follows the settings while the hub runs: a new port or address closes it (and
//   its clients) and opens it anew; a failed open is tried again every retryMs.
#pragma once

#include "hub/input/NameResolver.h"
#include "hub/settings/Settings.h"
#include "platform/EventWait.h"
#include "platform/Network.h"

#include <memory>
#include <stdint.h>

namespace tavro {

// Where the sentences of network clients go with "TCP Write" (the input port).
class NetworkSink {
public:
    virtual ~NetworkSink() = default;
    virtual void WriteFromNetwork(const uint8_t* sentence, uint32_t length) = 0;
};

struct NetworkClientInfo {
    char peer[platform::peerTextSize] = {};
    uint64_t bytesSent = 0;
    uint64_t bytesDropped = 0;     // not sent: the client did not keep up
    uint64_t sentencesLimited = 0; // valid sentences over the write rate, not written
};

class NetworkOutput {
public:
    static constexpr uint32_t clientSlots = tcpClientsMax;
    static constexpr uint32_t clientBufferSize = 16384;
    static constexpr uint32_t sentenceMax = 82; // "$" to the checksum, CR LF included
    static constexpr uint32_t stallMs = 10000;
    // A client stalled this long may make room for a new one at the limit.
    static constexpr uint32_t stallGraceMs = 2000;
    // A system acknowledges at once what its program reads, and what it does not only when
    // its delayed acknowledgement is due: 40 ms or more on Linux, 200 ms on Windows. A client
    // acknowledges late while its round trip is this much over the path's least, or this
    // system had to send again what the client already had (PeerFlow::needlessResends).
    static constexpr uint32_t lateAckUs = 20000;
    static constexpr uint32_t makeWayAfterMs = 10000;
    // Bytes a peer's system may hold unread (its window shrunk by as much) before the client
    // counts as stalled: under 10 s of a 4800-baud receiver.
    static constexpr uint32_t unreadAllowance = 4096;
    // "TCP Write": sentences a second per client, after a burst of writeBurst.
    static constexpr uint32_t writeRate = 5;
    static constexpr uint32_t writeBurst = 20;
    static constexpr uint32_t retryMs = 5000;
    // Accepting waits this long after the system refused a connection for want of descriptors
    // or memory: what waits would be reported again at once, and the loop would spin.
    static constexpr uint32_t acceptPauseMs = 1000;
    static constexpr uint32_t garbageAllowance = 2048;
    static constexpr uint32_t garbageRefillPerSecond = 128;
    // Entries of CollectWaits at most: the listener and every client.
    static constexpr uint32_t waitCapacity = 1 + clientSlots;

    // `network` null: there is no network output on this system.
    // "UDP Target" is resolved on a thread of `threads` (null: at once, on the caller's).
    NetworkOutput(platform::Network* network, NetworkSink& sink,
                  platform::Threads* threads = nullptr);
    ~NetworkOutput();
    NetworkOutput(const NetworkOutput&) = delete;
    NetworkOutput& operator=(const NetworkOutput&) = delete;

    // Follows "TCP Port", "TCP Address", "UDP Target" and "TCP Write" (every tick; cheap
    // while they stay). `nowMs`: the tick count, for the retries.
    void Configure(const Settings& settings, uint32_t nowMs);
    // Closes the server, its clients and the UDP sender.
    void Close();

    // Receiver bytes as the virtual ports get them: to every client.
    void Relay(const uint8_t* bytes, uint32_t length);
    // One complete frame: one datagram to "UDP Target".
    void SendFrame(const uint8_t* frame, uint32_t length);

    // Stalled clients go.
    void Tick(uint32_t nowMs);

    // What the loop waits on: tokens `firstToken` (the listener) and `firstToken` + 1 + slot.
    uint32_t CollectWaits(platform::WaitEntry* entries, uint32_t capacity, uint32_t firstToken);
    // Entry `index` (token less firstToken) is ready for `events`.
    void Ready(uint32_t index, uint8_t events, uint32_t nowMs);

    // ---- State, for the status report and the main window -------------------------------
    bool Listening() const { return listener_ != platform::noSocket; }
    uint16_t ListeningPort() const { return listeningPort_; }
    const char* ListeningAddress() const { return address_; }
    // Listening on an address other computers may reach (not a loopback one).
    bool OpenToNetwork() const;
    // The last failed open of the server or the UDP sender (Win32 code), 0 after a good one.
    uint32_t ListenError() const { return listenError_; }
    uint32_t DatagramError() const { return datagramError_; }
    bool SendsDatagrams() const { return sender_ != platform::noSocket; }
    uint64_t DatagramsSent() const { return datagramsSent_; }
    uint64_t DatagramsDropped() const { return datagramsDropped_; }
    uint32_t ClientCount() const;
    // Clients served at once (from "TCP Clients").
    uint32_t ClientLimit() const { return limit_; }
    // Connections closed at once because the limit was reached.
    uint64_t Refused() const { return refused_; }
    // Why the last connection could not be taken (Win32 code; accepting pauses), 0 once one
    // is taken again.
    uint32_t AcceptError() const { return acceptError_; }
    // Clients disconnected for what they sent, and for taking nothing.
    uint64_t GarbageDisconnects() const { return garbage_; }
    uint64_t StallDisconnects() const { return stalled_; }
    // Clients that made way for a newer connection at the limit (acknowledging late, or of
    // the host holding the most).
    uint64_t Displaced() const { return displaced_; }
    // Valid sentences not written to the receiver: over a client's write rate.
    uint64_t RateLimited() const { return rateLimited_; }
    // The client in `slot` (0 .. clientSlots - 1); false when the slot is free.
    bool Client(uint32_t slot, NetworkClientInfo& info) const;

private:
    struct Connection {
        platform::SocketHandle socket = platform::noSocket;
        NetworkClientInfo info;
        uint8_t* ring = nullptr; // clientBufferSize bytes of the pool
        uint32_t head = 0;
        uint32_t count = 0;
        uint32_t connectedMs = 0;
        uint32_t waitingSinceMs = 0; // when bytes began to wait without progress
        uint32_t windowMax = 0;      // the peer's widest receive window seen
        uint64_t sentAtCheck = 0;    // bytesSent when the window was last looked at
        bool windowStalled = false;  // its system holds unreadAllowance bytes or more unread
        bool readClosed = false;     // it closed its sending side; it still receives
        uint32_t roundTripFloorUs = UINT32_MAX; // the least round trip seen
        uint32_t needlessResends = 0;           // as the system last told
        bool lateAcks = false;                  // its system acknowledges late
        uint32_t lateSinceMs = 0;
        uint32_t lateSeenMs = 0;
        uint8_t line[sentenceMax] = {};
        uint32_t lineLength = 0;
        bool skipping = false;  // after bytes that are no sentence, up to the next one
        bool crPending = false; // a CR, which only LF may follow
        uint32_t writeTokens = writeBurst;
        uint32_t writeCheckedMs = 0;
        uint32_t garbageBudget = garbageAllowance;
        uint32_t garbageCheckedMs = 0;
    };

    bool OpenServer(uint32_t nowMs);
    void CloseServer();
    void OpenSender();
    void TakeTargetLookup();
    void CloseSender();
    void AcceptAll(uint32_t nowMs);
    void Append(Connection& client, const uint8_t* bytes, uint32_t length, uint32_t nowMs);
    void Flush(Connection& client, uint32_t nowMs);
    void ReadFrom(Connection& client);
    bool TakeLine(Connection& client);
    // Takes `rejected` bytes off the client's allowance; false once it is used up.
    bool Tolerate(Connection& client, uint32_t rejected);
    void Drop(Connection& client);
    bool Stalled(const Connection& client, uint32_t forMs) const;
    // At the limit: the slot a connection from `peer` may take (see above), freed; null when
    // it is to be turned away.
    Connection* MakeRoom(const char* peer);
    // Clients connected from the host of `peer`.
    uint32_t HostClients(const char* peer) const;

    platform::Network* network_;
    NetworkSink& sink_;
    platform::Threads* threads_;
    LookupHolder targetLookup_;       // "UDP Target" being resolved
    std::unique_ptr<uint8_t[]> pool_; // the clients' buffers while the server is open
    Connection clients_[clientSlots];
    platform::SocketHandle listener_ = platform::noSocket;
    platform::SocketHandle sender_ = platform::noSocket;

    // What the server and the sender were last asked to be.
    uint32_t port_ = 0;
    char address_[tcpAddressSize] = {};
    char target_[udpTargetSize] = {};
    uint16_t listeningPort_ = 0;
    bool write_ = false;
    uint32_t limit_ = tcpClientsDefault;
    bool retryDue_ = false;
    uint32_t lastAttemptMs_ = 0;
    uint32_t nowMs_ = 0;
    uint32_t acceptPausedAtMs_ = 0;
    uint32_t acceptError_ = 0;

    uint32_t listenError_ = 0;
    uint32_t datagramError_ = 0;
    uint64_t datagramsSent_ = 0;
    uint64_t datagramsDropped_ = 0;
    uint64_t refused_ = 0;
    uint64_t garbage_ = 0;
    uint64_t stalled_ = 0;
    uint64_t displaced_ = 0;
    uint64_t rateLimited_ = 0;
};

} // namespace tavro
