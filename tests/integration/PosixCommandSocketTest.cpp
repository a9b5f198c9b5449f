// The command socket between programs and the hub: requests and answers as the senders see
// them, what a malformed request gets, and one hub per COM directory.
#include "hub/posix/command/CommandSocket.h"

#include "common/HubCommand.h"
#include "hub/posix/command/SocketRunningHub.h"
#include "platform/ErrorCodes.h"
#include "tests/platform/TestPty.h"
#include "tests/support/DescriptorsTaken.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tavro::platform::posix {
namespace {

using namespace std::chrono_literals;
using tavro::testing::DescriptorsTaken;
using tavro::testing::TestComDirectory;

struct Request {
    uint32_t code;
    std::string payload;
};

class RecordingHandler final : public CommandHandler {
public:
    uint32_t HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) override {
        requests.push_back({code, std::string(reinterpret_cast<const char*>(payload), length)});
        return answer;
    }
    std::vector<Request> requests;
    uint32_t answer = 0;
};

// The hub's side: services the server on the test's thread while `sender` runs on another.
class CommandSocketTest : public ::testing::Test {
protected:
    CommandSocketTest() : directory_(directory_path_.Path().c_str()) {}

    template <typename Sender>
    void Serve(Sender sender) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            sender();
            done = true;
        });
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done && std::chrono::steady_clock::now() < end) {
            pollfd entries[CommandServer::pollCapacity];
            const size_t count = server_.AddToPollSet(entries, 0, CommandServer::pollCapacity);
            if (poll(entries, count, 20) >= 0) {
                server_.Service(entries, count, handler_);
            }
        }
        thread.join();
    }

    // A raw connection for requests SendHubCommand would not make.
    int Connect() const {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = std::string(directory_.Path()) + "/" + hubWindowTitle;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    static uint32_t AnswerTo(int fd, const std::string& message) {
        if (send(fd, message.data(), message.size(), 0) != static_cast<ssize_t>(message.size())) {
            return UINT32_MAX;
        }
        uint8_t reply[4] = {};
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 5000) != 1 || recv(fd, reply, sizeof reply, 0) != 4) {
            return UINT32_MAX - 1;
        }
        return reply[0] | reply[1] << 8 | reply[2] << 16 | static_cast<uint32_t>(reply[3]) << 24;
    }

    TestComDirectory directory_path_;
    ComDirectory directory_;
    CommandServer server_;
    RecordingHandler handler_;
};

TEST_F(CommandSocketTest, RequestsArriveWholeAndEachGetsItsAnswer) {
    ASSERT_EQ(server_.Listen(directory_), error::success);
    const std::string frame = "$GPGGA,1*00\r\n";
    const uint8_t baud[4] = {0x80, 0x25, 0, 0};
    uint32_t answers[3] = {9, 9, 9};
    uint32_t results[3] = {9, 9, 9};
    Serve([&] {
        results[0] = SendHubCommand(directory_, static_cast<uint32_t>(HubCommand::InjectFrame),
                                    frame.data(), static_cast<uint32_t>(frame.size()), answers[0]);
        results[1] = SendHubCommand(directory_, static_cast<uint32_t>(HubCommand::HoldRelay),
                                    nullptr, 0, answers[1]);
        results[2] = SendHubCommand(directory_, static_cast<uint32_t>(HubCommand::ChangeBaud), baud,
                                    4, answers[2]);
    });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results[i], error::success) << i;
        EXPECT_EQ(answers[i], 0u) << i;
    }
    ASSERT_EQ(handler_.requests.size(), 3u);
    EXPECT_EQ(handler_.requests[0].code, 2u);
    EXPECT_EQ(handler_.requests[0].payload, frame);
    EXPECT_EQ(handler_.requests[1].code, 1u);
    EXPECT_EQ(handler_.requests[1].payload, "");
    EXPECT_EQ(handler_.requests[2].code, 4u);
    EXPECT_EQ(handler_.requests[2].payload, std::string("\x80\x25\0\0", 4));

    // The handler's result is the answer; message 1025 travels with its lParam.
    handler_.answer = error::invalidFunction;
    platform::posix::SocketRunningHub running(directory_);
    bool found = false;
    Serve([&] { found = running.SendToRunningHub(toggleMainWindowMessage, 0, 0x205); });
    EXPECT_TRUE(found);
    ASSERT_EQ(handler_.requests.size(), 4u);
    EXPECT_EQ(handler_.requests[3].code, toggleMainWindowMessage);
    EXPECT_EQ(handler_.requests[3].payload, std::string("\x05\x02\0\0", 4));
}

