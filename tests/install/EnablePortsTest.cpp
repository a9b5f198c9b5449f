// "Enable Ports" ticked and unticked: the driver installed and opened with its version checked
// and the virtual ports' numbers marked taken, or removed again when no client uses a port.
#include "InstallerFixture.h"

namespace tavro::testing {
namespace {

using Strings = std::vector<std::string>;
using EnablePorts = InstallerFixture;

TEST_F(EnablePorts, InstallsStartsOpensAndMarksTheNumbersTaken) {
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);

    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(installer_.DeviceOpen());
    EXPECT_EQ(files_.Contents(driverFile), DriverImage(driverSize));
    ASSERT_TRUE(ServiceInstalled());
    EXPECT_TRUE(services_.Find("Tavro")->running);
    EXPECT_EQ(driver_.ComNumbers()[0], 5u);
    EXPECT_EQ(driver_.ComNumbers()[1], 7u);
    // One exchange after opening: the driver's numbers and version are in the holder.
    EXPECT_EQ(exchange_.version, driverInterfaceVersion);
    EXPECT_EQ(bitmap_.marks, (Strings{"+5", "+7"}));
    EXPECT_EQ(bitmap_.changes, 1u);
    EXPECT_EQ(settings_.version, 304u);
}

TEST_F(EnablePorts, WithoutANumberForVirtualPortOneNothingIsInstalled) {
    exchange_.comNumber[0] = 0;
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);
    EXPECT_EQ(Messages(), Strings{"No output ports selected"});
    EXPECT_TRUE(files_.Calls().empty());
    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_TRUE(bitmap_.marks.empty());
}

TEST_F(EnablePorts, WithoutAdminRightsTheDriverFileIsRefusedAndNothingIsInstalled) {
    WithoutAdminRights();
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::ExtractionFailed);
    EXPECT_EQ(Messages(), Strings{"Error: You do not have proper rights"});
    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_FALSE(installer_.DeviceOpen());
    EXPECT_EQ(bitmap_.changes, 0u);
}

TEST_F(EnablePorts, AManagerThatRefusesAfterTheFileWasWrittenLeavesThePortsDisabled) {
    services_.DenyManager(error::accessDenied);
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);
    EXPECT_EQ(Messages(), Strings{"Can't open service manager\rAdmin rights required"});
    EXPECT_FALSE(installer_.DeviceOpen());
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_EQ(bitmap_.changes, 0u);
}

TEST_F(EnablePorts, ADriverOfAnotherVersionIsClosedAgain) {
    driver_.version = 0x0102;
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);
    EXPECT_EQ(Messages(), Strings{"Invalid Tavro driver version"});
    EXPECT_FALSE(installer_.DeviceOpen());
    // The ports are not enabled, so their numbers are not taken by the hub.
    EXPECT_TRUE(bitmap_.marks.empty());
}

TEST_F(EnablePorts, EnablingOpenPortsDoesNothing) {
    ASSERT_EQ(installer_.EnablePorts(nullptr), PortsCommand::Done);
    services_.ClearCalls();
    files_.ClearCalls();
    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);
    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_TRUE(files_.Calls().empty());
    EXPECT_TRUE(bitmap_.marks.empty());
}

// ---- Disabling --------------------------------------------------------------------------------

class DisablePorts : public InstallerFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(installer_.EnablePorts(nullptr), PortsCommand::Done);
        ASSERT_TRUE(installer_.DeviceOpen());
    }
    // The timer loop's exchange, which brings the open counts up to date.
    void Exchange() { ASSERT_EQ(driver_.Exchange(exchange_), error::success); }
};

TEST_F(DisablePorts, AClientOnVirtualPortTwoKeepsTheDriverRunning) {
    auto client = driver_.Application(7);
    ASSERT_NE(client, nullptr);
    Exchange();

    EXPECT_EQ(installer_.DisablePorts(&bitmap_), PortsCommand::Done);

    EXPECT_EQ(Messages(), Strings{"Please disconnect from COM7"});
    EXPECT_TRUE(installer_.DeviceOpen());
    EXPECT_TRUE(driver_.Running());
    EXPECT_TRUE(ServiceInstalled());
    EXPECT_TRUE(files_.HasFile(driverFile));
    // Every port stays, so every number stays taken.
    EXPECT_TRUE(bitmap_.marks.empty());
}

TEST_F(DisablePorts, EveryPortInUseIsNamed) {
    auto first = driver_.Application(5);
    auto second = driver_.Application(7);
    Exchange();
    installer_.DisablePorts(&bitmap_);
    EXPECT_EQ(Messages(), (Strings{"Please disconnect from COM5", "Please disconnect from COM7"}));
    EXPECT_TRUE(installer_.DeviceOpen());
}

TEST_F(DisablePorts, IdlePortsRemoveDriverServiceAndFile) {
    auto client = driver_.Application(7);
    Exchange();
    client.reset();
    Exchange();

    EXPECT_EQ(installer_.DisablePorts(&bitmap_), PortsCommand::Done);

    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(installer_.DeviceOpen());
    EXPECT_FALSE(driver_.Running());
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_FALSE(files_.HasFile(driverFile));
    EXPECT_EQ(bitmap_.marks, (Strings{"-5", "-7"}));
    EXPECT_EQ(bitmap_.changes, 1u);
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

TEST_F(DisablePorts, TheNextEnableStartsCleanWithTheNewNumbers) {
    ASSERT_EQ(installer_.DisablePorts(nullptr), PortsCommand::Done);
    exchange_.comNumber[0] = 12;
    exchange_.comNumber[1] = 0;

    EXPECT_EQ(installer_.EnablePorts(&bitmap_), PortsCommand::Done);

    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(installer_.DeviceOpen());
    EXPECT_EQ(driver_.ComNumbers()[0], 12u);
    EXPECT_EQ(driver_.ComNumbers()[1], 0u);
    EXPECT_EQ(Parameter("Port8"), 0); // disabled normally: no client was counted
    EXPECT_EQ(bitmap_.marks, Strings{"+12"});
}

TEST_F(DisablePorts, DisablingClosedPortsDoesNothing) {
    ASSERT_EQ(installer_.DisablePorts(nullptr), PortsCommand::Done);
    services_.ClearCalls();
    EXPECT_EQ(installer_.DisablePorts(&bitmap_), PortsCommand::Done);
    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_TRUE(bitmap_.marks.empty());
}

} // namespace
} // namespace tavro::testing
