// The request head reader: what it takes and what it refuses, with the status a client sees.
#include "web/HttpRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::web {
namespace {

TEST(HttpRequest, ReadsTheFieldsTheDashboardUses) {
    const std::string text = "POST /api/settings?x=1 HTTP/1.1\r\nHost: 127.0.0.1:10111\r\n"
                             "origin: http://127.0.0.1:10111\r\nSec-Fetch-Site: same-origin\r\n"
                             "X-Tavro-Token: abc\r\nContent-Type: application/json\r\n"
                             "Content-Length: 4\r\n\r\n{}\r\nNEXT";
    HttpRequest request;
    const ParseResult result = ParseHttpRequest(text, request);
    ASSERT_EQ(result.state, ParseState::complete);
    EXPECT_EQ(result.consumed, text.size() - 4);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/settings");
    EXPECT_EQ(request.query, "x=1");
    EXPECT_EQ(request.host, "127.0.0.1:10111");
    EXPECT_EQ(request.origin, "http://127.0.0.1:10111");
    EXPECT_EQ(request.fetchSite, "same-origin");
    EXPECT_EQ(request.token, "abc");
    EXPECT_EQ(request.body, "{}\r\n");
}

TEST(HttpRequest, WaitsForTheWholeHeadAndBody) {
    HttpRequest request;
    EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.1\r\nHost: a\r\n", request).state,
              ParseState::needMore);
    EXPECT_EQ(ParseHttpRequest("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\nab", request)
                  .state,
              ParseState::needMore);
    // Bare line feeds end lines too; HTTP/1.0 needs no Host.
    EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.0\n\n", request).state, ParseState::complete);
}

TEST(HttpRequest, RefusesWhatItCannotServe) {
    const std::string big(headLimit + 1, 'a');
    const struct {
        std::string text;
        int status;
    } cases[] = {
        {"GET / HTTP/1.1\r\nX: " + big + "\r\n\r\n", 431},
        {"GET / HTTP/1.1\r\nX: " + big, 431}, // no end in sight
        {"GET / HTTP/1.1\r\n\r\n", 400},      // no Host
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost a\r\n\r\n", 400},
        {"GET /\x01 HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"GET http://example.com/ HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\nHost: a\r\n\r\n", 505},
        {"GET / FTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"GET /" + std::string(3000, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n", 414},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 99999\r\n\r\n", 413},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n", 400},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
        {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {"garbage\r\n\r\n", 400},
    };
    for (const auto& entry : cases) {
        HttpRequest request;
        const ParseResult result = ParseHttpRequest(entry.text, request);
        EXPECT_EQ(result.state, ParseState::refused) << entry.text.substr(0, 60);
        EXPECT_EQ(result.status, entry.status) << entry.text.substr(0, 60);
    }
}

} // namespace
} // namespace tavro::web
