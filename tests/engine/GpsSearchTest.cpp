// The GPS search with scripted ports and deterministic threads: what each scanning thread does
// with what its port delivers, which ports are tried, how a search starts, ends and is
// cancelled, and how its result is applied.
#include "tests/engine/SearchFixture.h"

#include "hub/engine/SearchProgress.h"
#include "platform/ErrorCodes.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using platform::testing::FakeSerialDevice;
using platform::testing::FakeThreads;

class GpsSearchTest : public SearchFixture {};

class DeferredSearchTest : public SearchFixture {
protected:
    DeferredSearchTest() : SearchFixture(FakeThreads::Start::Deferred) {}
};

// ---- What a scanning thread makes of its port ---------------------------------------------------

TEST_F(DeferredSearchTest, AReceiverAt115200ThatSendsAtEverySpeedIsFoundAtTheSixthSpeed) {
    // COM1 hears little garbage at every speed, so it waits out each speed; COM2 is the
    // receiver, whose line carries bytes at every speed; COM5 starts only after the find.
    portMap_.Set({1, 2, 5});
    FakeSerialDevice& slow = ports_.Add(1);
    DeliverAlways(slow, Garbage(20));
    FakeSerialDevice& receiver = ports_.Add(2);
    DeliverAtSpeed(receiver, 115200, rmc + gga, Garbage(120));
    FakeSerialDevice& late = ports_.Add(5);
    DeliverAlways(late, Garbage(120));

    ASSERT_TRUE(search_.StartSearch());
    EXPECT_EQ(Count(), 3u);
    EXPECT_EQ(hub_.search.scanning.load(), 1);
    EXPECT_EQ(State(1), 1);
    EXPECT_EQ(State(2), 1);

    // At COM1's second wait at 19200 (it has looked at its queue once), the other threads run:
    // COM2 finds the receiver.
    uint32_t waitsAt19200 = 0;
    threads_.OnWait([&](uint32_t, uint32_t) {
        if (State(1) == 4 && ++waitsAt19200 == 2) {
            threads_.RunDeferred();
        }
    });
    threads_.RunDeferred();

    EXPECT_EQ(Count(), 0u);
    EXPECT_EQ(hub_.search.FoundPort(), 2u);
    EXPECT_EQ(hub_.search.FoundBaud(), 115200u);
    EXPECT_EQ(SpeedsSet(receiver), FirstSpeeds(6)) << "4800 to 115200, each once";
    EXPECT_EQ(State(2), 7) << "found at speed index 5";
    // COM1 stopped waiting when the receiver was found, read its bytes at 19200 and stopped.
    EXPECT_EQ(State(1), 4);
    EXPECT_EQ(SpeedsSet(slow), FirstSpeeds(3));
    // COM5 began after the find: nothing read, given up at once.
    EXPECT_EQ(State(5), 0);
    EXPECT_EQ(SpeedsSet(late), FirstSpeeds(1));

    char progress[searchProgressSize];
    FormatSearchProgress(hub_.search, progress);
    EXPECT_STREQ(progress, "1 19200, [2 115200], ");

    for (uint32_t com : {1u, 2u, 5u}) {
        EXPECT_EQ(ports_.Find(com)->OpenHandles(), 0u) << "COM" << com << " closed";
    }
}

TEST_F(GpsSearchTest, EachPortIsHeldExclusivelyAndSetUpAsTheInputPortWouldBe) {
    portMap_.Set({4});
    FakeSerialDevice& receiver = ports_.Add(4);
    DeliverAtSpeed(receiver, 9600, rmc, Garbage(100));
    search_.StartSearch();

    const std::vector<std::string> calls = receiver.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "Open exclusive");
    EXPECT_EQ(calls[1], "SetupComm 1024 1024");
    EXPECT_EQ(calls[2], "SetCommTimeouts 4294967295 0 0 1 10000");
    EXPECT_EQ(calls[3], "GetCommState");
    const platform::Dcb line = receiver.State();
    EXPECT_EQ(line.BaudRate, 9600u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, platform::dcb::noParity);
    EXPECT_EQ(line.StopBits, platform::dcb::oneStopBit);
    EXPECT_EQ(platform::DcbFlags(line) & 0x333F, 0x1013u) << "the input port's flags";
    EXPECT_EQ(line.XoffLim, 384);
    EXPECT_EQ(hub_.search.FoundPort(), 4u);
    EXPECT_EQ(hub_.search.FoundBaud(), 9600u);
    EXPECT_EQ(threads_.StackSizes(), std::vector<uint32_t>{8192});
}

