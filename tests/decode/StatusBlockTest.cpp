// Status block lifecycle against the real shared memory of this system, with real processes.
#include "hub/decode/StatusBlock.h"

#include "common/StatusSequence.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeTiming.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro {
namespace {

// Each test gets a mapping name of its own, so parallel runs never meet.
class StatusBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        name_ = "/tavro-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        setenv("TAVRO_SHM", name_.c_str(), 1);
    }
    void TearDown() override { unsetenv("TAVRO_SHM"); }

    bool MappingExists() {
        platform::SharedView view;
        const uint32_t result = memory().Open(statusBlockName, view);
        memory().Close(view);
        return result == error::success;
    }

    static platform::SharedMemory& memory() { return platform::SystemSharedMemory(); }

    std::string name_;
};

// Runs `body` in a child process and returns its exit status (0 = the child's checks held).
template <typename Body>
int InChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(StatusBlockTest, HubAttachOnAFreshMappingZeroesSignsAndCountsItself) {
    StatusBlock hub(memory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    ASSERT_TRUE(hub.IsShared());
    const GpsSharedStatus& block = hub.Block();
    EXPECT_EQ(block.refCount, 1);
    EXPECT_EQ(block.streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&block) + 216, "TVRO", 4), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
    for (size_t i = 0; i < sizeof block; ++i) {
        if (i == 0 || i == 4 || (i >= 216 && i < 220)) {
            continue;
        }
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

TEST_F(StatusBlockTest, SecondProcessSeesTheSameBytesAndCountsTwo) {
    StatusBlock hub(memory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    hub.Block().latitude = 48.1173f;
    hub.Block().rmcCount = 42;
    hub.Publish();

    const int child = InChild([] {
        StatusBlock reader(platform::SystemSharedMemory());
        if (reader.AttachReader() != error::success) {
            return 1;
        }
        const GpsSharedStatus& block = reader.Block();
        if (block.refCount != 2 || block.rmcCount != 42 || block.latitude != 48.1173f ||
            block.streamState != static_cast<uint8_t>(StreamState::PortClosed)) {
            return 2;
        }
        reader.DetachReader();
        return 0;
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(hub.Readers(), 1) << "the reader counted itself out again";
}

TEST_F(StatusBlockTest, HubJoiningAnExistingBlockKeepsItsContent) {
    StatusBlock reader(memory());
    StatusBlock firstHub(memory());
    ASSERT_EQ(firstHub.AttachHub(), error::success);
    firstHub.Block().rmcCount = 7;
    ASSERT_EQ(reader.AttachReader(), error::success);
    firstHub.DetachHub();
    EXPECT_EQ(reader.Block().refCount, 1);
    EXPECT_EQ(reader.Block().streamState, static_cast<uint8_t>(StreamState::Detached));

    StatusBlock secondHub(memory());
    ASSERT_EQ(secondHub.AttachHub(), error::alreadyExists);
    EXPECT_EQ(secondHub.Block().refCount, 2);
    EXPECT_EQ(secondHub.Block().rmcCount, 7);
    EXPECT_EQ(secondHub.Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&secondHub.Block()) + 216, "TVRO", 4),
              0);
}

TEST_F(StatusBlockTest, DetachClearsSpeedAndStreamAndNeverCountsBelowZero) {
    StatusBlock hub(memory());
    StatusBlock reader(memory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    ASSERT_EQ(reader.AttachReader(), error::success);
    hub.Block().speedKnots = 12.5f;
    hub.Publish();
    reader.Block().refCount = 0; // a misbehaving reader already took the count down
    hub.DetachHub();
    const GpsSharedStatus& seen = reader.Block();
    EXPECT_EQ(seen.refCount, 0);
    EXPECT_EQ(seen.speedKnots, 0.0f);
    EXPECT_EQ(seen.streamState, static_cast<uint8_t>(StreamState::Detached));
}

TEST_F(StatusBlockTest, ReaderWithoutHubWorksOnAPrivateZeroBlock) {
    StatusBlock reader(memory());
    EXPECT_EQ(reader.AttachReader(), error::fileNotFound);
    EXPECT_FALSE(reader.IsShared());
    EXPECT_EQ(reader.Block().streamState, static_cast<uint8_t>(StreamState::Detached));
    EXPECT_EQ(reader.Block().replyFlags, 0);
    EXPECT_FALSE(MappingExists()) << "a reader must not create the mapping";
    reader.DetachReader();
}

TEST_F(StatusBlockTest, MappingDisappearsAfterTheLastDetach) {
    {
        StatusBlock hub(memory());
        StatusBlock reader(memory());
        ASSERT_EQ(hub.AttachHub(), error::success);
        ASSERT_EQ(reader.AttachReader(), error::success);
        hub.DetachHub();
        EXPECT_TRUE(MappingExists()) << "the reader still holds it";
        reader.DetachReader();
    }
    EXPECT_FALSE(MappingExists());

    // A new hub then starts from a fresh block again.
    StatusBlock hub(memory());
    EXPECT_EQ(hub.AttachHub(), error::success);
    EXPECT_EQ(hub.Block().refCount, 1);
}

TEST_F(StatusBlockTest, AProcessThatDiesAttachedDoesNotKeepTheMappingAlive) {
    const int child = InChild([] {
        StatusBlock hub(platform::SystemSharedMemory());
        if (hub.AttachHub() != error::success) {
            return 1;
        }
        hub.Block().streamState = static_cast<uint8_t>(StreamState::NmeaStream);
        _exit(0); // no detach: the process just ends
    });
    ASSERT_EQ(child, 0);
    // As on Windows, the dead process's handle is gone and with it the mapping: a reader finds
    // nothing rather than the dead hub's last state.
    EXPECT_FALSE(MappingExists());
    StatusBlock reader(memory());
    EXPECT_EQ(reader.AttachReader(), error::fileNotFound);
    EXPECT_EQ(reader.Block().streamState, static_cast<uint8_t>(StreamState::Detached));
    reader.DetachReader();

    // A hub after a killed hub starts from a fresh block.
    ASSERT_EQ(InChild([] {
                  StatusBlock hub(platform::SystemSharedMemory());
                  return hub.AttachHub() == error::success ? 0 : 1;
              }),
              0);
    StatusBlock hub(memory());
    EXPECT_EQ(hub.AttachHub(), error::success);
    EXPECT_EQ(hub.Block().refCount, 1);
}

TEST_F(StatusBlockTest, RepeatedAttachAndDetachAcrossProcessesNeverLeaksTheMapping) {
    StatusBlock hub(memory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    constexpr int children = 6;
    pid_t pids[children];
    for (pid_t& pid : pids) {
        pid = fork();
        if (pid == 0) {
            for (int round = 0; round < 200; ++round) {
                StatusBlock reader(platform::SystemSharedMemory());
                if (reader.AttachReader() != error::success || !reader.IsShared()) {
                    _exit(1);
                }
                reader.DetachReader();
            }
            _exit(0);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    hub.DetachHub();
    EXPECT_FALSE(MappingExists());
}

class FailingSharedMemory final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char*, uint32_t, platform::SharedView& view) override {
        view = {};
        return error::accessDenied;
    }
    uint32_t Open(const char*, platform::SharedView& view) override {
        view = {};
        return error::fileNotFound;
    }
    void Close(platform::SharedView& view) override { view = {}; }
};

// A hub that stopped in the middle of a write leaves a block no copy of which is whole: a look
// fails then, after a wait, rather than show a position made of two writes.
TEST_F(StatusBlockTest, APeekAtABlockLeftMidWriteFailsAndKeepsTheCopy) {
    StatusBlock hub(memory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    hub.Block().rmcCount = 7;
    hub.Publish();
    platform::testing::FakeTiming timing;
    GpsSharedStatus copy{};
    EXPECT_EQ(PeekStatusBlock(memory(), timing, copy), PeekResult::Read);
    EXPECT_EQ(copy.rmcCount, 7);

    platform::SharedView view;
    ASSERT_EQ(memory().Open(statusBlockName, view), error::success);
    auto& shared = *static_cast<GpsSharedStatus*>(view.data);
    const uint32_t begin = BeginStatusWrite(shared);
    shared.rmcCount = 8; // and the writer stops here
    copy.rmcCount = -1;
    EXPECT_EQ(PeekStatusBlock(memory(), timing, copy), PeekResult::Torn);
    EXPECT_EQ(copy.rmcCount, -1) << "the copy is left as it was";
    EXPECT_FALSE(timing.Sleeps().empty()) << "a preempted writer is waited for";
    EndStatusWrite(shared, begin);
    EXPECT_EQ(PeekStatusBlock(memory(), timing, copy), PeekResult::Read);
    EXPECT_EQ(copy.rmcCount, 8);
    memory().Close(view);
    FailingSharedMemory none;
    EXPECT_EQ(PeekStatusBlock(none, timing, copy), PeekResult::NoBlock);
}

TEST(StatusBlockWithoutMapping, HubGetsAWritablePrivateBlockPreparedLikeAFreshOne) {
    FailingSharedMemory failing;
    StatusBlock hub(failing);
    EXPECT_EQ(hub.AttachHub(), error::accessDenied);
    EXPECT_FALSE(hub.IsShared());
    EXPECT_EQ(hub.Block().refCount, 1);
    EXPECT_EQ(hub.Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    hub.Block().fixState = static_cast<uint8_t>(FixState::Fix3D); // must be safe to write
    hub.DetachHub();
    EXPECT_EQ(hub.Block().streamState, static_cast<uint8_t>(StreamState::Detached));
}

} // namespace
} // namespace tavro
