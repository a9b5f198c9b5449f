// The queue of bytes for the receiver: bounds, order, turns by line, a busy or failing line.
#include "hub/engine/ReceiverWriter.h"

#include "hub/input/SerialInput.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tavro::testing {
namespace {

using platform::testing::SerialOperation;

class ReceiverWriterTest : public ::testing::Test {
protected:
    ReceiverWriterTest() : device_(ports_.Add(1)) {
        uint32_t error = 0;
        line_ = std::make_unique<SerialInput>(
            ports_, 1, false, ports_.Open(1, platform::SerialSharing::ReadWrite, error));
    }

    bool Queue(uint32_t writer, const std::string& bytes) {
        return writer_.Queue(writer, reinterpret_cast<const uint8_t*>(bytes.data()),
                             static_cast<uint32_t>(bytes.size()));
    }
    // Pumps until the line has taken everything; what it took, in order.
    std::string Drain() {
        for (int i = 0; i < 100000 && writer_.Pending(); ++i) {
            writer_.Pump(*line_);
        }
        return device_.TakeOutput();
    }

    platform::testing::FakeSerialPorts ports_;
    platform::testing::FakeSerialDevice& device_;
    std::unique_ptr<Input> line_;
    ReceiverWriter writer_;
};

TEST_F(ReceiverWriterTest, WritersTakeTurnsByWholeLinesEvenOnABusyLine) {
    for (const uint32_t perCall : {1000u, 3u}) {
        device_.LimitWrites(perCall);
        ASSERT_TRUE(Queue(0, "$A1*00\r\n$A2*00\r\n"));
        ASSERT_TRUE(Queue(ReceiverWriter::commandWriter, "$C1*00\r\n"));
        ASSERT_TRUE(Queue(5, "$B1*00\r\n$B2"));
        writer_.Pump(*line_);
        EXPECT_EQ(writer_.LineBusy(), perCall == 3u);
        EXPECT_EQ(Drain(), "$A1*00\r\n$B1*00\r\n$C1*00\r\n$A2*00\r\n$B2") << perCall;
        // The half line on the wire is finished before anyone else's bytes...
        ASSERT_TRUE(Queue(0, "$A3*00\r\n"));
        writer_.Pump(*line_);
        EXPECT_EQ(device_.TakeOutput(), "");
        ASSERT_TRUE(Queue(5, "*00\r\n"));
        EXPECT_EQ(Drain(), "*00\r\n$A3*00\r\n");
        // ...unless it stays unfinished for two ticks.
        ASSERT_TRUE(Queue(5, "$B3"));
        ASSERT_TRUE(Queue(0, "$A4*00\r\n"));
        writer_.Pump(*line_);
        writer_.Tick();
        writer_.Tick();
        EXPECT_EQ(Drain(), "$B3$A4*00\r\n");
        writer_.Clear();
    }
}

TEST_F(ReceiverWriterTest, BinaryWithoutLineFeedsGivesUpItsTurnAfterAKilobyte) {
    const std::string binary(3000, '\xA0');
    ASSERT_TRUE(Queue(0, binary));
    ASSERT_TRUE(Queue(1, "$PMTK000*32\r\n"));
    device_.LimitWrites(100);
    const std::string written = Drain();
    ASSERT_EQ(written.size(), binary.size() + 13);
    EXPECT_EQ(written.find("$PMTK000*32\r\n"), ReceiverWriter::lineTurnMax);
}

TEST_F(ReceiverWriterTest, AQueueTakesAllOrNothingUpToItsBoundAndAFailedLineLosesAll) {
    EXPECT_EQ(writer_.Room(2), ReceiverWriter::queueCapacity);
    EXPECT_TRUE(Queue(2, std::string(ReceiverWriter::queueCapacity - 10, 'x')));
    EXPECT_EQ(writer_.Room(2), 10u);
    EXPECT_FALSE(Queue(2, std::string(11, 'y'))) << "refused whole";
    EXPECT_TRUE(Queue(2, std::string(10, 'y')));
    EXPECT_EQ(writer_.Room(ReceiverWriter::writerCount), 0u);
    EXPECT_FALSE(Queue(ReceiverWriter::writerCount, "z"));
    // The ring wraps: what was queued after a partial drain comes out in order.
    device_.LimitWrites(1000);
    writer_.Pump(*line_);
    EXPECT_TRUE(Queue(2, "tail\n"));
    EXPECT_EQ(Drain(), std::string(ReceiverWriter::queueCapacity - 10, 'x') + std::string(10, 'y') +
                           "tail\n");

    ASSERT_TRUE(Queue(0, "lost"));
    device_.Fail(SerialOperation::Write, error::genFailure);
    writer_.Pump(*line_);
    EXPECT_FALSE(writer_.Pending());
    EXPECT_EQ(writer_.Room(0), ReceiverWriter::queueCapacity);
}

} // namespace
} // namespace tavro::testing
