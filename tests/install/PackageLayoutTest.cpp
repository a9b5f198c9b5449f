// The build's packaging step (hub/win32/PackageHub.cmake) on made-up hub and driver images:
// what it accepts the installer extracts whole, and every layout the installer would misread
// stops the build with its reason and leaves no package behind.
#include "InstallerFixture.h"
#include "tests/settings/TestRegistries.h"

#include <stdio.h>
#include <sys/wait.h>

#include <fstream>

namespace tavro::testing {
namespace {

struct PackagerRun {
    int exitCode;
    std::string output;
};

class PackageLayout : public InstallerFixture {
protected:
    std::string PathOf(const std::string& name) const { return folder_.Path() + "/" + name; }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream out(PathOf(name), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Packages hub.exe and driver.sys into Tavro.exe.
    PackagerRun Package(const std::string& hub, const std::string& driver) {
        Write("hub.exe", hub);
        Write("driver.sys", driver);
        const std::string command = std::string("'") + TAVRO_CMAKE_COMMAND + "' -DHUB_IMAGE='" +
                                    PathOf("hub.exe") + "' -DDRIVER='" + PathOf("driver.sys") +
                                    "' -DOUTPUT='" + PathOf("Tavro.exe") + "' -DWORK='" +
                                    PathOf("work") + "' -P '" + TAVRO_PACKAGE_SCRIPT + "' 2>&1";
        PackagerRun run{-1, {}};
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return run;
        }
        char chunk[512];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) != 0) {
            run.output.append(chunk, got);
        }
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        // CMake wraps its messages: one blank for every run of white space.
        std::string flat;
        for (char c : run.output) {
            const bool blank = c == ' ' || c == '\n';
            if (!blank || flat.empty() || flat.back() != ' ') {
                flat.push_back(blank ? ' ' : c);
            }
        }
        run.output = flat;
        return run;
    }

    bool PackageExists() const { return std::ifstream(PathOf("Tavro.exe")).good(); }
    std::string PackageBytes() const { return ReadFile(PathOf("Tavro.exe")); }

    // The installer, run on the package as its own program file.
    std::string Extracted() {
        SetProgram(PackageBytes());
        EXPECT_TRUE(installer_.ExtractDriver(false)) << ::testing::PrintToString(Messages());
        return files_.Contents(driverFile);
    }

    TemporaryFolder folder_;
};

TEST_F(PackageLayout, AppendsTheDriverBehindTheHubForTheInstaller) {
    const std::string hub = HubImage(70000);
    const std::string driver = DriverImage(40000);
    const PackagerRun run = Package(hub, driver);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("110000 of 157696 bytes (47696 to spare)"), std::string::npos)
        << run.output;
    EXPECT_EQ(PackageBytes(), hub + driver);
    EXPECT_EQ(ReadFile(PathOf("work/TavroImage.exe")), hub);
    EXPECT_EQ(Extracted(), driver);
}

TEST_F(PackageLayout, ADriverEndingExactlyAtTheWindowFits) {
    const std::string driver = DriverImage(packageWindow - 90000);
    const PackagerRun run = Package(HubImage(90000), driver);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Extracted(), driver);
}

TEST_F(PackageLayout, AShortHubIsPaddedSoTheDriverBeginsInTheSecondPiece) {
    const std::string hub = HubImage(20000);
    const std::string driver = DriverImage(30000);
    const PackagerRun run = Package(hub, driver);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string package = PackageBytes();
    ASSERT_EQ(package.size(), packageFirstPiece + driver.size());
    EXPECT_EQ(package.substr(0, hub.size()), hub);
    EXPECT_EQ(package.substr(hub.size(), packageFirstPiece - hub.size()),
              std::string(packageFirstPiece - hub.size(), ' '));
    EXPECT_EQ(Extracted(), driver);
}

TEST_F(PackageLayout, TheSignatureInTheHubsFirstPieceIsAllowed) {
    std::string hub = HubImage(70000);
    hub.replace(50000, 4, std::string("\x4D\x5A\x90\x00", 4));
    const std::string driver = DriverImage(30000);
    const PackagerRun run = Package(hub, driver);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Extracted(), driver);
}

TEST_F(PackageLayout, DigitsThatOnlyLookLikeTheSignatureAcrossBytesAreNoSignature) {
    // 14 D5 A9 00 0F: "4d5a9000" as hex text, but not on a byte boundary.
    std::string hub = HubImage(70000);
    hub.replace(60000, 5, std::string("\x14\xD5\xA9\x00\x0F", 5));
    const std::string driver = DriverImage(30000);
    const PackagerRun run = Package(hub, driver);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Extracted(), driver);
}

TEST_F(PackageLayout, TheSignatureInTheHubsSecondPieceStopsTheBuild) {
    std::string hub = HubImage(70000);
    hub.replace(60001, 4, std::string("\x4D\x5A\x90\x00", 4));
    Write("Tavro.exe", "an old package");
    const PackagerRun run = Package(hub, DriverImage(30000));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.output.find("4D 5A 90 00 at offset 60001"), std::string::npos) << run.output;
    EXPECT_FALSE(PackageExists());
}

TEST_F(PackageLayout, ADriverEndingBeyondTheWindowStopsTheBuild) {
    const PackagerRun run = Package(HubImage(90000), DriverImage(packageWindow - 90000 + 1));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.output.find("1 more than the 157696"), std::string::npos) << run.output;
    EXPECT_FALSE(PackageExists());
}

TEST_F(PackageLayout, ADriverWithoutTheSignatureStopsTheBuild) {
    std::string driver = DriverImage(30000);
    driver[2] = 0x00;
    const PackagerRun run = Package(HubImage(70000), driver);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.output.find("does not begin with 4D 5A 90 00"), std::string::npos) << run.output;
    EXPECT_FALSE(PackageExists());
}

} // namespace
} // namespace tavro::testing