TEST_F(GpsSearchTest, AReceiverSendingFewerThan90BytesIsTestedWithWhatArrived) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);
    // Nothing until the fifth wait, then a few bytes: "$GP" in the middle of what arrived.
    receiver.OnSetCommState(
        [](FakeSerialDevice& self, const platform::Dcb&) { self.ClearInput(); });
    threads_.OnWait([&](uint32_t wait, uint32_t) {
        if (wait == 5) {
            receiver.QueueInput("\x01\x02$GPG");
        }
    });
    search_.StartSearch();

    EXPECT_EQ(hub_.search.FoundPort(), 3u);
    EXPECT_EQ(hub_.search.FoundBaud(), 4800u);
    EXPECT_EQ(threads_.Waits(), 13u) << "all 13 waits, as 90 bytes never came";
    EXPECT_EQ(threads_.WaitedMilliseconds(), 1300u);
}

TEST_F(GpsSearchTest, TwoBytesAreEnoughForASirfFrameEndButOneByteIsSilence) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);

    DeliverAlways(receiver, "\xB0\xB3");
    search_.StartSearch();
    EXPECT_EQ(hub_.search.FoundPort(), 3u) << "the end of a SiRF binary frame";

    DeliverAlways(receiver, "\xA0\xA2");
    search_.StartSearch();
    EXPECT_EQ(hub_.search.FoundPort(), 3u) << "the start of a SiRF binary frame";

    DeliverAlways(receiver, "$");
    search_.StartSearch();
    EXPECT_EQ(hub_.search.FoundPort(), 0u);
    EXPECT_EQ(State(3), 0) << "one byte: given up";
    EXPECT_EQ(SpeedsSet(receiver).back(), 4800u);
}

TEST_F(GpsSearchTest, OnlyTalkerPrefixesAndWholeOnesCount) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);
    const std::vector<std::string> nine = {"$GP", "$PG", "$PM", "$PS", "$SD",
                                           "$HC", "$VW", "$II", "!AI"};
    const std::vector<std::string> multi = {"$GN", "$GL", "$GA", "$GB", "$BD", "$GQ", "$GI"};
    // "Multi GNSS" off: the nine of GPS-only receivers; on, also those of today's receivers.
    for (const uint32_t multiGnss : {0u, 1u}) {
        hub_.settings.multiGnss = multiGnss;
        for (const std::string& prefix : nine) {
            DeliverAtSpeed(receiver, 19200, Garbage(30) + prefix + Garbage(30), Garbage(100));
            search_.StartSearch();
            EXPECT_EQ(hub_.search.FoundBaud(), 19200u) << prefix;
        }
        std::vector<std::string> notStreams = {Garbage(40) + "$gp" + Garbage(40),
                                               Garbage(40) + "$G"};
        for (const std::string& prefix : multi) {
            if (multiGnss != 0) {
                DeliverAtSpeed(receiver, 38400, Garbage(30) + prefix + Garbage(30), Garbage(100));
                search_.StartSearch();
                EXPECT_EQ(hub_.search.FoundBaud(), 38400u) << prefix;
            } else {
                notStreams.push_back(Garbage(40) + prefix + Garbage(40));
            }
        }
        // Other talkers, lower case, and a prefix cut by the end of the read are not streams.
        for (const std::string& bytes : notStreams) {
            DeliverAlways(receiver, bytes);
            search_.StartSearch();
            EXPECT_EQ(hub_.search.FoundPort(), 0u) << bytes;
            EXPECT_EQ(State(3), 8) << "every speed tried";
        }
    }
}

