// The kernel service: creation with the virtual port numbers, the start and its errors, stop
// and delete, the installation sequence, and the static start-up.
#include "InstallerFixture.h"

namespace tavro::testing {
namespace {

using platform::ServiceHandle;
using Strings = std::vector<std::string>;

class DriverService : public InstallerFixture {
protected:
    // The manager as the installation sequence opens it.
    ServiceHandle OpenManager() {
        ServiceHandle manager = ServiceHandle::none;
        EXPECT_EQ(services_.OpenManager(installManagerAccess, manager), error::success);
        return manager;
    }
};

TEST_F(DriverService, InstallsAKernelDriverThatStartsAtBootWithThePortNumbers) {
    exchange_.comNumber[2] = 9;
    exchange_.openCount[0] = 3; // "Port8": virtual port 1's open count of the last exchange
    exchange_.openCount[1] = 4; // not written
    ASSERT_TRUE(installer_.ExtractDriver(false));

    EXPECT_TRUE(installer_.InstallAndStart(driverServiceName, driverImagePath, true));

    EXPECT_EQ(services_.Calls(),
              (Strings{"OpenManager 0xF0003", "Create Tavro", "Close Tavro", "Open Tavro",
                       "Start Tavro", "Close Tavro", "Close manager"}));
    const platform::testing::FakeService* service = services_.Find("Tavro");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->displayName, "Tavro");
    EXPECT_EQ(service->serviceType, 1u);  // SERVICE_KERNEL_DRIVER
    EXPECT_EQ(service->startType, 1u);    // SERVICE_SYSTEM_START
    EXPECT_EQ(service->errorControl, 1u); // SERVICE_ERROR_NORMAL
    EXPECT_EQ(service->binaryPathName, "\\SystemRoot\\System32\\Drivers\\Tavro.sys");
    EXPECT_TRUE(service->running);

