// The driver installer on the real system: the packaged Tavro.exe is the program file the
// installer reads. "Enable Ports" extracts Tavro.sys into the system's driver folder, creates
// and starts the kernel service with the virtual port numbers, opens the control device and
// exchanges version 257; a client on COM7 keeps the driver; disabling stops and deletes the
// service and removes the file. Then the hub itself: with the service left installed and
// stopped, Tavro.exe's static start-up starts it.
//
// TavroInstallerTest.exe <path of the packaged Tavro.exe>
#include "hub/install/DriverInstaller.h"
#include "hub/install/DriverPackage.h"
#include "platform/ControlDevice.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ServiceControl.h"
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr DWORD firstCom = 7;
constexpr DWORD secondCom = 8;
constexpr DWORD hubTimeoutMs = 30000;

// The system's files, with the packaged hub as "this program".
class PackageFileSystem final : public platform::FileSystem {
public:
    explicit PackageFileSystem(std::string program)
        : system_(platform::SystemFileSystem()), program_(std::move(program)) {}

    platform::PathStyle Style() const override { return system_.Style(); }
    uint32_t MakeDirectory(const char* path) override { return system_.MakeDirectory(path); }
    std::unique_ptr<platform::File> OpenForWriting(const char* path,
                                                   platform::FileDisposition disposition,
                                                   uint32_t& error) override {
        return system_.OpenForWriting(path, disposition, error);
    }
    std::unique_ptr<platform::File> OpenForReading(const char* path, uint32_t& error) override {
        return system_.OpenForReading(path, error);
    }
    uint32_t RemoveFile(const char* path) override { return system_.RemoveFile(path); }
    void GetLocalTime(SystemTime& time) override { system_.GetLocalTime(time); }
    uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) override {
        length = 0;
        if (program_.size() >= size) {
            return error::insufficientBuffer;
        }
        memcpy(buffer, program_.c_str(), program_.size() + 1);
        length = static_cast<uint32_t>(program_.size());
        return error::success;
    }
    uint32_t SystemDirectory(char* buffer, uint32_t size, uint32_t& length) override {
        return system_.SystemDirectory(buffer, size, length);
    }

private:
    platform::FileSystem& system_;
    std::string program_;
};

// Messages recorded instead of shown (no one is there to close a message box).
class RecordingNotifier final : public platform::Notifier {
public:
    void ShowMessage(const char* text) override {
        messages.push_back(text);
        printf("        message: \"%s\"\n", text);
    }
    std::vector<std::string> messages;
};

class RecordingBitmap final : public ComBitmapMarks {
public:
    void SetComBit(uint32_t comNumber, bool taken) override {
        marks += (taken ? "+" : "-") + std::to_string(comNumber) + " ";
    }
    void Changed() override { ++changes; }
    std::string marks;
    int changes = 0;
};

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

std::string DriverFilePath() {
    char directory[MAX_PATH] = {};
    GetSystemDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\drivers\\tavro.sys";
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The service as the manager describes it; false when there is none.
struct ServiceFacts {
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::string imagePath;
    DWORD state = 0;
};

bool QueryService(ServiceFacts& facts, DWORD& error) {
    error = 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        error = GetLastError();
        return false;
    }
    SC_HANDLE service = OpenServiceA(manager, "Tavro", SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        error = GetLastError();
        CloseServiceHandle(manager);
        return false;
    }
    union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[8192];
    } buffer;
    DWORD needed = 0;
    if (QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed)) {
        facts.serviceType = buffer.config.dwServiceType;
        facts.startType = buffer.config.dwStartType;
        facts.errorControl = buffer.config.dwErrorControl;
        facts.imagePath =
            buffer.config.lpBinaryPathName != nullptr ? buffer.config.lpBinaryPathName : "";
    }
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service, &status)) {
        facts.state = status.dwCurrentState;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return true;
}

DWORD Parameter(const char* name) {
    HKEY key = nullptr;
    DWORD value = 0xFFFFFFFF;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Tavro\\Parameters",
                      0, KEY_READ, &key) != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        value = 0xFFFFFFFF;
    }
    RegCloseKey(key);
    return value;
}

