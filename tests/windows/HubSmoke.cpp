// Tavro.exe as other programs see it: with Tavro.sys running (virtual port COM7) and a
// receiver on a COM port, the hub is started, found by its window "TavroMsgWnd", read through
// its status block "TavroGPS", relays to COM7, takes commands by WM_COPYDATA, and a second
// start of it ends at once and leaves the first one working, with its main window open: the
// status line and lists, the tray toggle, and the end of the hub when the window is closed
// with the ports disabled.
//
// TavroHubSmoke.exe <absolute image path of Tavro.sys> <path of Tavro.exe> <receiver COM>
#include "common/GpsSharedStatus.h"
#include "common/HubCommand.h"
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/HubProcess.h"
#include "tests/windows/support/SentenceStream.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr DWORD virtualCom = 7;
constexpr DWORD windowTimeoutMs = 15000;
constexpr DWORD dataTimeoutMs = 20000;
constexpr DWORD secondStartTimeoutMs = 10000;

// The status block as a reader maps it, counted in refCount while attached.
class StatusReader {
public:
    ~StatusReader() {
        if (block != nullptr) {
            if (block->refCount != 0) {
                --block->refCount;
            }
            UnmapViewOfFile(block);
        }
        if (mapping != nullptr) {
            CloseHandle(mapping);
        }
    }
    bool Attach() {
        mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, statusBlockName);
        if (mapping == nullptr) {
            return false;
        }
        block = static_cast<GpsSharedStatus*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (block != nullptr) {
            ++block->refCount;
        }
        return block != nullptr;
    }
    // Reads through a volatile view: the hub changes the block behind our back.
    int32_t RmcCount() const { return *const_cast<volatile int32_t*>(&block->rmcCount); }
    uint8_t Byte(size_t offset) const {
        return reinterpret_cast<volatile const uint8_t*>(block)[offset];
    }
    float SpeedKnots() const { return *const_cast<volatile float*>(&block->speedKnots); }

    GpsSharedStatus* block = nullptr;

private:
    HANDLE mapping = nullptr;
};

// Sends one command the way other programs do: find the window first, then SendMessage.
bool SendCommand(HubCommand code, const void* data, DWORD size) {
    HWND window = FindWindowA(nullptr, hubWindowTitle);
    if (window == nullptr) {
        return false;
    }
    COPYDATASTRUCT copy;
    copy.dwData = static_cast<ULONG_PTR>(code);
    copy.cbData = size;
    copy.lpData = const_cast<void*>(data);
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    return true;
}

bool SendCommand(HubCommand code, const std::string& payload) {
    return SendCommand(code, payload.data(), static_cast<DWORD>(payload.size()));
}

// An application on a virtual port, reading what has arrived without waiting.
class Application {
public:
    ~Application() { Close(); }
    void Close() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
        }
    }
    DWORD Open(DWORD com) {
        char name[32];
        snprintf(name, sizeof name, "\\\\.\\COM%lu", com);
        handle =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
        SetCommTimeouts(handle, &timeouts);
        return 0;
    }
    std::string ReadNow() {
        std::string data;
        char buffer[1024];
        DWORD got = 0;
        while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got != 0) {
            data.append(buffer, got);
        }
        return data;
    }
    // Collects for `milliseconds`.
    std::string ReadFor(DWORD milliseconds) {
        std::string data;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds) {
            data += ReadNow();
            Sleep(50);
        }
        return data;
    }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// The serial port map's value for the receiver's port.
constexpr char receiverMapValue[] = "\\Device\\TavroSmokeReceiver";

constexpr char mainWindowTitle[] = "Brindle - Tavro";
constexpr int statusLine = 1020;
constexpr int enablePorts = 1000;
constexpr int inputPortList = 1001;
constexpr int firstVirtualPortList = 1002;
constexpr int findGps = 1023;
constexpr LPARAM trayLeftButtonDown = 0x201;
constexpr LPARAM trayDoubleClick = 0x203;
constexpr LPARAM trayRightButtonUp = 0x205;
constexpr DWORD hubEndTimeoutMs = 10000;

HWND MainWindow() {
    return FindWindowA(nullptr, mainWindowTitle);
}

