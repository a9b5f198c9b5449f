// Relay on arrival end to end: a program that writes far more than the receiver's line takes
// waits in its own write, while another program's sentences and the command socket go on, and
// every byte it wrote reaches the receiver in order.
#include "tests/integration/PosixHubFixture.h"
#include "tests/platform/TestPty.h"

#include <fcntl.h>
#include <poll.h>

namespace tavro::testing {
namespace {

TEST_F(PosixHubEndToEnd, AProgramWritingMoreThanTheReceiverTakesHoldsUpNobodyElse) {
    TestPty receiver; // made before its link, as a device is
    ASSERT_TRUE(receiver.Valid());
    std::filesystem::create_directories(root_ + "/dev");
    std::filesystem::create_symlink(receiver.SlavePath(), Link(1));
    Set("Port", "1");
    Set("Port0", "5");
    Set("Port1", "6");
    StartHub({5, 6});
    StartClient(6, "reader");
    const std::string fix = Sentence("GPRMC,120000.000,A,4807.038,N,01131.000,E,0.0,0.0,230313,,");
    ASSERT_TRUE(Within(streamPatience, [&] {
        receiver.Send(fix);
        return Count(Received("reader"), "$GPRMC") > 0;
    }));

    // The receiver takes nothing for now: the writer fills its own terminal and waits there.
    const int writer = open(Link(5).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    std::string block;
    for (int i = 0; block.size() < 100 * 1024; ++i) {
        block += Sentence("PMTK000," + std::to_string(i));
    }
    size_t written = 0;
    ASSERT_TRUE(Within(10s, [&] {
        const ssize_t count = write(writer, block.data() + written, block.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            return false;
        }
        return count < 0 && errno == EAGAIN;
    }));
    EXPECT_LT(written, block.size()) << "held back, not taken and dropped";

    // Meanwhile: the other program's sentences, and the command channel.
    const size_t before = Count(Received("reader"), "$GPRMC");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(receiver.Send(fix));
    }
    EXPECT_TRUE(Receives("reader", "$GPRMC", before + 3, 5s));
    std::string output;
    EXPECT_EQ(Tavro({"send", "release"}, output), 0) << output;

    // Once the line takes them, every byte arrives, in order.
    std::string arrived;
    EXPECT_TRUE(Within(30s, [&] {
        while (written < block.size()) {
            const ssize_t count = write(writer, block.data() + written, block.size() - written);
            if (count <= 0) {
                break;
            }
            written += static_cast<size_t>(count);
        }
        arrived += receiver.Receive(block.size() - arrived.size(), 20ms);
        return arrived.size() >= block.size();
    }));
    close(writer);
    EXPECT_TRUE(arrived == block) << arrived.size() << " of " << block.size() << " bytes";
}

} // namespace
} // namespace tavro::testing
