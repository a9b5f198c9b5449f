// The status block after a hub was killed: the next hub must not inherit the dead one's count
// of users (Battery Saver would never see the last client leave). A block another process
// shrinks is repaired under the hub without its code noticing, errno included.
#include "hub/decode/StatusBlock.h"

#include "common/GpsSharedStatus.h"
#include "platform/ErrorCodes.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro {
namespace {

class PosixStatusBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "/TavroStale-" + std::to_string(getpid());
        setenv("TAVRO_SHM", name_.c_str(), 1);
    }
    void TearDown() override {
        shm_unlink(name_.c_str());
        unsetenv("TAVRO_SHM");
    }

    // A hub in another process that attaches, writes and is killed without detaching.
    static void KilledHub(int32_t rmcCount) {
        const pid_t child = fork();
        if (child == 0) {
            StatusBlock hub(platform::SystemSharedMemory());
            if (hub.AttachHub() != error::success) {
                _exit(1);
            }
            hub.Block().rmcCount = rmcCount;
            hub.Block().streamState = static_cast<uint8_t>(StreamState::NmeaStream);
            raise(SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
    }

    std::string name_;
};

TEST_F(PosixStatusBlockTest, AHubAfterAKilledHubStartsFromAFreshBlock) {
    KilledHub(41);
    StatusBlock hub(platform::SystemSharedMemory());
    EXPECT_EQ(hub.AttachHub(), error::success) << "created afresh";
    EXPECT_EQ(hub.Block().refCount, 1);
    EXPECT_EQ(hub.Block().rmcCount, 0);
    EXPECT_EQ(hub.Block().streamState, static_cast<uint8_t>(StreamState::PortClosed));
    hub.DetachHub();
}

TEST_F(PosixStatusBlockTest, AReaderStillAttachedKeepsTheBlockForTheNextHub) {
    StatusBlock reader(platform::SystemSharedMemory());
    {
        StatusBlock first(platform::SystemSharedMemory());
        ASSERT_EQ(first.AttachHub(), error::success);
        first.Block().rmcCount = 7;
        ASSERT_EQ(reader.AttachReader(), error::success);
        first.DetachHub();
    }
    StatusBlock second(platform::SystemSharedMemory());
    EXPECT_EQ(second.AttachHub(), error::alreadyExists) << "joined: a reader lives";
    EXPECT_EQ(second.Block().rmcCount, 7);
    EXPECT_EQ(second.Block().refCount, 2);
    second.DetachHub();
    reader.DetachReader();
}

TEST_F(PosixStatusBlockTest, AnotherProcessShrinkingTheBlockDoesNotEndTheHub) {
    StatusBlock hub(platform::SystemSharedMemory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    const int fd = shm_open(name_.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    // The hub goes on writing; the block has its size again and readers see the writes.
    hub.Block().rmcCount = 12;
    hub.Block().streamState = static_cast<uint8_t>(StreamState::NmeaStream);
    hub.Publish();
    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(info.st_size, static_cast<off_t>(sizeof(GpsSharedStatus)));
    close(fd);
    StatusBlock reader(platform::SystemSharedMemory());
    ASSERT_EQ(reader.AttachReader(), error::success);
    EXPECT_EQ(reader.Block().rmcCount, 12);
    reader.DetachReader();
    hub.DetachHub();
}

// A cleaner of /dev/shm removes the block under the hub: the hub gives it its name back, with
// what it held, and its writes reach the programs that open it afresh.
TEST_F(PosixStatusBlockTest, ABlockWhoseNameWasRemovedGetsItBackWithItsContents) {
    StatusBlock hub(platform::SystemSharedMemory());
    ASSERT_EQ(hub.AttachHub(), error::success);
    hub.Block().rmcCount = 5;
    hub.Publish();
    bool restored = true;
    EXPECT_EQ(hub.RestoreName(restored), error::success);
    EXPECT_FALSE(restored) << "nothing was missing";
    ASSERT_EQ(shm_unlink(name_.c_str()), 0);
    EXPECT_EQ(hub.RestoreName(restored), error::success);
    EXPECT_TRUE(restored);
    StatusBlock reader(platform::SystemSharedMemory());
    ASSERT_EQ(reader.AttachReader(), error::success);
    EXPECT_EQ(reader.Block().rmcCount, 5);
    hub.Block().rmcCount = 6;
    hub.Publish();
    EXPECT_EQ(reader.Block().rmcCount, 6);
    reader.DetachReader();
    hub.DetachHub();
}

TEST_F(PosixStatusBlockTest, TheShrunkBlocksRepairLeavesErrnoAsItFoundIt) {
    platform::SharedMemory& memory = platform::SystemSharedMemory();
    platform::SharedView view;
    ASSERT_EQ(memory.CreateOrOpen(name_.c_str(), sizeof(GpsSharedStatus), view), error::success);
    const int fd = shm_open(name_.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    close(fd);
    // Under a file size limit the repair's own ftruncate fails (EFBIG) and private memory
    // stands in: a call failing inside the handler, which the interrupted code must not see.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 1;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    const sighandler_t previous = std::signal(SIGXFSZ, SIG_IGN);
    auto* word = static_cast<volatile int32_t*>(view.data);
    errno = EOWNERDEAD;
    *word = 12; // faults: past the object's end
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int errnoAfter = errno;
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(errnoAfter, EOWNERDEAD) << std::strerror(errnoAfter);
    EXPECT_EQ(*word, 12) << "written to the memory that stands in";
    memory.Close(view);
}

} // namespace
} // namespace tavro