// The tray icon's mouse message, as the shell sends it to the message window.
void TrayMessage(LPARAM mouseMessage) {
    SendMessageA(FindWindowA(nullptr, hubWindowTitle), toggleMainWindowMessage, 0, mouseMessage);
}

std::string ControlText(HWND window, int id) {
    char text[128] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

// The second start has opened the main window of the running hub (the driver runs, so the hub
// started in the tray only). Its status line and lists show the hub's state; the tray icon
// toggles it; with the ports disabled, closing it ends the hub.
void MainWindowChecks(TestReport& report, PROCESS_INFORMATION& hub, DWORD receiverCom,
                      Application& application) {
    report.Section("the main window shows the hub's state");
    HWND window = nullptr;
    const bool opened = WaitUntil(
        [&] {
            window = MainWindow();
            return window != nullptr;
        },
        windowTimeoutMs);
    if (!report.Check(opened, "the second start opened \"%s\"", mainWindowTitle)) {
        return;
    }
    // The receiver tracks GPS, GLONASS, Galileo and BeiDou: a 3D fix with more satellites than
    // one constellation's GGA can count (12).
    std::string status;
    int satellites = 0;
    const bool streaming = WaitUntil(
        [&] {
            status = ControlText(window, statusLine);
            satellites = 0;
            return sscanf(status.c_str(), "NMEA Stream | 3D Fix | %d SVs", &satellites) == 1 &&
                   satellites > 12;
        },
        dataTimeoutMs);
    report.Check(streaming, "status line \"%s\": the combined fix", status.c_str());
    report.Check(status.size() > 3 && status[status.size() - 3] == ':', "it ends with the seconds");
    report.Check(IsDlgButtonChecked(window, enablePorts) == BST_CHECKED,
                 "\"Enable Ports\" is ticked: the driver runs");
    char receiver[16];
    snprintf(receiver, sizeof receiver, "COM%lu", receiverCom);
    report.Check(ControlText(window, inputPortList) == receiver, "the input port list shows %s",
                 ControlText(window, inputPortList).c_str());
    char virtualPort[16];
    snprintf(virtualPort, sizeof virtualPort, "COM%lu", virtualCom);
    report.Check(ControlText(window, firstVirtualPortList) == virtualPort,
                 "virtual port 1's list shows %s",
                 ControlText(window, firstVirtualPortList).c_str());
    report.Check(!IsWindowEnabled(GetDlgItem(window, firstVirtualPortList)),
                 "the virtual port lists are locked while the ports run");

    report.Section("the tray icon toggles the main window");
    TrayMessage(trayLeftButtonDown);
    report.Check(MainWindow() == window, "a single click leaves it open");
    TrayMessage(trayDoubleClick);
    report.Check(MainWindow() == nullptr, "a double click closes it");
    report.Check(WaitForSingleObject(hub.hProcess, 500) == WAIT_TIMEOUT,
                 "the hub runs on: its ports are enabled");
    TrayMessage(trayRightButtonUp);
    window = MainWindow();
    report.Check(window != nullptr, "a right-button release opens it again");
    if (window == nullptr) {
        return;
    }
    // Escape, as the keyboard gives it to the focused "Find GPS" button.
    PostMessageA(GetDlgItem(window, findGps), WM_KEYDOWN, VK_ESCAPE, 1);
    const bool escaped = WaitUntil([] { return MainWindow() == nullptr; }, 3000);
    report.Check(escaped, "Escape closes it");
    if (escaped) {
        TrayMessage(trayDoubleClick);
        window = MainWindow();
    }

    report.Section("closing the window with the ports disabled ends the hub");
    application.Close();
    Sleep(500); // an exchange or two: the driver reports the port free
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(enablePorts, BN_CLICKED), 0);
    const bool disabled = WaitUntil(
        [&] { return IsDlgButtonChecked(window, enablePorts) == BST_UNCHECKED; }, windowTimeoutMs);
    report.Check(disabled, "\"Enable Ports\" unticked: the driver is stopped");
    report.Check(FindWindowA(nullptr, "Tavro") == nullptr, "no message box from the hub");
    report.Check(IsWindowEnabled(GetDlgItem(window, firstVirtualPortList)),
                 "the virtual port lists can be changed again");
    PostMessageA(window, WM_CLOSE, 0, 0);
    const bool ended = WaitForSingleObject(hub.hProcess, hubEndTimeoutMs) == WAIT_OBJECT_0;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(hub.hProcess, &code);
    report.Check(ended && code == 0, "the hub ended with 0 (exit code %lu)", code);
    report.Check(FindWindowA(nullptr, hubWindowTitle) == nullptr, "\"TavroMsgWnd\" is gone");
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroHubSmoke");
    if (argc != 4) {
        printf("usage: TavroHubSmoke <Tavro.sys image path> <Tavro.exe> <receiver COM>\n");
        return 2;
    }
    const char* image = argv[1];
    const char* hubPath = argv[2];
    const DWORD receiverCom = static_cast<DWORD>(atoi(argv[3]));

    report.Section("set-up: settings, driver with COM%lu", virtualCom);
    report.Check(WriteHubSettings(receiverCom), "hub settings written (Port %lu)", receiverCom);
    // Wine lists no serial port map entry for a port it maps to a pseudo-terminal; a real
    // serial driver would list the receiver's port there, and the hub offers the ports of the
    // map as its input ports.
    char receiverName[16];
    snprintf(receiverName, sizeof receiverName, "COM%lu", receiverCom);
    report.Check(WriteSerialComm(receiverMapValue, receiverName),
                 "the serial port map lists the receiver's port");
    DriverService service;
    const PortValue ports[] = {{"Port0", virtualCom}};
    report.Check(WritePortValues(ports, 1), "driver parameters written");
    DWORD result = service.Install(image);
    report.Check(result == 0, "driver service installed (%lu)", result);
    result = service.Start();
    report.Check(result == 0, "driver service started (%lu)", result);

    report.Section("the hub starts and publishes its window and status block");
    PROCESS_INFORMATION hub;
    if (!report.Check(StartProgram(hubPath, hub), "Tavro.exe started")) {
        return report.Finish();
    }
    const bool found =
        WaitUntil([] { return FindWindowA(nullptr, hubWindowTitle) != nullptr; }, windowTimeoutMs);
    report.Check(found, "window \"TavroMsgWnd\" found");
    // The packaged hub finds the driver in its own file when its message window starts: no
    // message box (caption "Tavro") is waiting for the user.
    Sleep(500);
    report.Check(FindWindowA(nullptr, "Tavro") == nullptr, "no message box from the hub");
    StatusReader status;
    const bool attached = report.Check(found && status.Attach(), "mapping \"TavroGPS\" opened");
    if (!attached) {
        TerminateProcess(hub.hProcess, 1);
        service.Stop();
        service.Remove();
        DeleteSerialComm(receiverMapValue);
        return report.Finish();
    }
    report.Check(status.Byte(offsetof(GpsSharedStatus, refCount)) == 2,
                 "refCount counts the hub and this reader (%u)",
                 status.Byte(offsetof(GpsSharedStatus, refCount)));

    Application application;
    result = application.Open(virtualCom);
    report.Check(result == 0, "an application opens COM%lu (%lu)", virtualCom, result);

    report.Section("the receiver's stream is decoded and relayed");
    const bool streaming = WaitUntil(
        [&] {
            return status.Byte(offsetof(GpsSharedStatus, streamState)) ==
                       static_cast<uint8_t>(StreamState::NmeaStream) &&
                   status.RmcCount() > 0;
        },
        dataTimeoutMs);
    report.Check(streaming, "NMEA stream recognised on COM%u, %ld RMC decoded",
                 status.Byte(offsetof(GpsSharedStatus, comPort)),
                 static_cast<long>(status.RmcCount()));
    report.Check(status.Byte(offsetof(GpsSharedStatus, comPort)) == receiverCom,
                 "comPort is the receiver's");
    const std::string relayed = application.ReadFor(2000);
    report.Check(relayed.find("$GP") != std::string::npos, "COM%lu receives sentences (%lu bytes)",
                 virtualCom, static_cast<unsigned long>(relayed.size()));

    report.Section("HoldRelay stops decoding and relay, InjectFrame still decodes");
    report.Check(SendCommand(HubCommand::HoldRelay, nullptr, 0), "HoldRelay sent");
    report.Check(status.Byte(offsetof(GpsSharedStatus, relayHeld)) == 1, "block relayHeld 1");
    const int32_t heldCount = status.RmcCount();
    application.ReadNow();
    const std::string duringHold = application.ReadFor(1500);
    report.Check(status.RmcCount() == heldCount, "no receiver RMC decoded while held (%ld, %ld)",
                 static_cast<long>(heldCount), static_cast<long>(status.RmcCount()));
    report.Check(duringHold.empty(), "nothing relayed while held (%lu bytes)",
                 static_cast<unsigned long>(duringHold.size()));

    const std::string injected =
        Sentence("GPRMC,101010.000,A,4807.038,N,01131.000,E,123.4,084.4,230313,003.1,W");
    report.Check(SendCommand(HubCommand::InjectFrame, injected), "InjectFrame sent");
    report.Check(status.RmcCount() == heldCount + 1, "the injected RMC was decoded");
    report.Check(status.SpeedKnots() > 123.3f && status.SpeedKnots() < 123.5f,
                 "its speed is in the block (%.1f)", static_cast<double>(status.SpeedKnots()));
    report.Check(application.ReadFor(300).empty(), "the injected frame is not relayed while held");

    report.Section("unsafe payloads are refused and the hub keeps running");
    std::string oversized = injected;
    oversized.resize(600, ' ');
    SendCommand(HubCommand::InjectFrame, oversized);
    report.Check(status.RmcCount() == heldCount + 1, "a 600-byte InjectFrame is refused");
    const unsigned char shortSpeed[2] = {0x80, 0x25};
    SendCommand(HubCommand::ChangeBaud, shortSpeed, sizeof shortSpeed);
    SendCommand(HubCommand::InjectFrame, nullptr, 64);
    SendCommand(static_cast<HubCommand>(77), injected);
    report.Check(SendCommand(HubCommand::InjectFrame, injected), "the hub still answers");
    report.Check(status.RmcCount() == heldCount + 2, "and decodes the next injected frame");

    report.Section("ReleaseRelay brings decoding and relay back; WriteToReceiver");
    report.Check(SendCommand(HubCommand::ReleaseRelay, nullptr, 0), "ReleaseRelay sent");
    report.Check(status.Byte(offsetof(GpsSharedStatus, relayHeld)) == 0, "block relayHeld 0");
    report.Check(WaitUntil([&] { return status.RmcCount() > heldCount + 2; }, dataTimeoutMs),
                 "receiver RMC decoded again");
    report.Check(application.ReadFor(1500).find("$GP") != std::string::npos,
                 "COM%lu receives sentences again", virtualCom);
    // The script checks the receiver's log for this sentence.
    const char command[] = "$PMTK220,1000*1F\r\n";
    report.Check(SendCommand(HubCommand::WriteToReceiver, command, sizeof command),
                 "WriteToReceiver sent (with its NUL)");

    report.Section("a second start ends at once and leaves the first hub working");
    PROCESS_INFORMATION second;
    if (report.Check(StartProgram(hubPath, second), "second Tavro.exe started")) {
        const DWORD waited = WaitForSingleObject(second.hProcess, secondStartTimeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(second.hProcess, &code);
        report.Check(waited == WAIT_OBJECT_0 && code == 0, "it ended with 0 (exit code %lu)", code);
        if (waited != WAIT_OBJECT_0) {
            TerminateProcess(second.hProcess, 1);
        }
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);
    }
    report.Check(WaitForSingleObject(hub.hProcess, 0) == WAIT_TIMEOUT, "the first hub runs on");
    report.Check(status.Byte(offsetof(GpsSharedStatus, refCount)) == 2,
                 "the second start left the block alone (refCount %u)",
                 status.Byte(offsetof(GpsSharedStatus, refCount)));
    application.ReadNow();
    report.Check(application.ReadFor(2000).find("$GP") != std::string::npos,
                 "COM%lu still receives: the driver kept its hub", virtualCom);

    MainWindowChecks(report, hub, receiverCom, application);

    if (WaitForSingleObject(hub.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(hub.hProcess, 1);
        WaitForSingleObject(hub.hProcess, 5000);
    }
    CloseHandle(hub.hProcess);
    CloseHandle(hub.hThread);
    // Already gone when the hub disabled its ports.
    service.Stop();
    service.Remove();
    DeleteSerialComm(receiverMapValue);
    return report.Finish();
}
