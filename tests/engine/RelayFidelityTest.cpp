// Relay fidelity: receiver streams played through the whole hub engine at the line's own pace,
// with relay on arrival and with the tick's relay, reach a virtual port byte for byte. The
// receiver keeps sending while the hub has its port closed, and closing empties the port's
// queue, as on a real line: a needless re-open shows as a hole in what the program read.
// Binary streams (zero bytes anywhere) in the tree always; gpsd's whole set where
// TAVRO_GPSD_LOGS names its folder (at 4800 baud its binary logs only).
#include "tests/decode/CorpusSupport.h"
#include "tests/decode/GpsdLogs.h"
#include "tests/engine/HubEngineFixture.h"
#include "tests/support/Corpus.h"

#include <stdlib.h>

#include <algorithm>

namespace tavro::testing {
namespace {

using platform::testing::FakeSerialDevice;
using platform::testing::FakeTiming;

// A receiver sending `data` without pause at `baud` (10 bits a byte), timed by the hub's tick
// count: bytes that fall due while no handle is open are lost on the line.
class PacedLine {
public:
    PacedLine(FakeTiming& timing, FakeSerialDevice& device, std::string_view data, uint32_t baud)
        : timing_(timing), device_(device), data_(data), baud_(baud),
          start_(timing.GetTickCount()) {}

    void CatchUp() {
        const uint64_t elapsed = timing_.GetTickCount() - start_;
        const size_t due =
            static_cast<size_t>(std::min<uint64_t>(elapsed * baud_ / 10000, data_.size()));
        if (device_.OpenHandles() != 0) {
            device_.QueueInput(data_.substr(sent_, due - sent_));
        }
        sent_ = due;
    }
    bool Done() const { return sent_ == data_.size(); }

private:
    FakeTiming& timing_;
    FakeSerialDevice& device_;
    std::string_view data_;
    uint32_t baud_;
    uint32_t start_;
    size_t sent_ = 0;
};

struct Pace {
    uint32_t baud;
    uint32_t immediateRelay;
};

class RelayFidelity : public HubEngineFixture, public ::testing::WithParamInterface<Pace> {
protected:
    RelayFidelity() {
        StoreSetting("Baud", GetParam().baud);
        StoreSetting("Immediate Relay", GetParam().immediateRelay);
        StoreSetting("Sync", 0);
    }

    void SetUp() override {
        StartAndOpen();
        application_ = Application();
        receiver_.EmptyInputOnClose(true);
    }

    // Plays `data` from a fresh open of the port, as the timer loop's re-open makes it; what
    // the program on the virtual port read.
    std::string Play(std::string_view data) {
        Port().Close();
        Port().Open();
        Hub().loop.dataTicks = 0;
        PacedLine line(timing_, receiver_, data, GetParam().baud);
        receiver_.OnOpen([&line] { line.CatchUp(); }); // bytes sent while the port is closed
        const bool arrival = GetParam().immediateRelay != 0;
        const uint32_t step = arrival ? 5 : hubTickPeriodMs;
        std::string relayed;
        uint32_t sinceTick = 0;
        // After the last byte, ticks enough for the tick's relay to read the backlog.
        const uint32_t drainSteps = 4 * hubTickPeriodMs / step;
        for (uint32_t after = 0; after < drainSteps;) {
            timing_.Advance(step);
            line.CatchUp();
            if (arrival) {
                platform::WaitEntry entries[4];
                const uint32_t count = engine_.CollectWaits(entries, 4);
                for (uint32_t i = 0; i < count; ++i) {
                    if (entries[i].events == platform::waitInput) {
                        engine_.WaitReady(entries[i].token, platform::waitInput);
                    }
                }
            }
            sinceTick += step;
            if (sinceTick >= hubTickPeriodMs) {
                sinceTick = 0;
                Tick();
            }
            for (std::string read = application_->ReadNow(); !read.empty();
                 read = application_->ReadNow()) {
                relayed += read;
            }
            if (line.Done() && receiver_.Unread() == 0) {
                ++after;
            }
        }
        receiver_.OnOpen(nullptr);
        return relayed;
    }

