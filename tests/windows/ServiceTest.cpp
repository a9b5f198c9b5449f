// Start-up and unload of Tavro.sys as a kernel service: which configurations start, what a
// started driver publishes (COM links, SERIALCOMM values, the control device), and that a
// failed start or an unload leaves nothing behind.
//
// TavroServiceTest.exe <image path of Tavro.sys> <image path of TavroStaticProbe.sys>
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/HubLink.h"
#include "tests/windows/support/TestReport.h"

#include <stdio.h>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr char otherSerialCommValue[] = "\\Device\\TavroTestOther";

const char* const driverSerialCommValues[virtualPortCount] = {
    "\\Device\\Tavro0", "\\Device\\Tavro1", "\\Device\\Tavro2", "\\Device\\Tavro3",
    "\\Device\\Tavro4", "\\Device\\Tavro5", "\\Device\\Tavro6", "\\Device\\Tavro7",
};

// A symbolic link made from user mode in the DOS device namespace, standing for a COM port
// that exists before the driver starts.
class ForeignLink {
public:
    ForeignLink(const wchar_t* name, const wchar_t* target) {
        using CreateLink = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, void*, void*);
        auto create = reinterpret_cast<CreateLink>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
        if (create == nullptr) {
            return;
        }
        Counted linkName = Make(name);
        Counted targetName = Make(target);
        Attributes attributes{sizeof(Attributes), nullptr, &linkName, 0x40, nullptr, nullptr};
        status = create(&handle, 0xF0001, &attributes, &targetName);
        if (status < 0) {
            handle = nullptr;
        }
    }
    ~ForeignLink() {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    bool Made() const { return handle != nullptr; }
    LONG Status() const { return status; }

private:
    struct Counted {
        USHORT length;
        USHORT maximumLength;
        const wchar_t* buffer;
    };
    struct Attributes {
        ULONG length;
        HANDLE root;
        Counted* name;
        ULONG attributes;
        void* securityDescriptor;
        void* securityQualityOfService;
    };
    static Counted Make(const wchar_t* text) {
        const USHORT bytes = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
        return Counted{bytes, static_cast<USHORT>(bytes + sizeof(wchar_t)), text};
    }

    HANDLE handle = nullptr;
    LONG status = -1;
};

void CheckNothingLeft(TestReport& report, DriverService& service) {
    report.Check(!service.IsRunning(), "the service is not running");
    const DWORD control = TryOpen("\\\\.\\Tavro");
    report.Check(control == ERROR_FILE_NOT_FOUND, "no control device (open: %lu)", control);
    for (const char* com : {"COM5", "COM7", "COM9"}) {
        const DWORD error = TryOpen(com);
        report.Check(error == ERROR_FILE_NOT_FOUND, "no %s (open: %lu)", com, error);
    }
    bool anyValue = false;
    for (const char* value : driverSerialCommValues) {
        anyValue = anyValue || SerialCommValueExists(value);
    }
    report.Check(!anyValue, "no SERIALCOMM value of the driver");
}

void CheckStartFails(TestReport& report, DriverService& service, const char* what) {
    const DWORD error = service.Start();
    report.Check(error != 0, "%s: the start fails (error %lu)", what, error);
    if (error == 0) {
        service.Stop();
    }
    CheckNothingLeft(report, service);
}

void TestRefusedConfigurations(TestReport& report, DriverService& service) {
    report.Section("no Parameters key");
    DeleteParameters();
    CheckStartFails(report, service, "no Parameters key");

    report.Section("Port0 missing while Port1 is set");
    const PortValue onlyPort1[] = {{"Port1", 7}};
    report.Check(WritePortValues(onlyPort1, 1), "Port1 = 7 written");
    CheckStartFails(report, service, "Port0 missing");

    report.Section("Port0 = 0");
    const PortValue zeroPort0[] = {{"Port0", 0}, {"Port1", 7}};
    report.Check(WritePortValues(zeroPort0, 2), "Port0 = 0 written");
    CheckStartFails(report, service, "Port0 = 0");

    report.Section("Port0 written as text");
    DeleteParameters();
    const char text[] = "5";
    report.Check(WriteParameterValue("Port0", REG_SZ, text, sizeof(text)), "Port0 = \"5\"");
    CheckStartFails(report, service, "Port0 as REG_SZ");

    report.Section("COM number above 999");
    const PortValue bigPort0[] = {{"Port0", 1000}};
    report.Check(WritePortValues(bigPort0, 1), "Port0 = 1000 written");
    CheckStartFails(report, service, "Port0 = 1000");

    report.Section("a configured COM number that is a real serial port");
    char target[512] = {};
    if (QueryDosDeviceA("COM1", target, sizeof(target)) != 0) {
        report.Note("COM1 is %s", target);
        const PortValue realPort[] = {{"Port0", 1}};
        report.Check(WritePortValues(realPort, 1), "Port0 = 1 written");
        CheckStartFails(report, service, "COM1 exists");
        report.Check(QueryDosDeviceA("COM1", target, sizeof(target)) != 0,
                     "the real COM1 is still there");
    } else {
        report.Note("this system has no COM1; skipped");
    }

    report.Section("a configured COM name that already exists");
    {
        ForeignLink existing(L"\\??\\COM7", L"\\Device\\Null");
        report.Check(existing.Made(), "COM7 made by another party (status %lx)",
                     static_cast<unsigned long>(existing.Status()));
        const PortValue clash[] = {{"Port0", 5}, {"Port1", 7}};
        report.Check(WritePortValues(clash, 2), "Port0 = 5, Port1 = 7 written");
        const DWORD error = service.Start();
        report.Check(error != 0, "COM7 taken: the start fails (error %lu)", error);
        if (error == 0) {
            service.Stop();
        }
        report.Check(TryOpen("COM5") == ERROR_FILE_NOT_FOUND, "COM5 was removed again");
        report.Check(TryOpen("\\\\.\\Tavro") == ERROR_FILE_NOT_FOUND,
                     "the control device was removed again");
        report.Check(!SerialCommValueExists(driverSerialCommValues[0]) &&
                         !SerialCommValueExists(driverSerialCommValues[1]),
                     "no SERIALCOMM value left");
    }
}