TEST_F(GpsSearchTest, AtMost254BytesAreReadAtOneSpeed) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);
    // The prefix sits beyond the first 254 bytes at 4800; at 9600 it is within them.
    receiver.OnSetCommState([](FakeSerialDevice& self, const platform::Dcb& dcb) {
        self.ClearInput();
        self.QueueInput(dcb.BaudRate == 4800 ? Garbage(254) + "$GPGGA" : Garbage(200) + "$GPGGA");
    });
    search_.StartSearch();
    EXPECT_EQ(hub_.search.FoundBaud(), 9600u);
    EXPECT_EQ(threads_.Waits(), 2u) << "one wait per speed: enough bytes at once";
}

TEST_F(GpsSearchTest, BytesHeardAtOneSpeedAreNotTestedAtTheNext) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);
    // A speed change keeps what is queued, as a serial driver does; a busy receiver leaves more
    // than one read behind at every speed.
    receiver.OnSetCommState([](FakeSerialDevice& self, const platform::Dcb& dcb) {
        self.QueueInput(dcb.BaudRate == 19200 ? "$GNGGA" + Garbage(600) : Garbage(600));
    });
    search_.StartSearch();
    EXPECT_EQ(hub_.search.FoundBaud(), 19200u);
}

TEST_F(GpsSearchTest, ASilentPortIsDroppedWithoutTryingOtherSpeeds) {
    portMap_.Set({3, 6});
    FakeSerialDevice& silent = ports_.Add(3);
    FakeSerialDevice& garbage = ports_.Add(6);
    DeliverAlways(garbage, Garbage(100));
    search_.StartSearch();

    EXPECT_EQ(State(3), 0);
    EXPECT_EQ(SpeedsSet(silent), FirstSpeeds(1));
    // 13 waits for the silent port; one per speed for the port with enough bytes at once.
    EXPECT_EQ(threads_.Waits(), 13u + 7u);
    EXPECT_EQ(State(6), 8) << "garbage at every speed: stopped at the last";
    EXPECT_EQ(SpeedsSet(garbage), FirstSpeeds(7));
    EXPECT_EQ(hub_.search.FoundPort(), 0u);
    EXPECT_EQ(silent.OpenHandles() + garbage.OpenHandles(), 0u);
}

TEST_F(GpsSearchTest, APortUnpluggedDuringItsWaitsIsGivenUpAtOnce) {
    portMap_.Set({3});
    DeliverAlways(device_, Garbage(20));
    threads_.OnWait([&](uint32_t wait, uint32_t) {
        if (wait == 3) {
            // What Windows answers for a USB adapter pulled out under an open handle.
            device_.Fail(platform::testing::SerialOperation::ClearCommError, error::genFailure);
        }
    });
    search_.StartSearch();
    EXPECT_EQ(State(3), 0);
    EXPECT_EQ(threads_.Waits(), 3u) << "no more waiting on a port that has gone";
    EXPECT_EQ(SpeedsSet(device_), FirstSpeeds(1));
}

TEST_F(GpsSearchTest, PortsThatCannotBeOpenedAreGivenUpSilently) {
    portMap_.Set({2, 3, 9});
    ports_.Add(2).FailOpen(error::accessDenied); // another program holds it
    ports_.Add(3);
    hub_.inputPort->Open(); // the configured input port, still open: held shared
    ASSERT_TRUE(hub_.InputPortOpen());
    search_.StartSearch(); // COM9 does not exist
    for (uint32_t com : {2u, 3u, 9u}) {
        EXPECT_EQ(State(com), 0) << "COM" << com;
    }
    EXPECT_EQ(Count(), 0u);
    EXPECT_TRUE(hub_.InputPortOpen()) << "the input port is not taken away";
}

