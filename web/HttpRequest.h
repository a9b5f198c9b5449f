// One HTTP/1.x request head read from a socket's bytes as they arrive, with the limits the
// dashboard sets: a head of at most headLimit bytes, a body of at most bodyLimit bytes given
// by Content-Length. Anything else (a malformed line, a body sent in chunks, an unknown
// version) is refused with the status a client can act on.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <string_view>

namespace tavro::web {

inline constexpr size_t headLimit = 16 * 1024;
inline constexpr size_t bodyLimit = 16 * 1024;

struct HttpRequest {
    std::string method; // "GET", "POST", ...
    std::string path;   // the target up to '?', as sent ("/events")
    std::string query;  // after '?', "" when none
    // Headers the dashboard looks at; "" when absent.
    std::string host;
    std::string origin;
    std::string fetchSite; // Sec-Fetch-Site
    std::string token;     // X-Tavro-Token
    std::string contentType;
    std::string body;
};

enum class ParseState {
    needMore, // the head (or the body) is not complete yet
    complete, // `request` holds it; `consumed` bytes were used
    refused,  // `status` and `reason` say why
};

struct ParseResult {
    ParseState state = ParseState::needMore;
    size_t consumed = 0;
    int status = 0; // 400, 413, 431, 501, 505 when refused
    const char* reason = "";
};

// Reads one request from the start of `bytes` (everything received on the connection so far).
ParseResult ParseHttpRequest(std::string_view bytes, HttpRequest& request);

} // namespace tavro::web