void TestControlDevice(TestReport& report) {
    HubLink hub;
    report.Check(hub.Open() == 0, "the hub opens \\\\.\\Tavro");
    // Windows fails the second CreateFileA. Wine hands out the handle before the driver has
    // answered the open, so there the refusal shows on the handle's first request.
    HubLink second;
    const DWORD secondError = second.Open();
    report.Check(secondError != 0 || !second.Exchange(),
                 "a second open is refused (open error %lu, exchange error %lu)", secondError,
                 second.LastError());
    second.Close();
    HubLink third;
    const DWORD thirdError = third.Open();
    report.Check(thirdError != 0 || !third.Exchange(),
                 "closing the refused handle does not release the first one's claim");
    third.Close();
    report.Check(hub.Exchange(), "the first handle still exchanges");

    const DriverExchangeBlock& block = hub.Block();
    const uint32_t expected[virtualPortCount] = {5, 0, 0, 9, 0, 0, 0, 0};
    bool numbers = true;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        numbers = numbers && block.comNumber[i] == expected[i];
    }
    report.Check(numbers, "COM numbers 5, 0, 0, 9, 0, 0, 0, 0 (got %u %u %u %u %u %u %u %u)",
                 block.comNumber[0], block.comNumber[1], block.comNumber[2], block.comNumber[3],
                 block.comNumber[4], block.comNumber[5], block.comNumber[6], block.comNumber[7]);
    report.Check(block.version == driverInterfaceVersion, "version %u", block.version);
    report.Check(block.openCount[0] == 0 && block.openCount[3] == 0, "no port is open");

    hub.SetReadOnly(true);
    report.Check(hub.Exchange() && hub.Block().readOnly == 0, "the read-only word comes back as 0");
    hub.SetReadOnly(false);

    HANDLE port =
        CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    report.Check(port != INVALID_HANDLE_VALUE && hub.Exchange() && hub.Block().openCount[0] == 1,
                 "an open COM5 handle is counted");
    if (port != INVALID_HANDLE_VALUE) {
        CloseHandle(port);
    }
    report.Check(hub.Exchange() && hub.Block().openCount[0] == 0, "closing it uncounts it");

    DriverExchangeBlock shortBlock{};
    DWORD returned = 0;
    const BOOL shortOk = DeviceIoControl(hub.Handle(), IOCTL_TAVRO_EXCHANGE, nullptr, 0,
                                         &shortBlock, exchangeBlockSize - 1, &returned, nullptr);
    report.Check(!shortOk, "an exchange with a 1227-byte output fails (error %lu)",
                 shortOk ? 0 : GetLastError());
    PortTrafficBlock traffic{};
    const BOOL trafficOk = DeviceIoControl(hub.Handle(), IOCTL_TAVRO_TRAFFIC, nullptr, 0, &traffic,
                                           sizeof traffic, &returned, nullptr);
    report.Check(trafficOk && returned == sizeof traffic,
                 "the traffic counts come back whole (%lu bytes, error %lu)", returned,
                 trafficOk ? 0 : GetLastError());
    const BOOL unknownOk =
        DeviceIoControl(hub.Handle(), 0x222014, nullptr, 0, nullptr, 0, &returned, nullptr);
    const DWORD unknownError = unknownOk ? 0 : GetLastError();
    report.Check(unknownError == ERROR_INVALID_PARAMETER, "an unknown code fails with %lu",
                 unknownError);

    hub.Close();
    report.Check(second.Open() == 0 && second.Exchange(),
                 "after the first handle is closed a new open works");
}