TEST_F(GpsSearchTest, AnOpenSlowerThan800MillisecondsMarksTheFoundPortAsBluetooth) {
    portMap_.Set({3});
    FakeSerialDevice& receiver = ports_.Add(3);
    DeliverAlways(receiver, rmc);

    receiver.OnOpen([&] { timing_.Advance(801); });
    hub_.search.applySearchResult = 1;
    search_.StartSearch();
    EXPECT_TRUE(search_.FoundSlowOpen());
    EXPECT_EQ(hub_.settings.bluetooth, 0u) << "a setting changes only when the result is applied";
    SearchOutcome outcome;
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_EQ(hub_.settings.bluetooth, 1u);

    port_->Close(); // the result's input port would keep the search out
    receiver.OnOpen([&] { timing_.Advance(800); });
    hub_.search.applySearchResult = 1;
    search_.StartSearch();
    EXPECT_FALSE(search_.FoundSlowOpen()) << "800 ms is not slow";
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_EQ(hub_.settings.bluetooth, 0u);
}

// ---- Which ports are tried --------------------------------------------------------------------

TEST_F(GpsSearchTest, TheHubsOwnVirtualPortsAreSkippedOnlyWhileTheControlDeviceIsOpen) {
    portMap_.Set({3, 7, 8}); // COM7 and COM8 are the driver's, listed in the map
    ports_.Add(3);
    ports_.Add(7);
    ports_.Add(8);
    ASSERT_TRUE(hub_.exchange.DeviceOpen());
    hub_.exchange.block.comNumber[0] = 7;
    hub_.exchange.block.comNumber[1] = 8;

    search_.StartSearch();
    EXPECT_EQ(ports_.OpenAttempts(), 1u) << "only COM3";
    EXPECT_EQ(State(7), 1) << "present, never tried";
    EXPECT_EQ(State(8), 1);
    char progress[searchProgressSize];
    FormatSearchProgress(hub_.search, progress);
    EXPECT_STREQ(progress, "7 ?, 8 ?, ");

    hub_.exchange.device.Close();
    search_.StartSearch();
    EXPECT_EQ(ports_.OpenAttempts(), 4u) << "COM3, COM7 and COM8";
    EXPECT_EQ(State(7), 0);
    EXPECT_EQ(State(8), 0);
}

TEST_F(GpsSearchTest, EachSearchScansThePortMapAfresh) {
    hub_.comDbBitmap.SetComBit(200, true);
    hub_.search.portScanState[200].store(5);
    portMap_.Set({4, 0, 256, -3});
    ports_.Add(4).FailOpen(error::accessDenied);
    search_.StartSearch();

    EXPECT_TRUE(hub_.comDbBitmap.IsTaken(4));
    EXPECT_FALSE(hub_.comDbBitmap.IsTaken(200)) << "cleared first";
    EXPECT_EQ(State(200), 0);
    EXPECT_EQ(ports_.OpenAttempts(), 1u) << "0, 256 and -3 name no port";

    portMap_.Set({}, error::fileNotFound); // the map cannot be opened
    search_.StartSearch();
    EXPECT_FALSE(hub_.comDbBitmap.IsTaken(4));
    EXPECT_EQ(ports_.OpenAttempts(), 1u);
    EXPECT_FALSE(search_.ThreadsRunning()) << "nothing to try: the search has ended";
}

// ---- Starting and ending ----------------------------------------------------------------------

TEST_F(DeferredSearchTest, AThreadThatCannotBeMadeIsNotCounted) {
    portMap_.Set({1, 2, 3});
    for (uint32_t com : {1u, 2u, 3u}) {
        DeliverAlways(ports_.Add(com), Garbage(100));
    }
    threads_.FailStart(2);
    search_.StartSearch();
    EXPECT_EQ(Count(), 2u);
    EXPECT_EQ(State(2), 0) << "shown as given up, not as waiting for ever";
    EXPECT_EQ(State(1), 1);
    threads_.RunDeferred();
    EXPECT_EQ(Count(), 0u);
    EXPECT_FALSE(search_.ThreadsRunning());
    EXPECT_EQ(ports_.Find(2)->Calls().size(), 0u) << "never opened";
}