TEST_F(CommandSocketTest, MalformedRequestsGetAnErrorAndTheConnectionGoesOn) {
    ASSERT_EQ(server_.Listen(directory_), error::success);
    uint32_t shortAnswer = 0;
    uint32_t emptyAnswer = 0;
    uint32_t hugeAnswer = 0;
    uint32_t goodAnswer = 9;
    Serve([&] {
        const int fd = Connect();
        ASSERT_GE(fd, 0);
        shortAnswer = AnswerTo(fd, std::string("\x01\x00", 2));
        emptyAnswer = AnswerTo(fd, std::string());
        hugeAnswer = AnswerTo(fd, std::string(commandMessageMax + 1, '\0'));
        goodAnswer = AnswerTo(fd, std::string("\x00\x00\x00\x00", 4));
        close(fd);
    });
    EXPECT_EQ(shortAnswer, error::invalidParameter);
    EXPECT_EQ(emptyAnswer, error::invalidParameter);
    EXPECT_EQ(hugeAnswer, error::invalidParameter);
    EXPECT_EQ(goodAnswer, 0u);
    ASSERT_EQ(handler_.requests.size(), 1u) << "only the well-formed request reached the hub";
    EXPECT_EQ(handler_.requests[0].code, 0u);

    // The largest payload allowed goes through; the sender refuses a larger one itself.
    const std::string largest(commandPayloadMax, 'x');
    uint32_t result = 9;
    uint32_t answer = 9;
    Serve(
        [&] { result = SendHubCommand(directory_, 3, largest.data(), commandPayloadMax, answer); });
    EXPECT_EQ(result, error::success);
    EXPECT_EQ(handler_.requests.back().payload.size(), commandPayloadMax);
    EXPECT_EQ(SendHubCommand(directory_, 3, largest.data(), commandPayloadMax + 1, answer),
              error::invalidParameter);
    EXPECT_EQ(SendHubCommand(directory_, 3, nullptr, 5, answer), error::invalidParameter);
}

TEST_F(CommandSocketTest, WithoutAHubTheSenderHearsSoAtOnce) {
    uint32_t answer = 0;
    EXPECT_FALSE(HubListens(directory_));
    EXPECT_EQ(SendHubCommand(directory_, 0, nullptr, 0, answer), error::fileNotFound);
    platform::posix::SocketRunningHub running(directory_);
    EXPECT_FALSE(running.SendToRunningHub(toggleMainWindowMessage, 0, 0x205));

    // A hub that listens but does not answer: the sender gives up after its time-out.
    ASSERT_EQ(server_.Listen(directory_), error::success);
    EXPECT_TRUE(HubListens(directory_));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendHubCommand(directory_, 0, nullptr, 0, answer, 200), error::semTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    // Once it has gone, its socket file is gone with it.
    server_.Close();
    EXPECT_FALSE(std::filesystem::exists(directory_path_.Path() + "/" + hubWindowTitle));
    EXPECT_EQ(SendHubCommand(directory_, 0, nullptr, 0, answer), error::fileNotFound);
}

