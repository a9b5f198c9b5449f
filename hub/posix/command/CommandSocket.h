// The hub's command channel on POSIX: a Unix SOCK_SEQPACKET socket named "TavroMsgWnd" in the
// COM directory, standing in for the message window of the same title.
//
// Each request is one message: the HubCommand code as a 4-byte little-endian number, then the
// payload (WM_COPYDATA's lpData, cbData bytes). Message 1025 travels the same way with the
// code 1025 and its lParam as 4 bytes. The hub answers every request with one message of 4
// bytes, little-endian, after it has handled it, so a sender waits as SendMessage waits: 0
// for a handled (or, like an unknown code, ignored) request, a Win32 error code for a request
// that could not be read (shorter than 4 bytes, or longer than commandMessageMax).
//
// Queries (codes from firstQueryCode on, which no HubCommand or window message uses) are
// answered with the 4-byte number followed by data: statusQueryCode asks for the hub's status
// report (see hub/posix/status/HubReport.h), which the fixed status block has no room for.
//
// The socket is made mode 0600: only the hub's own user (and root) may send.
#pragma once

#include "common/HubCommand.h"
#include "platform/posix/ComDirectory.h"

#include <poll.h>
#include <stddef.h>
#include <stdint.h>

namespace tavro::platform::posix {

inline constexpr uint32_t commandPayloadMax = 65536;
inline constexpr uint32_t commandMessageMax = 4 + commandPayloadMax;
inline constexpr int commandTimeoutMs = 5000;

// The request to read the settings again (`tavro config set`, the dashboard), answered with
// the result of applying them. A code of the POSIX channel's own, which no HubCommand, window
// message or query uses.
inline constexpr uint32_t reloadSettingsCode = 0x8001;

inline constexpr uint32_t firstQueryCode = 0x10000;
inline constexpr uint32_t statusQueryCode = 0x10000;
// Data an answer to a query may carry: room for the largest status report (128 clients with
// IPv6 addresses and every counter at its widest take about 28 KiB; PosixToolsTest checks).
inline constexpr uint32_t queryReplyMax = 65536;

// What the hub does with one request; the result is the answer's number.
class CommandHandler {
public:
    virtual ~CommandHandler() = default;
    virtual uint32_t HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) = 0;
    // A query (code >= firstQueryCode): the answer's number, with `replyLength` bytes of data
    // (at most `capacity`) written to `reply`. A handler without queries refuses them.
    virtual uint32_t HandleQuery(uint32_t code, const uint8_t* payload, uint32_t length,
                                 uint8_t* reply, uint32_t capacity, uint32_t& replyLength);
};

// The hub's side. Nobody can block the channel by holding connections: a connection that
// brings no complete request for idleTimeoutMs is closed, and when every slot is taken the
// connection quiet for longest makes room for a new one (after its pending request, if any,
// is answered). Connections are accepted only while a slot is free or can be freed, so a
// burst waits in the listen queue (which holds thousands) instead of being turned away.
class CommandServer {
public:
    static constexpr size_t clientCapacity = 256;
    // Descriptors the server may add to a poll set: the listening socket and its clients.
    static constexpr size_t pollCapacity = 1 + clientCapacity;
    // A sender sends its request right after it connects; one that has not after this long
    // is not going to.
    static constexpr int idleTimeoutMs = 2000;
    // A connection this young is never closed to make room: its sender is about to send.
    static constexpr int evictionGraceMs = 100;

    CommandServer() = default;
    ~CommandServer();

    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // Creates the socket in `directory` (made when missing). One hub per directory: the
    // server holds a lock beside the socket, and error::alreadyExists tells that another hub
    // holds it; a socket left by a hub that died is replaced.
    uint32_t Listen(const ComDirectory& directory);
    bool IsListening() const { return listener_ >= 0; }

    // Makes the socket again after its directory vanished (the connections stay). Results as
    // Listen's; the server is not listening after a failure.
    uint32_t Relisten();

    // Whether the socket file is still the one this server listens on.
    bool SocketFilePresent() const;

    // Removes the socket and closes every connection.
    void Close();

    // Appends the server's descriptors to `entries` (which hold `count` already, room for
    // `capacity`) and returns the new count.
    size_t AddToPollSet(pollfd* entries, size_t count, size_t capacity) const;

    // Handles what poll reported for the server's descriptors in `entries[0..count)`: runs
    // each waiting request through `handler` and answers it, closes idle connections, accepts
    // new senders. One request per sender per call, so a busy sender cannot starve the others
    // or the tick. Call it at least once per tick, with count 0 when poll reported nothing.
    void Service(const pollfd* entries, size_t count, CommandHandler& handler);

    size_t ClientCount() const;

    // The errno for which the last connection could not be taken (accepting pauses a moment),
    // 0 once one is taken again.
    int AcceptFailure() const { return acceptFailure_; }

private:
    struct Client {
        int fd = -1;
        int64_t lastActivityMs = 0; // accepted, or its last request
    };

    uint32_t Bind();
    void AcceptWaiting(int64_t now, CommandHandler& handler);
    // The slot for a new connection: a free one, else the one quiet for longest beyond the
    // grace; clientCapacity when there is none.
    size_t SlotForNewClient(int64_t now) const;
    void ServeClient(size_t slot, bool hungUp, CommandHandler& handler);
    void DropClient(size_t slot);

    int listener_ = -1;
    int lock_ = -1;
    Client clients_[clientCapacity];
    ComDirectory directory_{""};
    char socketPath_[comPathCapacity] = {};
    uint64_t socketInode_ = 0;
    int64_t acceptPausedUntilMs_ = 0;
    int acceptFailure_ = 0;
    int reserve_ = -1; // a descriptor given up to answer a sender when none is left
    uint8_t message_[commandMessageMax + 1] = {};
    uint8_t reply_[4 + queryReplyMax] = {};
};

// Removes the socket file of a hub that is gone (nobody holds its lock); error::alreadyExists
// while a hub holds it.
uint32_t RemoveStaleSocket(const ComDirectory& directory);

// Whether a hub listens on the command socket of `directory` (it is connected to and left at
// once, without a request). `pid`, when given, receives the listening process's number (the
// kernel knows it even while that process is stopped), 0 when none listens.
bool HubListens(const ComDirectory& directory, int* pid = nullptr);

// How long the tools wait for a hub's answer before they call it not responding: a hub that
// runs answers within milliseconds, one that is stopped (SIGSTOP, a debugger) or hung never.
inline constexpr int responseDeadlineMs = 1000;

// Sends one request to the hub of `directory` and waits up to `timeoutMs` for its answer.
// Returns error::success with the hub's answer in `answer`; error::fileNotFound when no hub
// listens there; error::semTimeout when none came in time; error::invalidParameter for a
// payload above commandPayloadMax; else the system's error.
uint32_t SendHubCommand(const ComDirectory& directory, uint32_t code, const void* payload,
                        uint32_t length, uint32_t& answer, int timeoutMs = commandTimeoutMs);

// SendHubCommand for a query: the data after the answer's number goes to `reply` (at most
// `capacity` bytes; more is cut), its length to `replyLength`.
uint32_t QueryHub(const ComDirectory& directory, uint32_t code, const void* payload,
                  uint32_t length, uint32_t& answer, uint8_t* reply, uint32_t capacity,
                  uint32_t& replyLength, int timeoutMs = commandTimeoutMs);

} // namespace tavro::platform::posix