TEST_F(GpsSearchTest, WithoutAnEventNoThreadIsStartedAndTheSearchEndsAtOnce) {
    portMap_.Set({1, 2});
    ports_.Add(1);
    threads_.FailEvents(true);
    hub_.search.applySearchResult = 1;
    EXPECT_TRUE(search_.StartSearch());
    EXPECT_EQ(threads_.StartCalls(), 0u);
    EXPECT_FALSE(search_.ThreadsRunning());
    EXPECT_EQ(State(1), 0);
    SearchOutcome outcome;
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_STREQ(outcome.statusText, "No GPS Found");
}

TEST_F(DeferredSearchTest, ASecondSearchWaitsUntilTheThreadsOfTheFirstHaveEnded) {
    portMap_.Set({1});
    DeliverAlways(ports_.Add(1), rmc);
    ASSERT_TRUE(search_.StartSearch());
    EXPECT_FALSE(search_.StartSearch());
    EXPECT_FALSE(search_.FindGps()) << "the main window's button is ignored meanwhile";
    EXPECT_EQ(threads_.Pending(), 1u);
    EXPECT_TRUE(timing_.Sleeps().empty());
    threads_.RunDeferred();
    EXPECT_EQ(hub_.search.FoundPort(), 1u);
    EXPECT_TRUE(search_.StartSearch());
    EXPECT_EQ(hub_.search.FoundPort(), 0u) << "a new search starts with nothing found";
}

TEST_F(DeferredSearchTest, TheFoundEventIsReleasedOnceEveryThreadHasEnded) {
    portMap_.Set({1, 2});
    DeliverAlways(ports_.Add(1), rmc);
    DeliverAlways(ports_.Add(2), Garbage(100));
    search_.StartSearch();
    EXPECT_EQ(threads_.EventsAlive(), 2u) << "the found event and the end-of-thread event";
    EXPECT_FALSE(search_.ReleaseFinished()) << "threads still to run";
    threads_.RunDeferred();
    EXPECT_TRUE(search_.ReleaseFinished());
    EXPECT_EQ(threads_.EventsAlive(), 1u);
    EXPECT_FALSE(search_.ReleaseFinished()) << "only once";

    // A new search makes its own event.
    search_.StartSearch();
    EXPECT_EQ(threads_.EventsMade(), 3u);
    threads_.RunDeferred();
}

// ---- Cancelling -------------------------------------------------------------------------------

// Counts what happens to the ports the search opens.
class TrackedSerialPorts final : public platform::SerialPorts {
public:
    explicit TrackedSerialPorts(platform::SerialPorts& inner) : inner_(inner) {}

    std::unique_ptr<platform::SerialPort> Open(uint32_t comNumber, platform::SerialSharing sharing,
                                               uint32_t& error) override {
        std::unique_ptr<platform::SerialPort> port = inner_.Open(comNumber, sharing, error);
        if (port == nullptr) {
            return nullptr;
        }
        ++opened;
        return std::make_unique<Tracked>(std::move(port), *this);
    }

    uint32_t opened = 0;
    uint32_t destroyed = 0;
    uint32_t destroyedOpen = 0; // destroyed without Close having been called
    uint32_t closeCalls = 0;

private:
    class Tracked final : public platform::SerialPort {
    public:
        Tracked(std::unique_ptr<platform::SerialPort> inner, TrackedSerialPorts& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        ~Tracked() override {
            ++owner_.destroyed;
            if (!closed_) {
                ++owner_.destroyedOpen;
            }
        }
        uint32_t SetupComm(uint32_t in, uint32_t out) override {
            return inner_->SetupComm(in, out);
        }
        uint32_t SetCommTimeouts(const platform::CommTimeouts& timeouts) override {
            return inner_->SetCommTimeouts(timeouts);
        }
        uint32_t GetCommState(platform::Dcb& state) override { return inner_->GetCommState(state); }
        uint32_t SetCommState(const platform::Dcb& state) override {
            return inner_->SetCommState(state);
        }
        uint32_t ClearCommError(uint32_t& errors, platform::ComStat& status) override {
            return inner_->ClearCommError(errors, status);
        }
        uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
            return inner_->Read(buffer, size, got);
        }
        uint32_t Write(const void* data, uint32_t size, uint32_t& written) override {
            return inner_->Write(data, size, written);
        }
        void Close() override {
            ++owner_.closeCalls;
            closed_ = true;
            inner_->Close();
        }

