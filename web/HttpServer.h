// The dashboard's HTTP server: one thread, non-blocking sockets of platform::Network, every
// connection in a fixed table. Each request gets one response and the connection is closed
// after it, except a live feed (Server-Sent Events), which stays open and receives what
// Broadcast sends. What abuse can cost is bounded here:
// - a request head must be complete within headTimeoutMs, and is at most headLimit bytes;
// - at most connectionLimit connections: a new one takes the place of one that has not sent a
//   whole request yet or is already answered, or, when all are busy answering, gets 503;
// - a live feed that does not read keeps at most streamBacklog bytes; one that has taken
//   nothing for stallTimeoutMs is closed;
// - a refused request is answered, then the rest of what its sender sends is read and
//   dropped (for at most lingerMs) so that the answer is not lost to a reset.
#pragma once

#include "platform/EventWait.h"
#include "platform/Network.h"
#include "web/HttpRequest.h"

#include <stdint.h>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::web {

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string headers; // further header lines, each ending in CR LF
    std::string body;
    bool stream = false; // a live feed: `body` is its start, the connection stays open
};

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    virtual HttpResponse Handle(const HttpRequest& request) = 0;
};

struct HttpLimits {
    uint32_t connectionLimit = 64;
    uint32_t streamLimit = 16;
    int64_t headTimeoutMs = 10000;
    size_t streamBacklog = 64 * 1024;
    int64_t stallTimeoutMs = 15000;
    int64_t lingerMs = 2000;
};

// "HTTP/1.1 <status> <reason>" with the headers every answer carries.
std::string ResponseText(const HttpResponse& response);
// A plain-text refusal: "<status> <reason>: <why>".
HttpResponse Refusal(int status, std::string_view why);
const char* StatusReason(int status);

class HttpServer {
public:
    HttpServer(platform::Network& network, RequestHandler& handler, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    uint32_t Listen(const char* address, uint16_t port);
    uint16_t Port();

    // What the loop waits on: the listener and every connection.
    uint32_t CollectWaits(platform::WaitEntry* entries, uint32_t capacity);
    // Accepts, reads, answers and writes what can be done now, and closes what timed out.
    // Call after every wake of the loop (and at least every few hundred milliseconds).
    void Service(int64_t nowMs);

    // Appends `bytes` to every live feed (those far behind skip it); returns how many feeds
    // took it.
    uint32_t Broadcast(std::string_view bytes, int64_t nowMs);
    uint32_t StreamCount() const;
    uint32_t ConnectionCount() const;

    // Counters for the log and the tests.
    uint64_t Refused() const { return refused_; }
    // Why the last connection could not be taken (accepting pauses), 0 once one is taken.
    uint32_t AcceptError() const { return acceptError_; }

private:
    enum class Phase { idle, reading, writing, streaming, lingering };
    struct Connection {
        platform::SocketHandle socket = platform::noSocket;
        Phase phase = Phase::idle;
        int64_t since = 0;      // accepted, or when lingering began
        int64_t lastOutput = 0; // last time bytes were taken by the peer (feeds)
        std::string input;
        std::string output;
        size_t sent = 0;
        bool peerFinished = false; // it closed its sending side: nothing more to read
    };

    void AcceptWaiting(int64_t nowMs);
    Connection* FreeSlot(int64_t nowMs);
    void Read(Connection& connection, int64_t nowMs);
    void Answer(Connection& connection, const HttpResponse& response, int64_t nowMs);
    void Write(Connection& connection, int64_t nowMs);
    void Close(Connection& connection);

    platform::Network& network_;
    RequestHandler& handler_;
    HttpLimits limits_;
    platform::SocketHandle listener_ = platform::noSocket;
    std::vector<Connection> connections_;
    uint64_t refused_ = 0;
    int64_t acceptPausedUntil_ = 0;
    uint32_t acceptError_ = 0;
};

} // namespace tavro::web