    const int64_t expected[9] = {5, 7, 9, 0, 0, 0, 0, 0, 3};
    for (int n = 0; n < 9; ++n) {
        EXPECT_EQ(Parameter(("Port" + std::to_string(n)).c_str()), expected[n]) << n;
    }
    // The driver started from them and its device is open.
    EXPECT_EQ(driver_.ComNumbers()[0], 5u);
    EXPECT_EQ(driver_.ComNumbers()[2], 9u);
    EXPECT_TRUE(installer_.DeviceOpen());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

TEST_F(DriverService, AServiceThatExistsGetsItsParametersRewrittenAndStarts) {
    InstallStoppedService(4, 6);
    WriteParameter("Port3", 11);
    ASSERT_TRUE(installer_.ExtractDriver(false));

    EXPECT_TRUE(installer_.InstallAndStart(driverServiceName, driverImagePath, true));

    EXPECT_EQ(Messages(), Strings{"Can't create service 1073"});
    EXPECT_EQ(Parameter("Port0"), 5);
    EXPECT_EQ(Parameter("Port1"), 7);
    EXPECT_EQ(Parameter("Port3"), 0);
    EXPECT_EQ(Parameter("Port8"), 0);
    EXPECT_EQ(driver_.ComNumbers()[0], 5u);
    EXPECT_TRUE(installer_.DeviceOpen());
}

TEST_F(DriverService, WithoutTheManagerNothingIsCreatedAndOneMessageIsShown) {
    services_.DenyManager(error::accessDenied);
    ASSERT_TRUE(installer_.ExtractDriver(false));

    EXPECT_FALSE(installer_.InstallAndStart(driverServiceName, driverImagePath, true));

    EXPECT_EQ(Messages(), Strings{"Can't open service manager\rAdmin rights required"});
    EXPECT_EQ(services_.CountCalls("Create"), 0u);
    EXPECT_EQ(services_.CountCalls("Start"), 0u);
    // No parameters written for a service that cannot be there.
    EXPECT_EQ(Parameter("Port0"), -1);
    EXPECT_FALSE(installer_.DeviceOpen());
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

TEST_F(DriverService, ACreateFailureOtherThanExistsIsShownWithItsCode) {
    services_.FailNextCreate(error::accessDenied);
    const ServiceHandle manager = OpenManager();
    installer_.RegisterService(manager, driverServiceName, driverImagePath);
    services_.Close(manager);
    EXPECT_EQ(Messages(), Strings{"Can't create service 5"});
    EXPECT_FALSE(ServiceInstalled());
}

TEST_F(DriverService, ParametersThatCannotBeWrittenStopTheRegistrationQuietly) {
    registry_.LockMachine(true);
    const ServiceHandle manager = OpenManager();
    installer_.RegisterService(manager, driverServiceName, driverImagePath);
    services_.Close(manager);
    EXPECT_TRUE(ServiceInstalled());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Parameter("Port0"), -1);
}

TEST_F(DriverService, AServiceAlreadyRunningCountsAsStarted) {
    InstallStoppedService();
    const ServiceHandle manager = OpenManager();
    ASSERT_TRUE(installer_.StartDriverService(manager, driverServiceName));
    EXPECT_TRUE(installer_.StartDriverService(manager, driverServiceName));
    services_.Close(manager);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(driver_.Starts(), 1u);
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

TEST_F(DriverService, ANoServiceToStartIsNoMessage) {
    const ServiceHandle manager = OpenManager();
    EXPECT_FALSE(installer_.StartDriverService(manager, driverServiceName));
    services_.Close(manager);
    EXPECT_FALSE(installer_.StartDriverService(ServiceHandle::none, driverServiceName));
    EXPECT_TRUE(Messages().empty());
}

struct StartError {
    uint32_t code;
    const char* message;
    bool removesTheService;
};

class DriverStartError : public DriverService, public ::testing::WithParamInterface<StartError> {};

TEST_P(DriverStartError, IsShownInItsWordsAndRemovesTheServiceWhereItMust) {
    const StartError& expected = GetParam();
    InstallStoppedService();
    services_.FailStarts({expected.code});
    const ServiceHandle manager = OpenManager();

    EXPECT_FALSE(installer_.StartDriverService(manager, driverServiceName));
    services_.Close(manager);

    EXPECT_EQ(Messages(), Strings{expected.message});
    EXPECT_EQ(services_.CountCalls("Delete"), expected.removesTheService ? 1u : 0u);
    EXPECT_EQ(ServiceInstalled(), !expected.removesTheService);
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCode, DriverStartError,
    ::testing::Values(
        StartError{2, "Unable to find Tavro.sys", true},
        StartError{3, "Unable to find Tavro.sys", true},
        StartError{87, "Error: Invalid COM port, or driver is confused.", false},
        StartError{317, "Error: MID not found.", false},
        StartError{1058, "Error: Service disabled.\nRestart Windows and try again.", false},
        StartError{1072, "Error: Service marked for delete.\nRestart Windows and try again.",
                   false},
        StartError{1073, "Error: Service already exists.\nFixing.  Try again.", true},
        StartError{1275, "Error: Driver blocked by your computer. 64 bit?", false},
        StartError{2001, "Error: Bad driver.", false},
        StartError{1114, "Error starting Tavro driver.\nWindows Error Code 1114", false},
        StartError{5, "Error starting Tavro driver.\nWindows Error Code 5", false}));

TEST_F(DriverService, ADriverThatRefusesItsPortsIsRemovedAgain) {
    exchange_.comNumber[0] = 0; // the driver needs "Port0"
    exchange_.comNumber[1] = 7;
    ASSERT_TRUE(installer_.ExtractDriver(false));

    EXPECT_FALSE(installer_.InstallAndStart(driverServiceName, driverImagePath, true));

    EXPECT_EQ(Messages(), Strings{"Error: Invalid COM port, or driver is confused."});
    // The device did not open: the service goes, so the next attempt starts clean.
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_FALSE(installer_.DeviceOpen());
}

TEST_F(DriverService, StopAndDeleteRemovesARunningServiceSilently) {
    InstallStoppedService();
    const ServiceHandle manager = OpenManager();
    ASSERT_TRUE(installer_.StartDriverService(manager, driverServiceName));
    services_.Close(manager);
    services_.ClearCalls();

    installer_.StopAndDeleteService(driverServiceName);

    EXPECT_EQ(services_.Calls(),
              (Strings{"OpenManager 0xF003F", "Open Tavro", "Control Tavro 1", "Close Tavro",
                       "Open Tavro", "Delete Tavro", "Close Tavro", "Close manager"}));
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_FALSE(driver_.Running());

    // Nothing left to remove, or no rights to: still not a word.
    installer_.StopAndDeleteService(driverServiceName);
    services_.DenyManager(error::accessDenied);
    installer_.StopAndDeleteService(driverServiceName);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(services_.OpenHandles(), 0u);
}

TEST_F(DriverService, ADeviceHeldByAnotherHubKeepsItsDriverAndService) {
    InstallStoppedService();
    const ServiceHandle manager = OpenManager();
    ASSERT_TRUE(installer_.StartDriverService(manager, driverServiceName));
    services_.Close(manager);
    driver_.heldElsewhere = true;

    // The start finds it running (1056), the open is refused.
    EXPECT_FALSE(installer_.InstallAndStart(driverServiceName, driverImagePath, false));

    EXPECT_EQ(services_.CountCalls("Control"), 0u);
    EXPECT_EQ(services_.CountCalls("Delete"), 0u);
    EXPECT_TRUE(ServiceInstalled());
    EXPECT_TRUE(driver_.Running());
}

// ---- The static start-up ----------------------------------------------------------------------

using StaticStart = DriverService;

TEST_F(StaticStart, ARunningDriverIsOpenedWithoutAnyServiceCall) {
    driver_.Load({4, 0, 0, 8, 0, 0, 0, 0});
    exchange_.comNumber[0] = 99;
    exchange_.clientDataLength = 12;

    EXPECT_TRUE(installer_.StaticAttach());

    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_TRUE(installer_.DeviceOpen());
    // The holder was cleared, then filled by one exchange.
    EXPECT_EQ(exchange_.comNumber[0], 4u);
    EXPECT_EQ(exchange_.comNumber[3], 8u);
    EXPECT_EQ(exchange_.clientDataLength, 0u);
    EXPECT_EQ(exchange_.version, driverInterfaceVersion);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(StaticStart, AServiceLeftInstalledIsStartedWithoutBeingCreatedAgain) {
    InstallStoppedService(6, 0);

    EXPECT_TRUE(installer_.StaticAttach());

    EXPECT_EQ(services_.CountCalls("Create"), 0u);
    EXPECT_EQ(services_.CountCalls("Start"), 1u);
    EXPECT_TRUE(driver_.Running());
    EXPECT_EQ(exchange_.comNumber[0], 6u);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(StaticStart, NoServiceMeansPortsDisabledWithoutAMessage) {
    EXPECT_FALSE(installer_.StaticAttach());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(services_.CountCalls("Create"), 0u);
    EXPECT_FALSE(ServiceInstalled());
}

TEST_F(StaticStart, WithoutAdminRightsTheManagerIsRefusedOnceAndThePortsStayDisabled) {
    WithoutAdminRights();
    EXPECT_FALSE(installer_.StaticAttach());
    EXPECT_EQ(Messages(), Strings{"Can't open service manager\rAdmin rights required"});
    EXPECT_FALSE(installer_.DeviceOpen());
}

TEST_F(StaticStart, ADeviceThatRefusesTheOpenIsLeftAlone) {
    InstallStoppedService();
    ASSERT_TRUE(installer_.StaticAttach());
    installer_.CloseControlDevice();
    driver_.heldElsewhere = true;
    services_.ClearCalls();

    EXPECT_FALSE(installer_.StaticAttach());

    // No start, no stop, no deletion: the other hub keeps its ports.
    EXPECT_TRUE(services_.Calls().empty());
    EXPECT_TRUE(driver_.Running());
    EXPECT_TRUE(ServiceInstalled());
    EXPECT_TRUE(Messages().empty());
}

} // namespace
} // namespace tavro::testing