void TestStartedDriver(TestReport& report, DriverService& service) {
    report.Section("Port0 = 5 and Port3 = 9");
    const PortValue ports[] = {{"Port0", 5}, {"Port3", 9}};
    report.Check(WritePortValues(ports, 2), "Port0 = 5, Port3 = 9 written");
    const BYTE binary[4] = {8, 0, 0, 0};
    const char text[] = "6";
    report.Check(WriteParameterValue("Port2", REG_BINARY, binary, sizeof(binary)) &&
                     WriteParameterValue("Port5", REG_SZ, text, sizeof(text)),
                 "Port2 as REG_BINARY and Port5 as REG_SZ written");

    const DWORD error = service.Start();
    report.Check(error == 0, "the driver starts (error %lu)", error);
    report.Check(service.IsRunning(), "the service is running");

    report.Check(TryOpen("COM5") == 0, "COM5 opens");
    report.Check(TryOpen("\\\\.\\COM9") == 0, "\\\\.\\COM9 opens");
    report.Check(TryOpen("COM8") == ERROR_FILE_NOT_FOUND, "Port2 (REG_BINARY) was ignored");
    report.Check(TryOpen("COM6") == ERROR_FILE_NOT_FOUND, "Port5 (REG_SZ) was ignored");

    const std::string port0 = ReadSerialComm(driverSerialCommValues[0]);
    const std::string port3 = ReadSerialComm(driverSerialCommValues[3]);
    report.Check(port0 == "COM5", "SERIALCOMM \\Device\\Tavro0 = \"%s\"", port0.c_str());
    report.Check(port3 == "COM9", "SERIALCOMM \\Device\\Tavro3 = \"%s\"", port3.c_str());
    report.Check(!SerialCommValueExists(driverSerialCommValues[2]) &&
                     !SerialCommValueExists(driverSerialCommValues[5]),
                 "no SERIALCOMM value for the ignored ports");

    TestControlDevice(report);

    report.Section("stopping the service unloads the driver");
    report.Check(service.Stop() == 0, "the service stops");
    CheckNothingLeft(report, service);
    const std::string other = ReadSerialComm(otherSerialCommValue);
    report.Check(other == "COM77", "another driver's SERIALCOMM value stays (\"%s\")",
                 other.c_str());

    report.Section("the driver starts again after an unload");
    report.Check(service.Start() == 0, "second start");
    report.Check(TryOpen("COM9") == 0, "COM9 opens again");
    report.Check(ReadSerialComm(driverSerialCommValues[0]) == "COM5", "SERIALCOMM written again");
    report.Check(service.Stop() == 0, "second stop");
    CheckNothingLeft(report, service);
}

constexpr char probeService[] = "TavroStaticProbe";
constexpr char probeKey[] = "Software\\TavroStaticProbe";

bool ProbeValueExists(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, probeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// A build of the driver with one static object that records its construction and destruction.
void TestStaticObjects(TestReport& report, const char* probeImage) {
    report.Section("static objects are constructed at start and destroyed at unload");
    DriverService probe(probeService);
    report.Check(probe.Install(probeImage) == 0, "probe driver installed");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, probeKey);
    const PortValue port[] = {{"Port0", 5}};
    report.Check(WritePortValues(port, 1, probeService), "Port0 = 5 for the probe");
    report.Check(probe.Start() == 0, "the probe driver starts");
    report.Check(ProbeValueExists("Constructed") && !ProbeValueExists("Destroyed"),
                 "its static object was constructed, not yet destroyed");
    report.Check(probe.Stop() == 0, "the probe driver stops");
    report.Check(ProbeValueExists("Destroyed"), "unload destroyed the static object");

    report.Section("a failed start destroys the static objects again");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, probeKey);
    DeleteParameters(probeService);
    report.Check(probe.Start() != 0, "without Port0 the probe driver does not start");
    report.Check(ProbeValueExists("Constructed") && ProbeValueExists("Destroyed"),
                 "constructed and destroyed");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, probeKey);
    report.Check(probe.Remove() == 0, "probe driver removed");
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroServiceTest");
    if (argc != 3) {
        fprintf(stderr, "usage: TavroServiceTest <image path of Tavro.sys> <image path of "
                        "TavroStaticProbe.sys>\n");
        return 2;
    }
    DriverService service;
    const DWORD installed = service.Install(argv[1]);
    if (!report.Check(installed == 0, "kernel service installed (error %lu)", installed)) {
        return report.Finish();
    }
    report.Check(WriteSerialComm(otherSerialCommValue, "COM77"),
                 "another driver's SERIALCOMM value written");

    TestRefusedConfigurations(report, service);
    TestStartedDriver(report, service);
    TestStaticObjects(report, argv[2]);

    DeleteSerialComm(otherSerialCommValue);
    DeleteParameters();
    report.Check(service.Remove() == 0, "kernel service removed");
    return report.Finish();
}
