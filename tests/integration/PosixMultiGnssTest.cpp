// Multi-constellation receivers end to end, with real processes: the five recordings of such
// receivers played once by gps-sim into `tavro run` ("Multi GNSS" at its default, on), every
// byte reaching a program on a virtual port and the recording's last fix in the status block;
// and `tavro find` finding gps-sim as a multi-constellation receiver.
#include "tests/integration/PosixProcess.h"
#include "tests/support/Corpus.h"

#include "common/GpsSharedStatus.h"
#include "common/SatelliteIds.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace tavro::testing {
namespace {

using namespace std::chrono_literals;

// One receiver with its own hub: a COM directory, settings folder and status block of its own.
class Station {
public:
    explicit Station(const std::string& name) : name_(name) {
        const PrivateStage stage = MakePrivateStage("tavro-gnss");
        root_ = stage.root;
        shm_ = stage.shm;
        environment_ = stage.environment;
    }
    ~Station() {
        client_.reset();
        if (hub_ != nullptr && hub_->Running()) {
            hub_->Stop(SIGTERM);
        }
        hub_.reset();
        sim_.reset();
        if (::testing::Test::HasFailure()) {
            std::fprintf(stderr, "--- %s: hub log\n%s--- gps-sim log\n%s--- end\n", name_.c_str(),
                         FileText(root_ + "/hub.log").c_str(),
                         FileText(root_ + "/sim.log").c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    int Tavro(const std::vector<std::string>& arguments, std::string& output) {
        std::vector<std::string> command = {TAVRO_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return RunProgram(command, environment_, output, root_ + "/tool.out");
    }
    bool Set(const std::string& name, const std::string& value) {
        std::string output;
        return Tavro({"config", "set", name, value}, output) == 0;
    }
    std::string Link(int comNumber) const { return root_ + "/dev/COM" + std::to_string(comNumber); }

    bool StartSim(const std::vector<std::string>& options) {
        std::vector<std::string> command = {GPS_SIM_PATH, "--com", "1", "--log",
                                            root_ + "/sim.log"};
        command.insert(command.end(), options.begin(), options.end());
        sim_ = std::make_unique<ChildProcess>(command, environment_, root_ + "/sim.log");
        return Within(10s, [&] { return std::filesystem::is_symlink(Link(1)); });
    }
    bool StartHub() {
        hub_ = std::make_unique<ChildProcess>(std::vector<std::string>{TAVRO_PATH, "run"},
                                              environment_, root_ + "/hub.log");
        return Within(10s, [&] { return std::filesystem::is_symlink(Link(5)); });
    }
    bool StartClient() {
        client_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{TEST_CLIENT_PATH, Link(5), Received()}, environment_,
            root_ + "/client.log", true);
        return Within(10s, [&] { return std::filesystem::exists(Received()); });
    }
    std::string Received() const { return root_ + "/client.out"; }

    // The hub's status block as any reader maps it.
    bool ReadBlock(GpsSharedStatus& block) const {
        const int fd = shm_open(shm_.c_str(), O_RDONLY, 0);
        if (fd < 0) {
            return false;
        }
        void* view = mmap(nullptr, sizeof block, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (view == MAP_FAILED) {
            return false;
        }
        std::memcpy(&block, view, sizeof block);
        munmap(view, sizeof block);
        return true;
    }

private:
    std::string name_;
    std::string root_;
    std::string shm_;
    Environment environment_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> hub_;
    std::unique_ptr<ChildProcess> client_;
};

// The last fix of a recording, read from its text: the last GGA with a fix, the last RMC.
struct LastFix {
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    int hour = -1, minute = 0, second = 0, day = 0, month = 0, year = 0;
};

std::vector<std::string> FieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream text(line.substr(0, line.find('*')));
    std::string field;
    while (std::getline(text, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

double Degrees(const std::string& text, const std::string& hemisphere) {
    const double value = std::atof(text.c_str());
    const double degrees = std::floor(value / 100) + std::fmod(value, 100) / 60;
    return hemisphere == "S" || hemisphere == "W" ? -degrees : degrees;
}

LastFix LastFixOf(const std::string& data) {
    LastFix fix;
    std::stringstream lines(data);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = FieldsOf(line);
        if (f.empty() || f[0].size() != 6) {
            continue;
        }
        if (f[0].substr(3) == "GGA" && f.size() > 9 && std::atoi(f[6].c_str()) > 0) {
            fix.latitude = Degrees(f[2], f[3]);
            fix.longitude = Degrees(f[4], f[5]);
            fix.altitude = std::atof(f[9].c_str());
        }
        if (f[0].substr(3) == "RMC" && f.size() > 9 && f[1].size() >= 6 && f[9].size() >= 6) {
            fix.hour = std::stoi(f[1].substr(0, 2));
            fix.minute = std::stoi(f[1].substr(2, 2));
            fix.second = std::stoi(f[1].substr(4, 2));
            fix.day = std::stoi(f[9].substr(0, 2));
            fix.month = std::stoi(f[9].substr(2, 2));
            fix.year = 2000 + std::stoi(f[9].substr(4, 2));
        }
    }
    return fix;
}

TEST(PosixMultiGnss, RecordingsPlayedIntoTheHubShowTheirLastFixAndReachAVirtualPort) {
    TAVRO_NEEDS_CORPUS();
    const char* const recordings[] = {"neo-m8n", "ublox-neo-m9n-nmea", "quectel-l76k-nmea",
                                      "st-teseo-liv3f", "unicore-um621"};
    std::vector<std::unique_ptr<Station>> stations;
    std::vector<std::string> data;
    for (const char* name : recordings) {
        const std::string path = CorpusRoot() + "/gpsd/nmea/" + name + ".log";
        std::string log = FileText(path);
        size_t header = 0;
        while (header < log.size() && log[header] == '#') {
            header = log.find('\n', header) + 1;
        }
        data.push_back(log.substr(header));
        stations.push_back(std::make_unique<Station>(name));
        Station& station = *stations.back();
        // The input port opens once the client is on its virtual port ("Battery Saver"), and
        // gps-sim plays the recording once from then on: the client hears every byte. 57600
        // baud stays below what the hub reads in its 50 ms ticks.
        ASSERT_TRUE(station.Set("Port", "1") && station.Set("Baud", "57600") &&
                    station.Set("Port0", "5") && station.Set("Battery Saver", "on"));
        ASSERT_TRUE(
            station.StartSim({"--baud", "57600", "--replay", path, "--once", "--no-garbage"}))
            << name;
        ASSERT_TRUE(station.StartHub()) << name;
        ASSERT_TRUE(station.StartClient()) << name;
    }
    for (size_t i = 0; i < stations.size(); ++i) {
        const char* name = recordings[i];
        Station& station = *stations[i];
        ASSERT_TRUE(Within(
            120s, [&] { return std::filesystem::file_size(station.Received()) >= data[i].size(); }))
            << name << ": " << std::filesystem::file_size(station.Received()) << " of "
            << data[i].size() << " bytes";
        EXPECT_TRUE(FileText(station.Received()) == data[i]) << name << ": other bytes arrived";

        GpsSharedStatus block{};
        ASSERT_TRUE(station.ReadBlock(block)) << name;
        const LastFix fix = LastFixOf(data[i]);
        EXPECT_NEAR(block.latitude, fix.latitude, 1e-5) << name;
        EXPECT_NEAR(block.longitude, fix.longitude, 1e-5) << name;
        EXPECT_NEAR(block.altitude, fix.altitude, 1e-3) << name;
        const SystemTime& t = block.utcTime;
        EXPECT_EQ(
            (std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}),
            (std::vector<int>{fix.year, fix.month, fix.day, fix.hour, fix.minute, fix.second}))
            << name;
        EXPECT_GT(block.satsUsed, 0) << name;
        EXPECT_GT(block.satsInView, 12) << name << ": several constellations in view";

        std::string json;
        EXPECT_EQ(station.Tavro({"status", "--json"}, json), 0) << name;
        EXPECT_NE(json.find("\"constellation\":\"GLONASS\""), std::string::npos) << json;
    }
}

// `tavro find` against gps-sim tracking four constellations; scripts/find-multi-gnss.sh makes
// the ten trials per speed.
TEST(PosixMultiGnss, FindFindsAMultiConstellationReceiver) {
    for (const char* baud : {"4800", "115200"}) {
        Station station("find");
        ASSERT_TRUE(station.StartSim(
            {"--baud", baud, "--constellations", "gps,glonass,galileo,beidou", "--seed", "3"}));
        std::string output;
        EXPECT_EQ(station.Tavro({"find"}, output), 0) << output;
        EXPECT_NE(output.find(std::string("GPS on COM1 at ") + baud + "\n"), std::string::npos)
            << output;
    }
}

} // namespace
} // namespace tavro::testing