// Exchanges every 50 ms, as the hub's timer loop does, until no client holds a virtual port:
// the system may pass an application's close to the driver after CloseHandle has returned.
bool ExchangeUntilIdle(platform::ControlDevice& device, DriverExchangeBlock& exchange) {
    for (int i = 0; i < 100; ++i) {
        if (device.Exchange(exchange) != error::success) {
            return false;
        }
        bool idle = true;
        for (uint32_t count : exchange.openCount) {
            idle = idle && count == 0;
        }
        if (idle) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

std::string ComPath(DWORD com) {
    return "\\\\.\\COM" + std::to_string(com);
}

void CheckEverythingRemoved(TestReport& report) {
    ServiceFacts facts;
    DWORD error = 0;
    const bool present = QueryService(facts, error);
    report.Check(!present && error == ERROR_SERVICE_DOES_NOT_EXIST,
                 "the service is deleted (open: %lu)", error);
    report.Check(!FileExists(DriverFilePath()), "%s is removed", DriverFilePath().c_str());
    const DWORD control = TryOpen("\\\\.\\Tavro");
    report.Check(control == ERROR_FILE_NOT_FOUND, "no control device (open: %lu)", control);
    const DWORD port = TryOpen(ComPath(firstCom).c_str());
    report.Check(port == ERROR_FILE_NOT_FOUND, "no COM%lu (open: %lu)", firstCom, port);
}

// Stops the service (and waits until the driver is unloaded), and deletes it with `remove`.
// Returns 0 or the first Win32 error.
DWORD StopService(bool remove) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return GetLastError();
    }
    SC_HANDLE service = OpenServiceA(manager, "Tavro", SERVICE_ALL_ACCESS);
    DWORD error = service != nullptr ? 0 : GetLastError();
    if (service != nullptr) {
        SERVICE_STATUS status{};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            error = GetLastError();
        }
        for (int i = 0; i < 100 && QueryServiceStatus(service, &status) &&
                        status.dwCurrentState != SERVICE_STOPPED;
             ++i) {
            Sleep(50);
        }
        if (remove && !DeleteService(service) && error == 0) {
            error = GetLastError();
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

void RemoveLeftovers() {
    StopService(true);
    DeleteParameters();
    DeleteFileA(DriverFilePath().c_str());
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroInstallerTest");
    if (argc != 2) {
        printf("usage: TavroInstallerTest <packaged Tavro.exe>\n");
        return 2;
    }
    const std::string package = argv[1];

    report.Section("set-up: no service, no driver file");
    RemoveLeftovers();
    report.Check(!FileExists(DriverFilePath()), "no %s", DriverFilePath().c_str());
    const std::string packageBytes = ReadWholeFile(package);
    report.Check(packageBytes.size() > packageFirstPiece && packageBytes.size() <= packageWindow,
                 "the package is %lu bytes, within the %u the installer reads",
                 static_cast<unsigned long>(packageBytes.size()), packageWindow);
    const size_t driverStart =
        packageBytes.find(std::string("\x4D\x5A\x90\x00", 4), packageFirstPiece);
    if (!report.Check(driverStart != std::string::npos, "the driver begins at %lu",
                      static_cast<unsigned long>(driverStart))) {
        return report.Finish();
    }
    const std::string expectedDriver = packageBytes.substr(driverStart);
    const uint32_t expectedSum =
        PackageSum(reinterpret_cast<const uint8_t*>(packageBytes.data()), packageFirstPiece);

    PackageFileSystem files(package);
    RecordingNotifier notifier;
    RecordingBitmap bitmap;
    DriverExchangeBlock exchange{};
    Settings settings = DefaultSettings(windowsLogPathDefault);
    platform::ControlDevice& device = platform::SystemControlDevice();
    DriverInstaller installer(InstallerServices{files, platform::SystemServiceControl(),
                                                platform::SystemRegistry(), notifier},
                              exchange, device, settings);

    report.Section("the check when the hub starts");
    report.Check(installer.ExtractDriver(true), "the package holds the driver");
    report.Check(settings.version == 304 && settings.sum == expectedSum,
                 "Version %u, Sum 0x%08X (expected 0x%08X)", settings.version, settings.sum,
                 expectedSum);
    report.Check(!FileExists(DriverFilePath()), "no driver file written by the check");

    report.Section("Enable Ports with COM%lu and COM%lu", firstCom, secondCom);
    exchange.comNumber[0] = firstCom;
    exchange.comNumber[1] = secondCom;
    DWORD started = GetTickCount();
    const PortsCommand enabled = installer.EnablePorts(&bitmap);
    report.Note("enabling took %lu ms", GetTickCount() - started);
    report.Check(enabled == PortsCommand::Done, "the command completes");
    report.Check(notifier.messages.empty(), "no message");
    report.Check(installer.DeviceOpen(), "the control device is open");
    report.Check(exchange.version == driverInterfaceVersion, "the driver reports version %u",
                 exchange.version);
    report.Check(exchange.comNumber[0] == firstCom && exchange.comNumber[1] == secondCom,
                 "the driver reports COM%u and COM%u", exchange.comNumber[0],
                 exchange.comNumber[1]);
    report.Check(ReadWholeFile(DriverFilePath()) == expectedDriver,
                 "%s holds the driver from the package (%lu bytes)", DriverFilePath().c_str(),
                 static_cast<unsigned long>(expectedDriver.size()));
    ServiceFacts facts;
    DWORD error = 0;
    report.Check(QueryService(facts, error), "the service exists (%lu)", error);
    report.Check(facts.serviceType == SERVICE_KERNEL_DRIVER, "a kernel driver (%lu)",
                 facts.serviceType);
    report.Check(facts.startType == SERVICE_SYSTEM_START, "started by the system (%lu)",
                 facts.startType);
    report.Check(facts.errorControl == SERVICE_ERROR_NORMAL, "normal error control (%lu)",
                 facts.errorControl);
    report.Check(facts.imagePath == driverImagePath, "image path %s", facts.imagePath.c_str());
    report.Check(facts.state == SERVICE_RUNNING, "running (state %lu)", facts.state);
    report.Check(Parameter("Port0") == firstCom && Parameter("Port1") == secondCom &&
                     Parameter("Port2") == 0 && Parameter("Port8") == 0,
                 "Parameters Port0 %lu, Port1 %lu, Port2 %lu, Port8 %lu", Parameter("Port0"),
                 Parameter("Port1"), Parameter("Port2"), Parameter("Port8"));
    report.Check(ReadSerialComm("\\Device\\Tavro0") == "COM7", "SERIALCOMM lists COM7");
    report.Check(bitmap.marks == "+7 +8 " && bitmap.changes == 1, "numbers marked taken: %s",
                 bitmap.marks.c_str());

    report.Section("a client on COM%lu keeps the driver", firstCom);
    HANDLE client = CreateFileA(ComPath(firstCom).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    report.Check(client != INVALID_HANDLE_VALUE, "an application opens COM%lu (%lu)", firstCom,
                 client == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    const uint32_t exchanged = device.Exchange(exchange);
    report.Check(exchanged == error::success && exchange.openCount[0] != 0,
                 "the exchange counts it (%u)", exchange.openCount[0]);
    installer.DisablePorts(&bitmap);
    report.Check(notifier.messages.size() == 1 &&
                     notifier.messages[0] == "Please disconnect from COM7",
                 "\"Please disconnect from COM7\"");
    report.Check(installer.DeviceOpen(), "the control device stays open");
    report.Check(QueryService(facts, error) && facts.state == SERVICE_RUNNING,
                 "the service still runs");
    if (client != INVALID_HANDLE_VALUE) {
        CloseHandle(client);
    }

    report.Section("Enable Ports unticked with no client");
    notifier.messages.clear();
    bitmap.marks.clear();
    report.Check(ExchangeUntilIdle(device, exchange), "the exchange sees no client");
    started = GetTickCount();
    installer.DisablePorts(&bitmap);
    report.Note("disabling took %lu ms", GetTickCount() - started);
    report.Check(notifier.messages.empty(), "no message");
    report.Check(!installer.DeviceOpen(), "the control device is closed");
    CheckEverythingRemoved(report);
    report.Check(bitmap.marks == "-7 -8 ", "numbers marked free: %s", bitmap.marks.c_str());

    report.Section("the hub starts a service left installed and stopped");
    report.Check(installer.EnablePorts(nullptr) == PortsCommand::Done && installer.DeviceOpen(),
                 "installed and opened again");
    installer.CloseControlDevice();
    const DWORD stopped = StopService(false);
    report.Check(stopped == 0, "the service is stopped, not deleted (%lu)", stopped);
    report.Check(QueryService(facts, error) && facts.state == SERVICE_STOPPED,
                 "installed and stopped (state %lu)", facts.state);
    report.Check(TryOpen(ComPath(firstCom).c_str()) == ERROR_FILE_NOT_FOUND, "no COM%lu", firstCom);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION hub{};
    std::string commandLine = "\"" + package + "\" HIDE";
    if (report.Check(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &hub) != FALSE,
                     "Tavro.exe HIDE started")) {
        // Without a display the message window cannot be made and the hub ends after its
        // static start-up; with one it runs on and is ended here.
        const DWORD waited = WaitForSingleObject(hub.hProcess, 5000);
        report.Note("the hub %s", waited == WAIT_OBJECT_0 ? "ended by itself" : "runs on");
        if (waited != WAIT_OBJECT_0) {
            TerminateProcess(hub.hProcess, 0);
            WaitForSingleObject(hub.hProcess, hubTimeoutMs);
        }
        CloseHandle(hub.hProcess);
        CloseHandle(hub.hThread);
    }
    report.Check(QueryService(facts, error) && facts.state == SERVICE_RUNNING,
                 "the hub's start-up started the service (state %lu)", facts.state);
    HANDLE again = CreateFileA(ComPath(firstCom).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    report.Check(again != INVALID_HANDLE_VALUE, "COM%lu is there again", firstCom);
    if (again != INVALID_HANDLE_VALUE) {
        CloseHandle(again);
    }

    report.Section("clean-up through the installer");
    notifier.messages.clear();
    report.Check(installer.OpenControlDevice(driverServiceName), "the control device opens");
    report.Check(ExchangeUntilIdle(device, exchange), "the exchange sees no client");
    installer.DisablePorts(nullptr);
    report.Check(notifier.messages.empty(), "no message");
    CheckEverythingRemoved(report);
    RemoveLeftovers();
    return report.Finish();
}