TEST_F(CommandSocketTest, OneHubPerDirectoryAndAStaleSocketIsReplaced) {
    // A socket file left by a hub that was killed: nobody accepts on it.
    {
        const int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = std::string(directory_.Path()) + "/" + hubWindowTitle;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        close(stale);
    }
    uint32_t answer = 0;
    EXPECT_EQ(SendHubCommand(directory_, 0, nullptr, 0, answer), error::fileNotFound);
    ASSERT_EQ(server_.Listen(directory_), error::success);
    CommandServer second;
    EXPECT_EQ(second.Listen(directory_), error::alreadyExists);
    EXPECT_TRUE(server_.IsListening());
    uint32_t result = 9;
    Serve([&] { result = SendHubCommand(directory_, 1, nullptr, 0, answer); });
    EXPECT_EQ(result, error::success) << "the first hub still answers";
    server_.Close();
    EXPECT_EQ(second.Listen(directory_), error::success) << "free once the first has gone";
}

TEST_F(CommandSocketTest, ADirectoryWithALongPathWorksToo) {
    std::string deep = directory_path_.Path();
    while (deep.size() < 150) {
        deep += "/deeper-and-deeper";
    }
    const ComDirectory longDirectory(deep.c_str());
    ASSERT_TRUE(longDirectory.IsValid());
    ASSERT_EQ(server_.Listen(longDirectory), error::success);
    EXPECT_TRUE(std::filesystem::exists(deep + "/" + hubWindowTitle));
    uint32_t answer = 9;
    uint32_t result = 9;
    Serve([&] { result = SendHubCommand(longDirectory, 1, nullptr, 0, answer); });
    EXPECT_EQ(result, error::success);
    EXPECT_EQ(answer, 0u);
}

TEST_F(CommandSocketTest, IdleConnectionsCannotKeepSendersOut) {
    ASSERT_EQ(server_.Listen(directory_), error::success);
    // Far more silent connections than the server has slots, all made before anyone sends.
    std::vector<int> idle;
    for (size_t i = 0; i < 200; ++i) {
        idle.push_back(Connect());
        ASSERT_GE(idle.back(), 0);
    }
    uint32_t result = 9;
    uint32_t answer = 9;
    Serve([&] { result = SendHubCommand(directory_, 1, nullptr, 0, answer); });
    EXPECT_EQ(result, error::success) << "a sender behind 200 idle connections is answered";

    // A burst of senders at once: every one is answered.
    constexpr int senders = 120;
    std::atomic<int> answered{0};
    Serve([&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < senders; ++i) {
            threads.emplace_back([&] {
                uint32_t own = 9;
                if (SendHubCommand(directory_, 0, nullptr, 0, own) == error::success && own == 0) {
                    ++answered;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    });
    EXPECT_EQ(answered.load(), senders);

    // Silent connections are closed: each reads the end of its connection.
    Serve([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(CommandServer::idleTimeoutMs + 300));
    });
    EXPECT_EQ(server_.ClientCount(), 0u);
    size_t ended = 0;
    for (const int fd : idle) {
        char byte = 0;
        ended += recv(fd, &byte, 1, MSG_DONTWAIT) == 0 ? 1 : 0;
        close(fd);
    }
    EXPECT_EQ(ended, idle.size());
}

TEST_F(CommandSocketTest, OutOfDescriptorsASenderIsStillAnswered) {
    ASSERT_EQ(server_.Listen(directory_), error::success);
    const int sender = Connect();
    ASSERT_GE(sender, 0);
    const std::string request("\x01\0\0\0", 4);
    ASSERT_EQ(send(sender, request.data(), request.size(), 0), 4);
    DescriptorsTaken descriptors;
    ASSERT_TRUE(descriptors.Taken());
    for (int round = 0; round < 3; ++round) {
        pollfd entries[CommandServer::pollCapacity];
        const size_t count = server_.AddToPollSet(entries, 0, CommandServer::pollCapacity);
        poll(entries, count, 100);
        server_.Service(entries, count, handler_);
    }
    descriptors.Release();
    uint8_t reply[4] = {9, 9, 9, 9};
    EXPECT_EQ(recv(sender, reply, sizeof reply, MSG_DONTWAIT), 4) << "answered meanwhile";
    EXPECT_EQ(reply[0], 0);
    ASSERT_EQ(handler_.requests.size(), 1u);
    close(sender);
}

} // namespace
} // namespace tavro::platform::posix
