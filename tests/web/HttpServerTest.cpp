// The server on real loopback sockets with a clock driven by hand: answers, refusals, and
// what a sender that misbehaves can cost.
#include "web/HttpServer.h"

#include "platform/ErrorCodes.h"
#include "tests/support/DescriptorsTaken.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tavro::web {
namespace {

using tavro::testing::DescriptorsTaken;

class EchoHandler final : public RequestHandler {
public:
    HttpResponse Handle(const HttpRequest& request) override {
        HttpResponse response;
        if (request.path == "/events") {
            response.stream = true;
            response.contentType = "text/event-stream";
            response.body = "data: first\n\n";
        } else {
            response.body = "path " + request.path;
        }
        return response;
    }
};

class HttpServerTest : public ::testing::Test {
protected:
    void Start(HttpLimits limits = {}) {
        server_ = std::make_unique<HttpServer>(*platform::SystemNetwork(), handler_, limits);
        ASSERT_EQ(server_->Listen("127.0.0.1", 0), error::success);
    }
    void TearDown() override {
        for (const int fd : clients_) {
            close(fd);
        }
    }

    int Connect() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server_->Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        clients_.push_back(fd);
        Pump();
        return fd;
    }

    void Pump(int rounds = 3) {
        for (int i = 0; i < rounds; ++i) {
            server_->Service(now_);
            usleep(2000);
        }
    }

    // Sends `text` while the server reads; true when all of it went.
    bool Send(int fd, const std::string& text) {
        size_t sent = 0;
        for (int round = 0; sent < text.size() && round < 20000; ++round) {
            const ssize_t count = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<size_t>(count);
            } else if (count < 0 && errno != EAGAIN) {
                return false;
            }
            server_->Service(now_);
        }
        return sent == text.size();
    }

    // What the server sent until it closed (or until nothing more came for a while).
    std::string Answer(int fd) {
        std::string text;
        for (int idle = 0; idle < 50;) {
            Pump(1);
            char buffer[4096];
            const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
            if (count > 0) {
                text.append(buffer, static_cast<size_t>(count));
                idle = 0;
            } else if (count == 0 || errno != EAGAIN) {
                break;
            } else {
                ++idle;
            }
        }
        return text;
    }

    EchoHandler handler_;
    std::unique_ptr<HttpServer> server_;
    std::vector<int> clients_;
    int64_t now_ = 1000;
};

TEST_F(HttpServerTest, AnswersOneRequestAndCloses) {
    Start();
    const int fd = Connect();
    ASSERT_TRUE(Send(fd, "GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
    const std::string answer = Answer(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Length: 7\r\n"), std::string::npos);
    EXPECT_NE(answer.find("\r\n\r\npath /a"), std::string::npos);
    // Answered, the server waits for the peer's end (briefly), then lets go.
    EXPECT_EQ(server_->ConnectionCount(), 1u);
    now_ += HttpLimits{}.lingerMs + 1;
    Pump();
    EXPECT_EQ(server_->ConnectionCount(), 0u);
}

// Scripts and `nc -N` send the request and close their sending side at once: the request and
// its end arrive together. A feed asked for so gets one state.
TEST_F(HttpServerTest, ASenderThatClosesItsSideAfterTheRequestIsStillAnswered) {
    Start();
    for (const char* path : {"/a", "/events"}) {
        const int fd = Connect();
        const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
        shutdown(fd, SHUT_WR);
        const std::string answer = Answer(fd);
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << path;
        EXPECT_NE(answer.find(path[1] == 'a' ? "path /a" : "data: first"), std::string::npos)
            << path;
    }
    EXPECT_EQ(server_->ConnectionCount(), 0u) << "both let go once answered";
}

TEST_F(HttpServerTest, AMegabyteHeadIsRefusedAndTheSenderReadsWhy) {
    Start();
    const int fd = Connect();
    Send(fd, "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\n");
    const std::string answer = Answer(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 431 Request Header Fields Too Large\r\n", 0), 0u)
        << answer.substr(0, 200);
}

TEST_F(HttpServerTest, AHeadThatDoesNotArriveInTimeIsRefused) {
    Start();
    const int fd = Connect();
    ASSERT_TRUE(Send(fd, "GET / HTTP/1.1\r\nHo"));
    Pump();
    EXPECT_EQ(server_->ConnectionCount(), 1u);
    now_ += HttpLimits{}.headTimeoutMs + 1;
    EXPECT_EQ(Answer(fd).rfind("HTTP/1.1 408 ", 0), 0u);
}

TEST_F(HttpServerTest, AFullTableMakesRoomFromSilentSendersOrRefuses) {
    HttpLimits limits;
    limits.connectionLimit = 2;
    Start(limits);
    const int first = Connect();
    Connect();
    // The longest-waiting silent sender gives way to a new connection.
    const int late = Connect();
    ASSERT_TRUE(Send(late, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(Answer(late).rfind("HTTP/1.1 200 ", 0), 0u);
    char byte;
    EXPECT_LE(recv(first, &byte, 1, 0), 0);
    // Two live feeds fill the table with connections being served: the next is told to wait.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Send(Connect(), "GET /events HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    Pump();
    EXPECT_EQ(server_->StreamCount(), 2u);
    EXPECT_EQ(Answer(Connect()).rfind("HTTP/1.1 503 ", 0), 0u);
    EXPECT_GE(server_->Refused(), 1u);
}

TEST_F(HttpServerTest, OutOfDescriptorsAcceptingPausesAndTellsWhy) {
    Start(HttpLimits{});
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    clients_.push_back(client);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_->Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    DescriptorsTaken descriptors;
    ASSERT_TRUE(descriptors.Taken());
    Pump();
    EXPECT_NE(server_->AcceptError(), 0u) << "for the log, once";
    descriptors.Release();
    now_ += 1000;
    Pump();
    EXPECT_EQ(server_->AcceptError(), 0u);
    EXPECT_EQ(server_->ConnectionCount(), 1u);
}

TEST_F(HttpServerTest, AFeedThatIsNotReadStaysBoundedAndIsDroppedWhenStalled) {
    HttpLimits limits;
    limits.streamBacklog = 4096;
    Start(limits);
    const int fd = Connect();
    int size = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ASSERT_TRUE(Send(fd, "GET /events HTTP/1.1\r\nHost: x\r\n\r\n"));
    Pump();
    EXPECT_EQ(server_->StreamCount(), 1u);
    const std::string event = "data: " + std::string(1000, 'x') + "\n\n";
    uint32_t taken = 0;
    for (int i = 0; i < 2000; ++i) {
        taken += server_->Broadcast(event, now_);
        server_->Service(now_);
    }
    // The socket buffers fill; the server then keeps no more than its backlog and skips.
    EXPECT_LT(taken, 2000u);
    now_ += HttpLimits{}.stallTimeoutMs + 1;
    Pump();
    EXPECT_EQ(server_->StreamCount(), 0u);
    EXPECT_EQ(server_->ConnectionCount(), 0u);
}

} // namespace
} // namespace tavro::web
