#include "web/HttpServer.h"

#include "platform/ErrorCodes.h"

#include <algorithm>

namespace tavro::web {
namespace {

constexpr uint32_t listenerToken = 0;
// Bytes read from one connection per service call, so that one sender cannot hold the loop.
constexpr size_t readQuantum = 64 * 1024;
// A full connection table makes room only by dropping a sender this slow with its request.
constexpr int64_t evictionGraceMs = 1000;
// After a failed accept (no descriptors left): the listener rests this long, rather than
// waking the loop again at once.
constexpr int64_t acceptPauseMs = 100;

} // namespace

const char* StatusReason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
    case 422:
        return "Unprocessable Content";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

std::string ResponseText(const HttpResponse& response) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       StatusReason(response.status) + "\r\n";
    text += "Content-Type: " + response.contentType + "\r\n";
    if (!response.stream) {
        text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    text += "Cache-Control: no-store\r\n"
            "X-Content-Type-Options: nosniff\r\n"
            "Referrer-Policy: no-referrer\r\n";
    text += response.stream ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    text += response.headers;
    text += "\r\n";
    text += response.body;
    return text;
}

HttpResponse Refusal(int status, std::string_view why) {
    HttpResponse response;
    response.status = status;
    response.body = std::to_string(status) + " " + StatusReason(status) + ": ";
    response.body += why;
    response.body += "\n";
    return response;
}

HttpServer::HttpServer(platform::Network& network, RequestHandler& handler, HttpLimits limits)
    : network_(network), handler_(handler), limits_(limits) {
    limits_.connectionLimit = std::min(limits_.connectionLimit, network.ClientLimit());
    limits_.streamLimit = std::min(limits_.streamLimit, limits_.connectionLimit);
    connections_.resize(limits_.connectionLimit);
}

HttpServer::~HttpServer() {
    for (Connection& connection : connections_) {
        Close(connection);
    }
    network_.Close(listener_);
}

uint32_t HttpServer::Listen(const char* address, uint16_t port) {
    return network_.Listen(address, port, listener_);
}

uint16_t HttpServer::Port() {
    return listener_ == platform::noSocket ? 0 : network_.LocalPort(listener_);
}

uint32_t HttpServer::CollectWaits(platform::WaitEntry* entries, uint32_t capacity) {
    uint32_t count = 0;
    if (listener_ != platform::noSocket && acceptPausedUntil_ == 0 && count < capacity) {
        entries[count++] = {network_.WaitFor(listener_, platform::waitInput), platform::waitInput,
                            listenerToken};
    }
    for (size_t i = 0; i < connections_.size() && count < capacity; ++i) {
        const Connection& connection = connections_[i];
        if (connection.phase == Phase::idle) {
            continue;
        }
        // A peer that has finished sending would wake the loop with its end for ever.
        uint8_t events = connection.peerFinished ? 0 : platform::waitInput;
        if (connection.sent < connection.output.size()) {
            events |= platform::waitOutput;
        }
        if (events == 0) {
            continue;
        }
        entries[count++] = {network_.WaitFor(connection.socket, events), events,
                            static_cast<uint32_t>(i + 1)};
    }
    return count;
}

void HttpServer::Service(int64_t nowMs) {
    if (acceptPausedUntil_ != 0 && nowMs >= acceptPausedUntil_) {
        acceptPausedUntil_ = 0;
    }
    if (listener_ != platform::noSocket && acceptPausedUntil_ == 0) {
        network_.Settle(listener_);
        AcceptWaiting(nowMs);
    }
    for (Connection& connection : connections_) {
        if (connection.phase == Phase::idle) {
            continue;
        }
        network_.Settle(connection.socket);
        Read(connection, nowMs);
        if (connection.phase != Phase::idle && connection.sent < connection.output.size()) {
            Write(connection, nowMs);
        }
        switch (connection.phase) {
        case Phase::reading:
            if (nowMs - connection.since > limits_.headTimeoutMs) {
                ++refused_;
                Answer(connection, Refusal(408, "the request did not arrive in time"), nowMs);
            }
            break;
        case Phase::writing:
        case Phase::streaming:
            if (connection.sent < connection.output.size() &&
                nowMs - connection.lastOutput > limits_.stallTimeoutMs) {
                Close(connection); // it takes nothing: a reader that went away or never reads
            }
            break;
        case Phase::lingering:
            if (nowMs - connection.since > limits_.lingerMs) {
                Close(connection);
            }
            break;
        case Phase::idle:
            break;
        }
    }
}

void HttpServer::AcceptWaiting(int64_t nowMs) {
    for (;;) {
        platform::SocketHandle socket = platform::noSocket;
        char peer[platform::peerTextSize];
        const uint32_t result = network_.Accept(listener_, socket, peer);
        if (result == error::noMoreItems) {
            return;
        }
        if (result != error::success) {
            acceptPausedUntil_ = nowMs + acceptPauseMs; // out of descriptors: try again soon
            acceptError_ = result;
            return;
        }
        acceptError_ = 0;
        Connection* slot = FreeSlot(nowMs);
        if (slot == nullptr) {
            ++refused_;
            const std::string text =
                ResponseText(Refusal(503, "too many connections; try again in a moment"));
            uint32_t sent = 0;
            network_.Send(socket, reinterpret_cast<const uint8_t*>(text.data()),
                          static_cast<uint32_t>(text.size()), sent);
            network_.Close(socket);
            continue;
        }
        *slot = Connection{};
        slot->socket = socket;
        slot->phase = Phase::reading;
        slot->since = nowMs;
        slot->lastOutput = nowMs;
        // A request sent with the connection is answered before newer connections could
        // push it out.
        Read(*slot, nowMs);
    }
}

HttpServer::Connection* HttpServer::FreeSlot(int64_t nowMs) {
    // Room is made, in this order, from a sender that has been slow to send its request, a
    // connection already answered, any sender still sending: a crowd of connections that send
    // nothing then cycles through the table instead of keeping others out.
    auto rank = [nowMs](const Connection& connection) {
        if (connection.phase == Phase::reading) {
            return nowMs - connection.since > evictionGraceMs ? 1 : 3;
        }
        return connection.phase == Phase::lingering ? 2 : 4;
    };
    Connection* chosen = nullptr;
    for (Connection& connection : connections_) {
        if (connection.phase == Phase::idle) {
            return &connection;
        }
        const int level = rank(connection);
        if (level < 4 && (chosen == nullptr || level < rank(*chosen) ||
                          (level == rank(*chosen) && connection.since < chosen->since))) {
            chosen = &connection;
        }
    }
    if (chosen != nullptr) {
        Close(*chosen);
    }
    return chosen;
}

void HttpServer::Read(Connection& connection, int64_t nowMs) {
    if (connection.peerFinished) {
        return;
    }
    uint8_t buffer[4096];
    size_t taken = 0;
    while (taken < readQuantum) {
        uint32_t got = 0;
        const uint32_t result = network_.Receive(connection.socket, buffer, sizeof buffer, got);
        if (result == error::handleEof &&
            (connection.phase == Phase::reading || connection.phase == Phase::writing)) {
            // Only its sending side may be closed (`nc -N`, scripts that shut down after the
            // request): what it asked is still answered (a feed with one state), then closed.
            connection.peerFinished = true;
            break;
        }
        if (result != error::success) {
            // The peer is gone: nothing more can be answered to it.
            Close(connection);
            return;
        }
        if (got == 0) {
            break;
        }
        taken += got;
        if (connection.phase == Phase::reading) {
            connection.input.append(reinterpret_cast<const char*>(buffer), got);
            if (connection.input.size() > headLimit + bodyLimit) {
                break; // enough to judge: the parser refuses it
            }
        }
        // A live feed or a finished connection has nothing more to read: dropped.
    }
    if (connection.phase != Phase::reading) {
        return;
    }
    if (connection.input.empty()) {
        if (connection.peerFinished) {
            Close(connection); // it went without asking anything
        }
        return;
    }
    HttpRequest request;
    const ParseResult result = ParseHttpRequest(connection.input, request);
    if (result.state == ParseState::needMore) {
        if (connection.peerFinished) {
            ++refused_; // the rest will never come
            Answer(connection, Refusal(400, "the request ended before its head did"), nowMs);
        }
        return;
    }
    if (result.state == ParseState::refused) {
        ++refused_;
        Answer(connection, Refusal(result.status, result.reason), nowMs);
        return;
    }
    connection.input.clear();
    HttpResponse response = handler_.Handle(request);
    if (response.stream && StreamCount() >= limits_.streamLimit) {
        ++refused_;
        response = Refusal(503, "too many live feeds are open; close another dashboard");
    }
    if (response.status >= 400) {
        ++refused_;
    }
    Answer(connection, response, nowMs);
}

void HttpServer::Answer(Connection& connection, const HttpResponse& response, int64_t nowMs) {
    connection.input.clear();
    connection.input.shrink_to_fit();
    connection.output = ResponseText(response);
    connection.sent = 0;
    connection.lastOutput = nowMs;
    connection.phase =
        response.stream && !connection.peerFinished ? Phase::streaming : Phase::writing;
    Write(connection, nowMs);
}

void HttpServer::Write(Connection& connection, int64_t nowMs) {
    if (connection.sent < connection.output.size()) {
        uint32_t sent = 0;
        const uint32_t result = network_.Send(
            connection.socket,
            reinterpret_cast<const uint8_t*>(connection.output.data()) + connection.sent,
            static_cast<uint32_t>(connection.output.size() - connection.sent), sent);
        if (result != error::success) {
            Close(connection);
            return;
        }
        if (sent > 0) {
            connection.sent += sent;
            connection.lastOutput = nowMs;
        }
    }
    if (connection.sent < connection.output.size()) {
        if (connection.sent > 32 * 1024) {
            connection.output.erase(0, connection.sent);
            connection.sent = 0;
        }
        return;
    }
    connection.output.clear();
    connection.sent = 0;
    if (connection.phase == Phase::writing) {
        // Answered: the peer is told there is no more, and what it still sends is read and
        // dropped until it closes, so that its answer is not lost to a reset.
        network_.FinishSending(connection.socket);
        if (connection.peerFinished) {
            Close(connection); // both sides are done
            return;
        }
        connection.phase = Phase::lingering;
        connection.since = nowMs;
    }
}

void HttpServer::Close(Connection& connection) {
    if (connection.socket != platform::noSocket) {
        network_.Close(connection.socket);
    }
    connection = Connection{};
}

uint32_t HttpServer::Broadcast(std::string_view bytes, int64_t nowMs) {
    uint32_t count = 0;
    for (Connection& connection : connections_) {
        if (connection.phase != Phase::streaming) {
            continue;
        }
        const size_t pending = connection.output.size() - connection.sent;
        if (pending + bytes.size() > limits_.streamBacklog) {
            continue; // far behind: it gets a later state
        }
        if (pending == 0) {
            connection.lastOutput = nowMs; // the stall clock runs while something waits
        }
        connection.output.append(bytes);
        ++count;
    }
    return count;
}

uint32_t HttpServer::StreamCount() const {
    return static_cast<uint32_t>(
        std::count_if(connections_.begin(), connections_.end(), [](const Connection& connection) {
            return connection.phase == Phase::streaming;
        }));
}

uint32_t HttpServer::ConnectionCount() const {
    return static_cast<uint32_t>(
        std::count_if(connections_.begin(), connections_.end(), [](const Connection& connection) {
            return connection.phase != Phase::idle;
        }));
}

} // namespace tavro::web