    // Every stream reaches the program as sent; prints one line per stream.
    void ExpectEveryByte(const std::vector<std::pair<std::string, std::string>>& streams) {
        size_t exact = 0;
        for (const auto& [name, data] : streams) {
            const std::string relayed = Play(data);
            const auto [sent, got] =
                std::mismatch(data.begin(), data.end(), relayed.begin(), relayed.end());
            const bool same = relayed == data;
            exact += same ? 1 : 0;
            EXPECT_TRUE(same) << name << ": " << relayed.size() << " of " << data.size()
                              << " bytes, first difference at " << (sent - data.begin());
        }
        printf("  %u baud, Immediate Relay %u: %zu of %zu streams byte-exact; dropped: %llu "
               "(speed change), %llu (re-open)\n",
               GetParam().baud, GetParam().immediateRelay, exact, streams.size(),
               static_cast<unsigned long long>(Hub().drops.Bytes(DropCause::SpeedChange)),
               static_cast<unsigned long long>(Hub().drops.Bytes(DropCause::Reopen)));
        EXPECT_EQ(Hub().drops.Bytes(DropCause::SpeedChange), 0u);
    }

    std::unique_ptr<driver::usermode::ApplicationPort> application_;
};

// Bytes other than printable text, CR, LF and TAB: a binary protocol.
bool IsBinary(std::string_view data) {
    return std::any_of(data.begin(), data.end(), [](char c) {
        const auto byte = static_cast<uint8_t>(c);
        return byte >= 0x7F || (byte < 0x20 && byte != '\r' && byte != '\n' && byte != '\t');
    });
}

std::vector<std::pair<std::string, std::string>> LogStreams(const std::string& folder,
                                                            bool binaryOnly) {
    std::vector<std::pair<std::string, std::string>> streams;
    for (const std::string& name : GpsdLogNames(folder)) {
        std::string data = ReceiverBytes(ReadFile(folder + "/" + name + ".log"));
        if (!binaryOnly || IsBinary(data)) {
            streams.emplace_back(name, std::move(data));
        }
    }
    return streams;
}

// A binary frame of `length` bytes without a line feed, seeded so that streams differ.
std::string BinaryBytes(size_t length, uint8_t seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 37 + seed) % 251 + 1); // never 0, never "\n"
        if (bytes[i] == '\n') {
            bytes[i] = 'n';
        }
    }
    return bytes;
}

TEST_P(RelayFidelity, BinaryStreamsPassUntouched) {
    std::string zeroAt510 = BinaryBytes(3000, 1);
    zeroAt510[510] = '\0';
    std::string zeroLed = BinaryBytes(3000, 2);
    zeroLed[0] = '\0';
    std::string zeroRuns = BinaryBytes(3000, 3);
    for (const size_t at : {0, 509, 510, 1020, 1021, 2000}) {
        zeroRuns.replace(at, 8, 8, '\0');
    }
    std::vector<std::pair<std::string, std::string>> streams = {
        {"frame of zero-led binary at byte 510", zeroAt510},
        {"zero-led binary", zeroLed},
        {"runs of zero bytes", zeroRuns},
    };
    for (auto& stream : LogStreams(std::string(TAVRO_TEST_DATA_DIR) + "/gpsd", true)) {
        streams.push_back(std::move(stream));
    }
    if (CorpusMissingReason().empty()) {
        for (auto& stream : LogStreams(CorpusDir() + "/gpsd/sirf", false)) {
            streams.push_back(std::move(stream));
        }
    } else if (CorpusRequired()) {
        FAIL() << CorpusMissingReason();
    }
    ExpectEveryByte(streams);
}

TEST_P(RelayFidelity, EveryGpsdLog) {
    const char* folder = getenv("TAVRO_GPSD_LOGS");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "set TAVRO_GPSD_LOGS to gpsd's test/daemon folder to play its logs";
    }
    // Pacing every text log at 4800 baud takes long and shows nothing the binary ones do not.
    ExpectEveryByte(LogStreams(folder, GetParam().baud < 115200));
}

INSTANTIATE_TEST_SUITE_P(LineRates, RelayFidelity,
                         ::testing::Values(Pace{4800, 1}, Pace{4800, 0}, Pace{115200, 1},
                                           Pace{115200, 0}),
                         [](const ::testing::TestParamInfo<Pace>& info) {
                             return std::to_string(info.param.baud) +
                                    (info.param.immediateRelay != 0 ? "OnArrival" : "OnTick");
                         });

} // namespace
} // namespace tavro::testing
