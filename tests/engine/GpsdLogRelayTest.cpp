// gpsd's receiver logs through the input port with "NMEA Filter" off: whatever the decoder makes
// of their lines, every byte reaches the virtual ports as the receiver sent it, in order. The
// logs kept in the tree always; gpsd's whole set where TAVRO_GPSD_LOGS names its folder.
#include "tests/decode/GpsdLogs.h"
#include "tests/engine/HubFixture.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace tavro::testing {
namespace {

std::vector<std::string> Logs(const std::string& folder) {
    std::vector<std::string> paths;
    for (const std::string& name : GpsdLogNames(folder)) {
        paths.push_back(folder + "/" + name + ".log");
    }
    return paths;
}

class GpsdLogRelay : public HubFixture {
protected:
    // Plays each log's receiver bytes in reads of one tick at 38400 baud; the bytes relayed.
    void ExpectEveryByteRelayed(const std::vector<std::string>& paths) {
        hub_.settings.baud = 38400;
        port_->Open();
        ASSERT_TRUE(port_->IsOpen());
        auto application = Application();
        size_t bytes = 0;
        for (const std::string& path : paths) {
            std::ifstream file(path, std::ios::binary);
            std::ostringstream content;
            content << file.rdbuf();
            const std::string data = ReceiverBytes(content.str());
            std::string relayed;
            for (size_t at = 0; at < data.size(); at += 192) {
                Feed(std::string_view(data).substr(at, 192));
                relayed += application->ReadNow();
            }
            EXPECT_TRUE(relayed == data) << path << ": " << relayed.size() << " of " << data.size()
                                         << " bytes relayed as sent";
            bytes += data.size();
        }
        printf("  %zu logs, %zu bytes relayed as sent\n", paths.size(), bytes);
    }
};

TEST_F(GpsdLogRelay, EveryByteOfTheLogsInTheTreeReachesTheVirtualPorts) {
    for (const uint32_t multiGnss : {1u, 0u}) {
        hub_.settings.multiGnss = multiGnss;
        ExpectEveryByteRelayed(Logs(std::string(TAVRO_TEST_DATA_DIR) + "/gpsd"));
    }
}

TEST_F(GpsdLogRelay, EveryByteOfGpsdsLogsReachesTheVirtualPorts) {
    const char* folder = getenv("TAVRO_GPSD_LOGS");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "set TAVRO_GPSD_LOGS to gpsd's test/daemon folder to play its logs";
    }
    ExpectEveryByteRelayed(Logs(folder));
}

} // namespace
} // namespace tavro::testing
