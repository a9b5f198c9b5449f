// The hub's side of Tavro.sys: installs and starts the driver with "Port0" = 5 and
// "Port3" = 9, opens "\\.\Tavro", and drives application programs (TavroApp.exe) on COM5 and
// COM9 through exchanges and broadcasts, checking what the exchange record reports.
//
// TavroHubSide.exe <absolute image path of Tavro.sys>
#include "tests/windows/support/AppProcess.h"
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/HubLink.h"
#include "tests/windows/support/TestReport.h"

#include <stdio.h>

#include <string>

using namespace tavro;
using namespace tavro::wintest;

namespace {

constexpr DWORD stepTimeoutMs = 10000;
constexpr DWORD appTimeoutMs = 20000;
constexpr uint32_t com5 = 0; // port indices
constexpr uint32_t com9 = 3;

bool WaitReads(HubLink& hub, uint32_t port, int32_t count) {
    return hub.WaitUntil(
        [&](const DriverExchangeBlock& block) {
            return block.pending[port].pendingReads == static_cast<uint32_t>(count);
        },
        stepTimeoutMs);
}

void CheckAppPassed(TestReport& report, AppProcess& app, const char* what) {
    const DWORD code = app.Finish(appTimeoutMs);
    report.Check(code == 0, "%s: application passed (exit code %lu)", what, code);
}

void BroadcastToTwoApplications(TestReport& report, HubLink& hub) {
    report.Section("a broadcast reaches two applications on COM5, each sees every byte");
    constexpr DWORD length = 3000;
    const std::string arguments = "read-all COM5 " + std::to_string(length);
    AppProcess first;
    AppProcess second;
    report.Check(first.Start(arguments), "first application started");
    report.Check(WaitReads(hub, com5, 1), "its read is queued");
    report.Check(second.Start(arguments), "second application started");
    report.Check(WaitReads(hub, com5, 2), "both reads are queued");
    report.Check(hub.Block().openCount[com5] == 2, "open count 2 (%u)",
                 hub.Block().openCount[com5]);
    report.Check((hub.Block().activity[com5] >> 16) != 0, "the activity word counts reads (0x%x)",
                 hub.Block().activity[com5]);

    std::string pattern(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        pattern[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    bool broadcast = true;
    for (size_t offset = 0; offset < length; offset += 510) {
        broadcast = broadcast && hub.Broadcast(pattern.substr(offset, 510));
    }
    report.Check(broadcast, "3000 bytes broadcast in chunks of 510");
    report.Check(hub.Exchange() && hub.Block().pending[com5].pendingReads == 0,
                 "both reads completed");
    CheckAppPassed(report, first, "first reader");
    CheckAppPassed(report, second, "second reader");
}

void WritesComeBack(TestReport& report, HubLink& hub) {
    report.Section("an application's writes come back through the exchange");
    hub.Collected().clear();
    const std::string text = "PMTK605*31";
    AppProcess app;
    report.Check(app.Start("write COM5 " + text), "application started");
    report.Check(WaitReads(hub, com5, 1), "it wrote and waits for the acknowledgement");
    report.Check(hub.Exchange() && hub.Collected() == text, "the exchange collected \"%s\"",
                 hub.Collected().c_str());
    hub.Broadcast("!");
    CheckAppPassed(report, app, "writer");
}

void ReadOnlyDropsOtherPorts(TestReport& report, HubLink& hub) {
    report.Section("read-only mode drops COM9's writes and keeps COM5's");
    hub.Collected().clear();
    hub.SetReadOnly(true);
    AppProcess onCom5;
    AppProcess onCom9;
    report.Check(onCom5.Start("write COM5 AAAA") && onCom9.Start("write COM9 BBBB"),
                 "writers on COM5 and COM9 started");
    report.Check(hub.WaitUntil(
                     [](const DriverExchangeBlock& block) {
                         return block.pending[com5].pendingReads == 1 &&
                                block.pending[com9].pendingReads == 1;
                     },
                     stepTimeoutMs),
                 "both wrote and wait");
    report.Check(hub.Exchange() && hub.Collected() == "AAAA",
                 "read-only exchanges collect only COM5's bytes (\"%s\")", hub.Collected().c_str());
    hub.SetReadOnly(false);
    report.Check(hub.Exchange() && hub.Collected() == "AAAA",
                 "COM9's bytes were dropped, not kept for later (\"%s\")", hub.Collected().c_str());
    hub.Broadcast("!");
    CheckAppPassed(report, onCom5, "COM5 writer");
    CheckAppPassed(report, onCom9, "COM9 writer");

    AppProcess again;
    report.Check(again.Start("write COM9 CCCC"), "a new COM9 writer started");
    report.Check(WaitReads(hub, com9, 1), "it wrote and waits");
    report.Check(hub.Exchange() && hub.Collected() == "AAAACCCC",
                 "without read-only COM9's bytes are collected (\"%s\")", hub.Collected().c_str());
    hub.Broadcast("!");
    CheckAppPassed(report, again, "second COM9 writer");
}

// Waits until the application has announced `step` (a byte it writes before queueing the
// step's request) and that request is queued. The marker makes the order explicit: an
// application may finish one request and queue the next between two exchanges.
bool WaitStep(HubLink& hub, char step, int32_t reads, int32_t waits) {
    return hub.WaitUntil(
        [&](const DriverExchangeBlock& block) {
            return hub.Collected().find(step) != std::string::npos &&
                   block.pending[com5].pendingReads == static_cast<uint32_t>(reads) &&
                   block.pending[com5].pendingWaits == static_cast<uint32_t>(waits);
        },
        stepTimeoutMs);
}

void ReadTimeouts(TestReport& report, HubLink& hub) {
    report.Section("read time-outs");
    hub.Collected().clear();
    AppProcess app;
    report.Check(app.Start("timeouts COM5"), "application started");

    report.Check(WaitStep(hub, 'A', 1, 0), "zero time-outs: the 10-byte read is queued");
    hub.Broadcast("0123");
    report.Check(hub.Exchange() && hub.Block().pending[com5].pendingReads == 1,
                 "4 bytes do not complete it");
    // The tenth byte completes it: the application checks the ten bytes and moves on.
    hub.Broadcast("456789");

    report.Check(WaitStep(hub, 'B', 1, 0), "the sync read is queued");
    hub.Broadcast("Shello");

    report.Check(WaitStep(hub, 'C', 1, 0), "MAXDWORD/MAXDWORD/1000: the read is queued");
    const ULONGLONG queuedSeen = GetTickCount64();
    report.Check(hub.WaitUntil(
                     [&](const DriverExchangeBlock&) {
                         return hub.Collected().find('D') != std::string::npos;
                     },
                     stepTimeoutMs),
                 "with no byte it ends at an exchange");
    const ULONGLONG ended = GetTickCount64() - queuedSeen;
    report.Check(ended >= 900 && ended < 1800,
                 "the application moved on %llu ms after the hub "
                 "saw the read queued",
                 ended);

    report.Check(WaitStep(hub, 'D', 1, 0), "the next read is queued");
    hub.WaitUntil([](const DriverExchangeBlock&) { return false; }, 300);
    hub.Broadcast("Z");
    report.Check(hub.Exchange() && hub.Block().pending[com5].pendingReads == 0,
                 "the first byte completes it at once");
    CheckAppPassed(report, app, "time-outs");
}

void WaitEvents(TestReport& report, HubLink& hub) {
    report.Section("WaitCommEvent");
    hub.Collected().clear();
    AppProcess app;
    report.Check(app.Start("wait-events COM5"), "application started");

    report.Check(WaitStep(hub, 'R', 0, 1), "EV_RXCHAR wait queued");
    const char zero = '\0';
    hub.Broadcast(&zero, 1);
    report.Check(hub.Exchange() && hub.Block().pending[com5].pendingWaits == 1,
                 "a 0x00 byte completes no wait");
    hub.Broadcast("x");

    report.Check(WaitStep(hub, 'F', 0, 1), "EV_RXFLAG wait queued");
    hub.Broadcast("abc");
    report.Check(hub.Exchange() && hub.Block().pending[com5].pendingWaits == 1,
                 "bytes other than the event character do not complete it");
    hub.Broadcast("\n");

    report.Check(WaitStep(hub, 'G', 0, 1), "EV_RXCHAR | EV_RXFLAG wait queued");
    hub.Broadcast("\n");
    CheckAppPassed(report, app, "wait events");
}

void Cancellation(TestReport& report, HubLink& hub) {
    report.Section("CancelIo, SetCommMask and CloseHandle end pending requests");
    HANDLE queuedSeen = CreateEventA(nullptr, TRUE, FALSE, "TavroTestQueuedSeen");
    HANDLE observed = CreateEventA(nullptr, TRUE, FALSE, "TavroTestCloseObserved");
    AppProcess app;
    report.Check(app.Start("cancel COM5"), "application started");
    // Only the last step has a read and a wait queued at the same time.
    report.Check(hub.WaitUntil(
                     [](const DriverExchangeBlock& block) {
                         return block.pending[com5].pendingReads == 1 &&
                                block.pending[com5].pendingWaits == 1;
                     },
                     appTimeoutMs),
                 "a read and a wait are queued");
    SetEvent(queuedSeen);
    // Windows cancels them at the handle's cleanup, before the close; Wine sends no cleanup
    // and cancels them through their cancel routines just after the close.
    report.Check(hub.WaitUntil(
                     [](const DriverExchangeBlock& block) {
                         return block.openCount[com5] == 0 &&
                                block.pending[com5].pendingReads == 0 &&
                                block.pending[com5].pendingWaits == 0;
                     },
                     stepTimeoutMs),
                 "closing the handle takes both out of the queues (%u reads, %u waits)",
                 hub.Block().pending[com5].pendingReads, hub.Block().pending[com5].pendingWaits);
    report.Check(WaitForSingleObject(app.Process(), 0) == WAIT_TIMEOUT,
                 "while the application still runs");
    SetEvent(observed);
    report.Check(hub.WaitForProcess(app.Process(), appTimeoutMs), "it ends");
    CheckAppPassed(report, app, "cancellation");
    CloseHandle(observed);
    CloseHandle(queuedSeen);
}

void Settings(TestReport& report, HubLink& hub) {
    report.Section("settings, properties, modem status, purge");
    AppProcess app;
    report.Check(app.Start("settings COM5"), "application started");
    report.Check(WaitReads(hub, com5, 1), "its sync read is queued");
    hub.Broadcast("Sabc");
    report.Check(hub.WaitForProcess(app.Process(), appTimeoutMs), "it ends");
    CheckAppPassed(report, app, "settings");
}

// The hub held up (its handle open, no call) and then not running at all: the application's
// time-outs must still expire on time, and PurgeComm must end its pending read and wait.
void HubStopped(TestReport& report, HubLink& hub) {
    for (const char* state : {"held", "gone"}) {
        report.Section("the hub is %s: time-outs and purges without it", state);
        if (state[0] == 'g') {
            hub.Close();
        }
        AppProcess app;
        report.Check(app.Start("hub-stopped COM5"), "application started");
        const DWORD code = app.Finish(appTimeoutMs);
        report.Check(code == 0, "it passed (exit code %lu)", code);
    }
    report.Check(hub.Open() == 0, "the hub's handle opens again");
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroHubSide");
    if (argc != 2) {
        fprintf(stderr, "usage: TavroHubSide <image path of Tavro.sys>\n");
        return 2;
    }
    DriverService service;
    report.Check(service.Install(argv[1]) == 0, "kernel service installed");
    const PortValue ports[] = {{"Port0", 5}, {"Port3", 9}};
    report.Check(WritePortValues(ports, 2), "Port0 = 5, Port3 = 9");
    const DWORD started = service.Start();
    if (!report.Check(started == 0, "the driver starts (error %lu)", started)) {
        service.Remove();
        return report.Finish();
    }

    HubLink hub;
    const DWORD opened = hub.Open();
    if (report.Check(opened == 0, "\\\\.\\Tavro opens (error %lu)", opened)) {
        BroadcastToTwoApplications(report, hub);
        WritesComeBack(report, hub);
        ReadOnlyDropsOtherPorts(report, hub);
        ReadTimeouts(report, hub);
        WaitEvents(report, hub);
        Cancellation(report, hub);
        Settings(report, hub);
        HubStopped(report, hub);
        hub.Close();
    }

    report.Section("stop");
    report.Check(service.Stop() == 0, "the service stops");
    report.Check(TryOpen("COM5") == ERROR_FILE_NOT_FOUND && TryOpen("COM9") == ERROR_FILE_NOT_FOUND,
                 "COM5 and COM9 are gone");
    report.Check(!SerialCommValueExists("\\Device\\Tavro0") &&
                     !SerialCommValueExists("\\Device\\Tavro3"),
                 "the SERIALCOMM values are gone");
    DeleteParameters();
    report.Check(service.Remove() == 0, "kernel service removed");
    return report.Finish();
}
