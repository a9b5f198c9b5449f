// Serial libraries' programs against Tavro.exe and Tavro.sys: the hub reads the simulated
// receiver, and on its virtual ports COM7 to COM11 run at the same time a .NET SerialPort
// program, a pyserial program, a Qt QSerialPort program, a Boost.Asio program (when it was
// built) and a setup program that writes a command, flushes and closes, twenty times. Each
// checks its own stream and calls (TavroClients.exe, TavroBoostClient.exe); the script checks
// that their commands reached the receiver. Then the shell ends and a new one starts, and the
// hub's tray icon must come back.
// Given a network source in place of the receiver's port, the hub reads the receiver from
// there, and only the pyserial program runs, on COM7, its command going back to the source.
//
// TavroClientSuite.exe <Tavro.sys image path> <Tavro.exe> <receiver COM | tcp://...> <seconds>
#include "common/HubCommand.h"
#include "tests/windows/support/AppProcess.h"
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/HubProcess.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr DWORD firstVirtualCom = 7;
constexpr DWORD flushCloseCount = 20;
constexpr char receiverMapValue[] = "\\Device\\TavroClientReceiver";
constexpr UINT hubTrayIconId = 1016;

// Whether the shell shows the hub's icon: a change of nothing succeeds only for an icon it
// has.
bool TrayIconShown() {
    HWND hub = FindWindowA(nullptr, hubWindowTitle);
    if (hub == nullptr) {
        return false;
    }
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = hub;
    data.uID = hubTrayIconId;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// Ends every process of the shell (the desktop's explorer), as a user who kills it does.
int EndShell() {
    int ended = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, "explorer.exe") != 0) {
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process != nullptr && TerminateProcess(process, 1)) {
            WaitForSingleObject(process, 5000);
            ++ended;
        }
        if (process != nullptr) {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return ended;
}

// The shell that starts after the old one ended. Wine cannot start a second explorer on a
// desktop whose first one has ended (the desktop window stays, with nobody to run it), so this
// program plays the new shell: a "Shell_TrayWnd" window as its taskbar, announcing itself with
// "TaskbarCreated" to every window, as a starting shell does, and taking the icons programs add
// (Shell_NotifyIcon sends each to that window as WM_COPYDATA: the operation, then the owner
// window and the icon's number as the first two 32-bit words).
struct NewShell {
    HWND hub = nullptr;
    bool hubIconAdded = false;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* shell = reinterpret_cast<NewShell*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (message == WM_COPYDATA && shell != nullptr && copy != nullptr &&
            copy->dwData == NIM_ADD && copy->cbData >= 8) {
            uint32_t owner = 0;
            uint32_t id = 0;
            memcpy(&owner, copy->lpData, 4);
            memcpy(&id, static_cast<const char*>(copy->lpData) + 4, 4);
            shell->hubIconAdded =
                shell->hubIconAdded ||
                (owner == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(shell->hub)) &&
                 id == hubTrayIconId);
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

void ShellRestart(TestReport& report) {
    report.Section("the shell ends and a new one starts: the tray icon comes back");
    report.Check(WaitUntil(TrayIconShown, 10000), "the shell shows the hub's icon");
    report.Check(EndShell() > 0, "explorer ended");
    report.Check(WaitUntil([] { return !TrayIconShown(); }, 5000), "no shell, no icon");

    NewShell shell;
    shell.hub = FindWindowA(nullptr, hubWindowTitle);
    WNDCLASSA taskbarClass;
    memset(&taskbarClass, 0, sizeof taskbarClass);
    taskbarClass.lpfnWndProc = NewShell::Procedure;
    taskbarClass.hInstance = GetModuleHandleA(nullptr);
    taskbarClass.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&taskbarClass);
    HWND taskbar = CreateWindowExA(0, "Shell_TrayWnd", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    if (!report.Check(taskbar != nullptr, "the new shell's taskbar is up")) {
        return;
    }
    SetWindowLongPtrA(taskbar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shell));
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    const ULONGLONG end = GetTickCount64() + 10000;
    while (!shell.hubIconAdded && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    report.Check(shell.hubIconAdded, "the hub added its icon to the new shell");
    DestroyWindow(taskbar);
}

// The receiver's stream reaches the hub: only then do bytes written to the virtual ports have a
// receiver to go to (the hub opens its input port a few seconds after it starts).
bool HubStreams(DWORD com) {
    char path[32];
    snprintf(path, sizeof path, "\\\\.\\COM%lu", com);
    HANDLE port =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 500, 0, 0};
    SetCommTimeouts(port, &timeouts);
    char byte = 0;
    DWORD got = 0;
    const bool streams = ReadFile(port, &byte, 1, &got, nullptr) && got == 1;
    CloseHandle(port);
    return streams;
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroClientSuite");
    if (argc != 5) {
        printf("usage: TavroClientSuite <Tavro.sys image path> <Tavro.exe> "
               "<receiver COM | tcp://host:port> <seconds>\n");
        return 2;
    }
    const char* image = argv[1];
    const char* hubPath = argv[2];
    const char* source = strstr(argv[3], "://") != nullptr ? argv[3] : "";
    const DWORD receiverCom = *source != 0 ? 0 : static_cast<DWORD>(atoi(argv[3]));
    const DWORD seconds = static_cast<DWORD>(atoi(argv[4]));