    private:
        std::unique_ptr<platform::SerialPort> inner_;
        TrackedSerialPorts& owner_;
        bool closed_ = false;
    };

    platform::SerialPorts& inner_;
};

class CancelTest : public ::testing::Test {
protected:
    CancelTest()
        : driver_({firstVirtualCom, 0, 0, 0, 0, 0, 0, 0}),
          hub_({tracked_, driver_.Control(), memory_, clock_, timing_}),
          search_(hub_, portMap_, &threads_) {
        portMap_.Set({1, 2, 3});
        for (uint32_t com : {1u, 2u, 3u}) {
            DeliverAlways(ports_.Add(com), Garbage(20)); // waits out every speed
        }
    }
    ~CancelTest() override { EndFakeThreads(threads_, hub_.search); }

    uint8_t State(uint32_t com) const { return hub_.search.portScanState[com].load(); }

    platform::testing::FakeSerialPorts ports_;
    TrackedSerialPorts tracked_{ports_};
    driver::usermode::InProcessDriver driver_;
    NoSharedMemory memory_;
    platform::RecordingSystemClock clock_;
    platform::testing::FakeTiming timing_;
    platform::testing::FakeSerialPortMap portMap_;
    FakeThreads threads_{FakeThreads::Start::Deferred};
    HubContext hub_;
    GpsSearch search_;
};

TEST_F(CancelTest, ACancelDuringAWaitEndsEveryThreadAndClosesEachPortOnce) {
    search_.StartSearch();
    // COM1's thread is waiting at 9600 when the main window cancels.
    threads_.OnWait([&](uint32_t wait, uint32_t) {
        if (wait == 16) {
            ASSERT_EQ(State(1), 3);
            search_.CancelSearch();
        }
    });
    threads_.RunDeferred();

    EXPECT_FALSE(search_.ThreadsRunning());
    for (uint32_t com : {1u, 2u, 3u}) {
        EXPECT_EQ(State(com), 0) << "COM" << com << " ends as a silent port";
        EXPECT_EQ(ports_.Find(com)->OpenHandles(), 0u);
    }
    EXPECT_EQ(tracked_.opened, 1u) << "the threads that had not opened yet do not";
    EXPECT_EQ(threads_.Waits(), 16u) << "COM1 stopped at its next look at the port";
    EXPECT_EQ(SpeedsSet(*ports_.Find(1)), FirstSpeeds(2));
    EXPECT_EQ(hub_.search.FoundPort(), 0u);
    for (const auto& slot : hub_.search.scanHandles) {
        EXPECT_EQ(slot.load(), nullptr);
    }

    // The cancel closed COM1's handle; the thread left the object to the search.
    EXPECT_EQ(tracked_.closeCalls, 1u);
    EXPECT_EQ(tracked_.destroyed, 0u);
    EXPECT_TRUE(search_.ReleaseFinished());
    EXPECT_EQ(tracked_.destroyed, 1u);
    EXPECT_EQ(tracked_.destroyedOpen, 0u);
}

TEST_F(CancelTest, NothingFoundAfterTheCancelIsPublished) {
    DeliverAlways(*ports_.Find(2), rmc);
    search_.StartSearch();
    search_.CancelSearch(); // before any thread has run
    threads_.RunDeferred();
    EXPECT_EQ(hub_.search.FoundPort(), 0u);
    EXPECT_EQ(tracked_.opened, 0u);
    for (uint32_t com : {1u, 2u, 3u}) {
        EXPECT_EQ(State(com), 0);
    }
}

