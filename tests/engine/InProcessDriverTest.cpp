// The driver in process as the hub's control device and as applications' virtual ports.
#include "sys/usermode/InProcessDriver.h"
#include "platform/ErrorCodes.h"
#include "sys/usermode/UserServices.h"

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <thread>

namespace tavro::driver::usermode {
namespace {

using namespace std::chrono_literals;

class InProcessDriverTest : public ::testing::Test {
protected:
    InProcessDriverTest() : driver_({5, 6, 0, 0, 0, 0, 0, 0}) { SetMilliseconds(10'000); }

    std::unique_ptr<ApplicationPort> Open(uint32_t com) {
        uint32_t error = 99;
        auto port = driver_.OpenPort(com, error);
        EXPECT_EQ(error, error::success);
        return port;
    }

    InProcessDriver driver_;
};

TEST_F(InProcessDriverTest, TheControlDeviceOpensByNameOnceAtATime) {
    platform::ControlDevice& control = driver_.Control();
    EXPECT_EQ(control.Open("Other"), error::fileNotFound);
    EXPECT_FALSE(control.IsOpen());
    DriverExchangeBlock block{};
    EXPECT_EQ(control.Exchange(block), error::invalidHandle);

    ASSERT_EQ(control.Open(controlDeviceName), error::success);
    EXPECT_EQ(control.Open(controlDeviceName), error::genFailure) << "the driver refuses";
    EXPECT_TRUE(control.IsOpen()) << "the first handle keeps working";
    EXPECT_EQ(driver_.Driver().Control().OpenCount(), 1u);

    memset(&block, 0x77, sizeof block);
    block.readOnly = 1;
    ASSERT_EQ(control.Exchange(block), error::success);
    EXPECT_EQ(block.version, driverInterfaceVersion);
    EXPECT_EQ(block.comNumber[1], 6u);
    EXPECT_EQ(block.comNumber[2], 0u);
    EXPECT_EQ(block.readOnly, 0u);
    EXPECT_TRUE(driver_.Driver().Control().ReadOnly());

    control.Close();
    EXPECT_EQ(driver_.Driver().Control().OpenCount(), 0u);
    EXPECT_EQ(control.Open(controlDeviceName), error::success) << "free again after a close";
}

TEST_F(InProcessDriverTest, ApplicationsOpenOnlyTheDriversPorts) {
    uint32_t error = 0;
    EXPECT_EQ(driver_.OpenPort(7, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);
    EXPECT_EQ(driver_.OpenPort(0, error), nullptr);
    EXPECT_EQ(error, error::fileNotFound);
    auto first = Open(6);
    auto second = Open(6);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(driver_.Driver().Record(1).openCount, 2);
    first.reset();
    second.reset();
    EXPECT_EQ(driver_.Driver().Record(1).openCount, 0);
}

TEST_F(InProcessDriverTest, BroadcastBytesReachEveryOpenHandle) {
    ASSERT_EQ(driver_.Control().Open(controlDeviceName), error::success);
    auto a = Open(5);
    auto b = Open(5);
    const std::string chunk = "$GPGGA,1*00\r\n";
    ASSERT_EQ(driver_.Control().Broadcast(reinterpret_cast<const uint8_t*>(chunk.data()),
                                          static_cast<uint32_t>(chunk.size())),
              error::success);
    EXPECT_EQ(a->Available(), chunk.size());
    EXPECT_EQ(a->ReadNow(), chunk);
    EXPECT_EQ(a->Available(), 0u);
    EXPECT_EQ(b->ReadNow(5), chunk.substr(0, 5)) << "each handle has its own position";
}

TEST_F(InProcessDriverTest, AQueuedReadEndsByItsTimeoutWithoutAHubCall) {
    ASSERT_EQ(driver_.Control().Open(controlDeviceName), error::success);
    auto application = Open(5);
    platform::CommTimeouts timeouts;
    timeouts.ReadTotalTimeoutConstant = 200;
    ASSERT_EQ(application->SetTimeouts(timeouts), error::success);
    auto read = application->StartRead(100);
    EXPECT_FALSE(read->Completed());
    const uint8_t bytes[] = {'a', 'b'};
    ASSERT_EQ(driver_.Control().Broadcast(bytes, 2), error::success);
    EXPECT_FALSE(read->Completed()) << "wants 100 bytes";
    AdvanceMilliseconds(199);
    EXPECT_FALSE(read->Completed());
    AdvanceMilliseconds(1);
    ASSERT_TRUE(read->Completed()) << "the driver's own time-out, no exchange";
    EXPECT_EQ(read->Error(), error::success);
    EXPECT_EQ(read->Data(), "ab");

    auto cancelled = application->StartRead(10);
    cancelled->Cancel();
    ASSERT_TRUE(cancelled->Completed());
    EXPECT_EQ(cancelled->Error(), error::operationAborted);

    // A read left queued when the handle closes ends cancelled, not dangling.
    auto orphan = application->StartRead(10);
    application.reset();
    ASSERT_TRUE(orphan->Completed());
    EXPECT_EQ(orphan->Error(), error::operationAborted);
}

TEST_F(InProcessDriverTest, WritesWaitInTheDriverForTheExchange) {
    ASSERT_EQ(driver_.Control().Open(controlDeviceName), error::success);
    auto application = Open(6);
    uint32_t written = 0;
    ASSERT_EQ(application->Write("$PMTK000*32\r\n", written), error::success);
    EXPECT_EQ(written, 13u);
    DriverExchangeBlock block{};
    ASSERT_EQ(driver_.Control().Exchange(block), error::success);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.clientData), block.clientDataLength),
              "$PMTK000*32\r\n");
}

TEST(InProcessDriverRealTime, ABlockingReadCompletesWhileAHubThreadRuns) {
    InProcessDriver driver({5, 0, 0, 0, 0, 0, 0, 0}, InProcessDriver::Clock::RealTime);
    ASSERT_EQ(driver.Control().Open(controlDeviceName), error::success);
    uint32_t error = 0;
    auto application = driver.OpenPort(5, error);
    ASSERT_NE(application, nullptr);
    platform::CommTimeouts timeouts;
    timeouts.ReadTotalTimeoutConstant = 150;
    ASSERT_EQ(application->SetTimeouts(timeouts), error::success);

    std::atomic<bool> stop{false};
    std::thread hub([&] {
        DriverExchangeBlock block{};
        while (!stop) {
            driver.Control().Exchange(block);
            std::this_thread::sleep_for(20ms);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    std::string data;
    EXPECT_EQ(application->Read(10, data, 5s), error::success);
    const auto waited = std::chrono::steady_clock::now() - start;
    stop = true;
    hub.join();
    EXPECT_EQ(data, "");
    // The driver counts whole milliseconds: the read's start is rounded down.
    EXPECT_GE(waited, 149ms) << "the time-out runs on real time";
    EXPECT_LT(waited, 4s) << "ended by the driver's time-out, not by the safety limit";
}

// An application's read whose wait runs out just as the hub completes it: the harness must wait
// for that completion before it lets the request go (under ASan a use after free otherwise).
TEST(InProcessDriverRealTime, AReadEndingAtItsLimitIsNotReleasedWhileTheHubCompletesIt) {
    InProcessDriver driver({5, 0, 0, 0, 0, 0, 0, 0}, InProcessDriver::Clock::RealTime);
    ASSERT_EQ(driver.Control().Open(controlDeviceName), error::success);
    uint32_t error = 0;
    auto application = driver.OpenPort(5, error);
    ASSERT_NE(application, nullptr);
    std::atomic<bool> stop{false};
    std::thread hub([&] {
        const uint8_t byte = 'x';
        while (!stop) {
            driver.Control().Broadcast(&byte, 1);
        }
    });
    int aborted = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string data;
        const uint32_t result = application->Read(2, data, 0ms);
        ASSERT_TRUE(result == error::success || result == error::operationAborted) << result;
        aborted += result == error::operationAborted ? 1 : 0;
        EXPECT_EQ(data.find_first_not_of('x'), std::string::npos);
    }
    stop = true;
    hub.join();
    EXPECT_GT(aborted, 0) << "the race was not exercised";
}

TEST(Win32ErrorOf, TheDriversStatusesAsTheSystemReportsThem) {
    EXPECT_EQ(Win32ErrorOf(status::success), error::success);
    EXPECT_EQ(Win32ErrorOf(status::cancelled), error::operationAborted);
    EXPECT_EQ(Win32ErrorOf(status::unsuccessful), error::genFailure);
    EXPECT_EQ(Win32ErrorOf(status::invalidParameter), error::invalidParameter);
    EXPECT_EQ(Win32ErrorOf(status::invalidBufferSize), error::invalidUserBuffer);
    EXPECT_EQ(Win32ErrorOf(status::notImplemented), error::invalidFunction);
}

} // namespace
} // namespace tavro::driver::usermode