    char receiverName[16];
    snprintf(receiverName, sizeof receiverName, "COM%lu", receiverCom);
    report.Section("set-up: the hub reading %s, virtual ports COM7 to COM11",
                   *source != 0 ? source : receiverName);
    report.Check(WriteHubSettings(receiverCom, source), "hub settings written");
    if (*source == 0) {
        report.Check(WriteSerialComm(receiverMapValue, receiverName),
                     "the serial port map lists the receiver's port");
    }
    const PortValue ports[] = {
        {"Port0", 7}, {"Port1", 8}, {"Port2", 9}, {"Port3", 10}, {"Port4", 11}};
    report.Check(WritePortValues(ports, 5), "driver parameters written");
    DriverService service;
    report.Check(service.Install(image) == 0 && service.Start() == 0, "driver service started");
    PROCESS_INFORMATION hub;
    if (!report.Check(StartProgram(hubPath, hub), "Tavro.exe started") ||
        !report.Check(
            WaitUntil([] { return FindWindowA(nullptr, hubWindowTitle) != nullptr; }, 15000),
            "its window is up")) {
        service.Stop();
        service.Remove();
        return report.Finish();
    }

    report.Check(WaitUntil([] { return HubStreams(firstVirtualCom); }, 20000),
                 "the receiver's sentences reach COM%lu", firstVirtualCom);

    report.Section("the clients run at the same time (%lu s)", seconds);
    const std::string time = std::to_string(seconds);
    struct Client {
        const char* program;
        std::string arguments;
    };
    std::vector<Client> clients;
    if (*source != 0) {
        clients = {{"TavroClients.exe", "pyserial COM7 " + time + " source"}};
    } else {
        clients = {
            {"TavroClients.exe", "dotnet COM7 " + time + " dotnet"},
            {"TavroClients.exe", "pyserial COM8 " + time + " pyserial"},
            {"TavroClients.exe", "qt COM9 " + time + " qt"},
            {"TavroClients.exe", "flush-close COM11 " + std::to_string(flushCloseCount) + " flush"},
        };
        if (GetFileAttributesA((ProgramDirectory() + "TavroBoostClient.exe").c_str()) !=
            INVALID_FILE_ATTRIBUTES) {
            clients.push_back({"TavroBoostClient.exe", "COM10 " + time + " boost"});
        } else {
            report.Note("TavroBoostClient.exe was not built (no Boost headers): skipped");
        }
    }
    std::vector<std::unique_ptr<AppProcess>> running;
    for (const Client& client : clients) {
        running.push_back(std::make_unique<AppProcess>(client.program));
        report.Check(running.back()->Start(client.arguments), "%s %s started", client.program,
                     client.arguments.c_str());
    }
    for (size_t i = 0; i < running.size(); ++i) {
        const DWORD code = running[i]->Finish(seconds * 1000 + 60000);
        report.Check(code == 0, "%s %s passed (exit code %lu)", clients[i].program,
                     clients[i].arguments.c_str(), code);
    }

    if (*source == 0) {
        ShellRestart(report);
    }

    TerminateProcess(hub.hProcess, 1);
    WaitForSingleObject(hub.hProcess, 5000);
    CloseHandle(hub.hProcess);
    CloseHandle(hub.hThread);
    service.Stop();
    service.Remove();
    DeleteSerialComm(receiverMapValue);
    WriteHubSettings(receiverCom); // a source left set would hide the port of later programs
    return report.Finish();
}