TEST_F(CancelTest, ThreadsThatEndOnTheirOwnCloseAndFreeTheirPortsThemselves) {
    search_.StartSearch();
    threads_.RunDeferred();
    EXPECT_EQ(tracked_.opened, 3u);
    EXPECT_EQ(tracked_.destroyed, 3u);
    EXPECT_EQ(tracked_.destroyedOpen, 0u);
    search_.CancelSearch(); // nothing left to close
    EXPECT_EQ(tracked_.closeCalls, 3u);
}

// ---- The result -------------------------------------------------------------------------------

TEST_F(GpsSearchTest, FindGpsClosesTheInputPortWaitsAndAppliesWhatItFound) {
    portMap_.Set({3, 5});
    DeliverAlways(device_, Garbage(100));
    FakeSerialDevice& receiver = ports_.Add(5);
    DeliverAtSpeed(receiver, 57600, rmc, Garbage(100));
    hub_.settings.bluetooth = 1;
    port_->Open();
    ASSERT_TRUE(hub_.InputPortOpen());

    ASSERT_TRUE(search_.FindGps());
    // The port closes at once and settles for 100 ms while the loop goes on.
    EXPECT_FALSE(hub_.InputPortOpen());
    EXPECT_EQ(hub_.loop.lastStatus, 5u);
    EXPECT_TRUE(timing_.Sleeps().empty());
    timing_.Advance(99);
    EXPECT_FALSE(search_.FindWhenDue());
    EXPECT_EQ(hub_.search.scanning.load(), 0);
    timing_.Advance(1);
    ASSERT_TRUE(search_.FindWhenDue());
    EXPECT_FALSE(search_.FindWhenDue()) << "once";
    EXPECT_EQ(State(3), 8) << "the closed input port was tried like any other";
    EXPECT_EQ(hub_.settings.port, 3u) << "not applied before the main window asks";

    SearchOutcome outcome;
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_TRUE(outcome.found);
    EXPECT_STREQ(outcome.statusText, "GPS on COM5 at 57600");
    EXPECT_EQ(hub_.settings.port, 5u);
    EXPECT_EQ(hub_.settings.baud, 57600u);
    EXPECT_EQ(hub_.settings.bluetooth, 0u);
    EXPECT_EQ(hub_.search.applySearchResult, 0);
    ASSERT_TRUE(hub_.InputPortOpen());
    EXPECT_EQ(port_->portNumber, 5);
    EXPECT_EQ(receiver.State().BaudRate, 57600u);
    EXPECT_FALSE(search_.ApplySearchResult(outcome)) << "applied once";
}

TEST_F(GpsSearchTest, NoGpsFoundReopensTheConfiguredPort) {
    portMap_.Set({3});
    DeliverAlways(device_, Garbage(100));
    ASSERT_TRUE(search_.FindGps());
    timing_.Advance(100);
    ASSERT_TRUE(search_.FindWhenDue());
    EXPECT_FALSE(hub_.InputPortOpen());
    SearchOutcome outcome;
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_FALSE(outcome.found);
    EXPECT_STREQ(outcome.statusText, "No GPS Found");
    EXPECT_EQ(hub_.settings.port, 3u);
    EXPECT_EQ(hub_.settings.baud, 4800u);
    EXPECT_TRUE(hub_.InputPortOpen());
}

TEST_F(GpsSearchTest, AnInputPortOpenedDuringTheSearchOnTheOldPortMovesToTheFoundOne) {
    portMap_.Set({5});
    FakeSerialDevice& receiver = ports_.Add(5);
    DeliverAtSpeed(receiver, 38400, rmc, Garbage(100));
    hub_.search.applySearchResult = 1;
    search_.StartSearch();
    port_->Open(); // the timer loop's idle re-open of COM3 before the main window's timer
    ASSERT_EQ(port_->portNumber, 3);

    SearchOutcome outcome;
    ASSERT_TRUE(search_.ApplySearchResult(outcome));
    EXPECT_EQ(port_->portNumber, 5);
    EXPECT_EQ(device_.OpenHandles(), 0u) << "COM3 let go";
    EXPECT_EQ(receiver.State().BaudRate, 38400u);
}

} // namespace
} // namespace tavro::testing
