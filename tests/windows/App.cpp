// An application on a virtual COM port, using only the ordinary Win32 serial functions.
// Started by TavroHubSide.exe, which plays the hub and knows the order of the steps below: it
// acts when it sees this program's read or wait queued in the driver's exchange record.
//
// TavroApp.exe <scenario> <COM name> [argument]
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

using namespace tavro::wintest;

namespace {

constexpr DWORD maxDword = MAXDWORD;
constexpr LONG statusCancelled = static_cast<LONG>(0xC0000120);
constexpr char queuedSeenEventName[] = "TavroTestQueuedSeen";
constexpr char closeObservedEventName[] = "TavroTestCloseObserved";

HANDLE OpenPort(const char* com, bool overlapped) {
    return CreateFileA(com, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

bool SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = multiplier;
    timeouts.ReadTotalTimeoutConstant = constant;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

// A synchronous read; `elapsedMs` is how long ReadFile took.
bool ReadBytes(HANDLE port, DWORD length, std::string& data, ULONGLONG& elapsedMs) {
    data.assign(length, '\0');
    DWORD got = 0;
    const ULONGLONG start = GetTickCount64();
    const BOOL ok = ReadFile(port, data.data(), length, &got, nullptr);
    elapsedMs = GetTickCount64() - start;
    data.resize(ok ? got : 0);
    return ok != FALSE;
}

DWORD QueuedBytes(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) {
        return maxDword;
    }
    return status.cbInQue;
}

// The test pattern of the broadcast scenario; it contains every byte value, zero included.
unsigned char PatternByte(size_t index) {
    return static_cast<unsigned char>((index * 131 + 7) & 0xFF);
}

// Two applications on one port each receive the whole stream.
int ReadAll(TestReport& report, const char* com, DWORD length) {
    HANDLE port = OpenPort(com, false);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens", com)) {
        return report.Finish();
    }
    report.Check(SetupComm(port, 1024, 1024) != FALSE, "SetupComm(1024, 1024)");
    report.Check(SetReadTimeouts(port, 0, 0, 0), "all read time-outs 0");
    std::string data;
    ULONGLONG elapsed = 0;
    report.Check(ReadBytes(port, length, data, elapsed) && data.size() == length,
                 "one read of %lu bytes returns them all (got %u)", length,
                 static_cast<unsigned>(data.size()));
    size_t firstWrong = data.size();
    for (size_t i = 0; i < data.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) != PatternByte(i)) {
            firstWrong = i;
            break;
        }
    }
    report.Check(firstWrong == data.size(), "every byte in order (first difference at %u)",
                 static_cast<unsigned>(firstWrong));
    CloseHandle(port);
    return report.Finish();
}

// Writes the text, then waits for the hub's one-byte acknowledgement, so the port stays open
// until the hub's exchange has had its chance to collect the bytes.
int WriteAndAwait(TestReport& report, const char* com, const char* text) {
    HANDLE port = OpenPort(com, false);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens", com)) {
        return report.Finish();
    }
    const DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    report.Check(WriteFile(port, text, length, &written, nullptr) && written == length,
                 "WriteFile of %lu bytes reports %lu", length, written);
    report.Check(SetReadTimeouts(port, 0, 0, 0), "all read time-outs 0");
    std::string ack;
    ULONGLONG elapsed = 0;
    report.Check(ReadBytes(port, 1, ack, elapsed) && ack == "!", "the hub's acknowledgement");
    CloseHandle(port);
    return report.Finish();
}

// Tells the hub which step comes next: the marker byte travels back through its exchange,
// so the hub acts on the right request even when one request ends and the next is queued
// between two of its exchanges.
bool AnnounceStep(HANDLE port, char step, bool overlapped = false) {
    DWORD written = 0;
    if (!overlapped) {
        return WriteFile(port, &step, 1, &written, nullptr) && written == 1;
    }
    OVERLAPPED write{};
    write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const BOOL done =
        WriteFile(port, &step, 1, nullptr, &write) ||
        (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &write, &written, TRUE));
    CloseHandle(write.hEvent);
    return done != FALSE;
}

int Timeouts(TestReport& report, const char* com) {
    HANDLE port = OpenPort(com, false);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens", com)) {
        return report.Finish();
    }
    std::string data;
    ULONGLONG elapsed = 0;

    report.Section("all read time-outs 0: a read completes when its length has arrived");
    SetReadTimeouts(port, 0, 0, 0);
    AnnounceStep(port, 'A');
    report.Check(ReadBytes(port, 10, data, elapsed) && data == "0123456789",
                 "10-byte read returns \"%s\"", data.c_str());

    report.Section("MAXDWORD/0/0 returns at once");
    SetReadTimeouts(port, maxDword, 0, 0);
    report.Check(ReadBytes(port, 10, data, elapsed) && data.empty() && elapsed < 500,
                 "nothing waiting: 0 bytes after %llu ms", elapsed);
    SetReadTimeouts(port, 0, 0, 0);
    AnnounceStep(port, 'B');
    report.Check(ReadBytes(port, 1, data, elapsed) && data == "S", "sync byte from the hub");
    const DWORD queued = QueuedBytes(port);
    report.Check(queued == 5, "ClearCommError reports 5 bytes queued (%lu)", queued);
    SetReadTimeouts(port, maxDword, 0, 0);
    report.Check(ReadBytes(port, 10, data, elapsed) && data == "hello" && elapsed < 500,
                 "5 bytes waiting: \"%s\" after %llu ms", data.c_str(), elapsed);

    report.Section("MAXDWORD/MAXDWORD/1000");
    SetReadTimeouts(port, maxDword, maxDword, 1000);
    AnnounceStep(port, 'C');
    report.Check(ReadBytes(port, 10, data, elapsed) && data.empty(),
                 "no byte: the read returns empty (%u bytes)", static_cast<unsigned>(data.size()));
    report.Check(elapsed >= 990 && elapsed < 1800, "after the time-out, at an exchange: %llu ms",
                 elapsed);
    AnnounceStep(port, 'D');
    report.Check(ReadBytes(port, 10, data, elapsed) && data == "Z",
                 "a byte arriving first is returned (\"%s\")", data.c_str());
    report.Check(elapsed < 900, "before the time-out: %llu ms", elapsed);

    CloseHandle(port);
    return report.Finish();
}

// Queues an overlapped WaitCommEvent; true when it is pending.
bool QueueWait(HANDLE port, DWORD& events, OVERLAPPED& overlapped) {
    events = 0;
    ResetEvent(overlapped.hEvent);
    if (WaitCommEvent(port, &events, &overlapped)) {
        return false; // completed at once: nothing was expected to be waiting
    }
    return GetLastError() == ERROR_IO_PENDING;
}

// Waits on the event before asking for the result: Wine's serial layer leaves a status other
// than STATUS_PENDING in a pending WaitCommEvent's OVERLAPPED, so GetOverlappedResult with
// bWait would return at once there.
bool AwaitWait(HANDLE port, OVERLAPPED& overlapped, DWORD timeoutMs) {
    if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD bytes = 0;
    return GetOverlappedResult(port, &overlapped, &bytes, FALSE) != FALSE;
}

bool SetEventChar(HANDLE port, char eventChar) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) {
        return false;
    }
    dcb.EvtChar = eventChar;
    return SetCommState(port, &dcb) != FALSE;
}

int WaitEvents(TestReport& report, const char* com) {
    HANDLE port = OpenPort(com, true);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens for overlapped use", com)) {
        return report.Finish();
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD events = 0;

    report.Section("EV_RXCHAR");
    report.Check(SetCommMask(port, EV_RXCHAR) != FALSE, "SetCommMask(EV_RXCHAR)");
    report.Check(AnnounceStep(port, 'R', true), "step announced");
    report.Check(QueueWait(port, events, overlapped), "WaitCommEvent is pending");
    bool ended = AwaitWait(port, overlapped, 10000);
    report.Check(ended && events == EV_RXCHAR,
                 "completes with EV_RXCHAR (0x%lx) after the hub's byte", events);
    PurgeComm(port, PURGE_RXCLEAR);

    report.Section("EV_RXFLAG on a line feed");
    report.Check(SetEventChar(port, '\n'), "EvtChar = line feed");
    report.Check(SetCommMask(port, EV_RXFLAG) != FALSE, "SetCommMask(EV_RXFLAG)");
    report.Check(AnnounceStep(port, 'F', true), "step announced");
    report.Check(QueueWait(port, events, overlapped), "WaitCommEvent is pending");
    ended = AwaitWait(port, overlapped, 10000);
    report.Check(ended && events == EV_RXFLAG, "completes with EV_RXFLAG (0x%lx) at the line feed",
                 events);

    report.Section("EV_RXCHAR | EV_RXFLAG");
    report.Check(SetCommMask(port, EV_RXCHAR | EV_RXFLAG) != FALSE, "both in the mask");
    report.Check(AnnounceStep(port, 'G', true), "step announced");
    report.Check(QueueWait(port, events, overlapped), "WaitCommEvent is pending");
    ended = AwaitWait(port, overlapped, 10000);
    report.Check(ended && events == (EV_RXCHAR | EV_RXFLAG), "a line feed gives both (0x%lx)",
                 events);

    CloseHandle(overlapped.hEvent);
    CloseHandle(port);
    return report.Finish();
}

// Cancellation needs no data: the hub only keeps exchanging while this runs.
int Cancel(TestReport& report, const char* com) {
    HANDLE port = OpenPort(com, true);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens for overlapped use", com)) {
        return report.Finish();
    }
    OVERLAPPED readOverlapped{};
    readOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED waitOverlapped{};
    waitOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[16];
    DWORD bytes = 0;
    DWORD events = 0;

    report.Section("CancelIo cancels a pending read");
    SetReadTimeouts(port, 0, 0, 0);
    const BOOL readNow = ReadFile(port, buffer, sizeof(buffer), nullptr, &readOverlapped);
    report.Check(!readNow && GetLastError() == ERROR_IO_PENDING, "the read is pending");
    report.Check(CancelIo(port) != FALSE, "CancelIo");
    const BOOL readResult = GetOverlappedResult(port, &readOverlapped, &bytes, TRUE);
    report.Check(!readResult && GetLastError() == ERROR_OPERATION_ABORTED,
                 "the read ends as aborted (error %lu)", readResult ? 0 : GetLastError());

    report.Section("SetCommMask completes a pending wait");
    SetCommMask(port, EV_RXCHAR);
    report.Check(QueueWait(port, events, waitOverlapped), "WaitCommEvent is pending");
    report.Check(SetCommMask(port, EV_RXCHAR | EV_RXFLAG) != FALSE, "SetCommMask again");
    const bool maskEnded = AwaitWait(port, waitOverlapped, 5000);
    report.Check(maskEnded && events == 0, "the wait completes with no event (0x%lx)", events);

    report.Section("CancelIo cancels a pending wait; a new wait can follow");
    report.Check(QueueWait(port, events, waitOverlapped), "WaitCommEvent is pending");
    OVERLAPPED secondOverlapped{};
    secondOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD secondEvents = 0;
    const BOOL secondNow = WaitCommEvent(port, &secondEvents, &secondOverlapped);
    const DWORD secondError = secondNow ? 0 : GetLastError();
    report.Check(!secondNow && secondError != ERROR_IO_PENDING,
                 "a second wait on the handle is refused (error %lu)", secondError);
    report.Check(CancelIo(port) != FALSE, "CancelIo");
    const bool waitEnded = WaitForSingleObject(waitOverlapped.hEvent, 5000) == WAIT_OBJECT_0;
    const BOOL waitResult = GetOverlappedResult(port, &waitOverlapped, &bytes, FALSE);
    report.Check(waitEnded && !waitResult && GetLastError() == ERROR_OPERATION_ABORTED,
                 "the wait ends as aborted (error %lu)", waitResult ? 0 : GetLastError());
    report.Check(QueueWait(port, events, waitOverlapped), "a new wait is pending");
    SetCommMask(port, EV_RXCHAR);
    report.Check(AwaitWait(port, waitOverlapped, 5000), "and completes by SetCommMask");
    CloseHandle(secondOverlapped.hEvent);

    report.Section("a total time-out expires at the hub's exchanges");
    SetReadTimeouts(port, 0, 0, 300);
    ResetEvent(readOverlapped.hEvent);
    const ULONGLONG start = GetTickCount64();
    const BOOL timedNow = ReadFile(port, buffer, sizeof(buffer), nullptr, &readOverlapped);
    report.Check(!timedNow && GetLastError() == ERROR_IO_PENDING, "the read is pending");
    const BOOL timedResult = GetOverlappedResult(port, &readOverlapped, &bytes, TRUE);
    const ULONGLONG elapsed = GetTickCount64() - start;
    report.Check(timedResult && bytes == 0, "it completes with 0 bytes");
    report.Check(elapsed >= 290 && elapsed < 1500, "after %llu ms", elapsed);

    report.Section("closing the handle cancels a pending read and a pending wait");
    SetReadTimeouts(port, 0, 0, 0);
    ResetEvent(readOverlapped.hEvent);
    const BOOL lastRead = ReadFile(port, buffer, sizeof(buffer), nullptr, &readOverlapped);
    report.Check(!lastRead && GetLastError() == ERROR_IO_PENDING, "a read is pending");
    report.Check(QueueWait(port, events, waitOverlapped), "a wait is pending");
    // The hub sees both queued, then sees them gone once the handle is closed while this
    // process still runs; it signals each time it has looked.
    HANDLE queuedSeen = CreateEventA(nullptr, TRUE, FALSE, queuedSeenEventName);
    HANDLE observed = CreateEventA(nullptr, TRUE, FALSE, closeObservedEventName);
    report.Check(WaitForSingleObject(queuedSeen, 10000) == WAIT_OBJECT_0,
                 "the hub saw both queued");
    CloseHandle(queuedSeen);
    CloseHandle(port);
    const bool closedReadEnded = WaitForSingleObject(readOverlapped.hEvent, 5000) == WAIT_OBJECT_0;
    const bool closedWaitEnded = WaitForSingleObject(waitOverlapped.hEvent, 5000) == WAIT_OBJECT_0;
    report.Check(closedReadEnded && static_cast<LONG>(readOverlapped.Internal) == statusCancelled,
                 "the read ends cancelled (0x%lx)",
                 static_cast<unsigned long>(readOverlapped.Internal));
    report.Check(closedWaitEnded && static_cast<LONG>(waitOverlapped.Internal) == statusCancelled,
                 "the wait ends cancelled (0x%lx)",
                 static_cast<unsigned long>(waitOverlapped.Internal));
    report.Check(WaitForSingleObject(observed, 10000) == WAIT_OBJECT_0,
                 "the hub saw the requests leave the driver's queues");
    CloseHandle(observed);

    CloseHandle(readOverlapped.hEvent);
    CloseHandle(waitOverlapped.hEvent);
    return report.Finish();
}

// Nothing calls the driver: reads with total time-outs must end on time all the same (the
// driver's own time-out thread), and PurgeComm must end a pending read and a pending wait.
int HubStopped(TestReport& report, const char* com) {
    HANDLE port = OpenPort(com, true);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens for overlapped use", com)) {
        return report.Finish();
    }
    struct Case {
        DWORD interval, multiplier, constant, length, limit;
    };
    const Case cases[] = {{0, 0, 300, 10, 300},
                          {MAXDWORD, MAXDWORD, 500, 10, 500},
                          {0, 10, 100, 20, 300},
                          {0, 0, 50, 1, 50}};
    OVERLAPPED read{};
    read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[32];
    for (const Case& c : cases) {
        SetReadTimeouts(port, c.interval, c.multiplier, c.constant);
        ResetEvent(read.hEvent);
        const ULONGLONG start = GetTickCount64();
        DWORD got = 0;
        const bool done = (ReadFile(port, buffer, c.length, nullptr, &read) ||
                           GetLastError() == ERROR_IO_PENDING) &&
                          WaitForSingleObject(read.hEvent, 5000) == WAIT_OBJECT_0 &&
                          GetOverlappedResult(port, &read, &got, FALSE);
        const ULONGLONG took = GetTickCount64() - start;
        report.Check(done && got == 0 && took + 5 >= c.limit && took <= c.limit + 60,
                     "time-outs %lx/%lx/%lu, %lu bytes: ended after %llu ms (limit %lu)",
                     c.interval, c.multiplier, c.constant, c.length, took, c.limit);
    }

    SetReadTimeouts(port, 0, 0, 0);
    ResetEvent(read.hEvent);
    OVERLAPPED wait{};
    wait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD events = 0;
    SetCommMask(port, EV_RXCHAR);
    const bool readPending = !ReadFile(port, buffer, sizeof buffer, nullptr, &read) &&
                             GetLastError() == ERROR_IO_PENDING;
    const bool waitPending =
        !WaitCommEvent(port, &events, &wait) && GetLastError() == ERROR_IO_PENDING;
    report.Check(readPending && waitPending, "a read and a WaitCommEvent are pending");
    report.Check(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR) != FALSE, "PurgeComm(RXABORT)");
    DWORD bytes = 0;
    const bool readEnded = WaitForSingleObject(read.hEvent, 2000) == WAIT_OBJECT_0;
    report.Check(readEnded && !GetOverlappedResult(port, &read, &bytes, FALSE) &&
                     GetLastError() == ERROR_OPERATION_ABORTED,
                 "the read ends as aborted");
    const bool waitEnded = WaitForSingleObject(wait.hEvent, 2000) == WAIT_OBJECT_0;
    report.Check(waitEnded && static_cast<LONG>(wait.Internal) == statusCancelled,
                 "the wait ends cancelled (0x%lx)", static_cast<unsigned long>(wait.Internal));
    CloseHandle(wait.hEvent);
    CloseHandle(read.hEvent);
    CloseHandle(port);
    return report.Finish();
}

int Settings(TestReport& report, const char* com) {
    HANDLE first = OpenPort(com, false);
    HANDLE second = OpenPort(com, false);
    if (!report.Check(first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE,
                      "two handles of %s open", com)) {
        return report.Finish();
    }

    report.Section("line settings are per handle");
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    report.Check(GetCommState(first, &dcb) && dcb.BaudRate == 4800 && dcb.ByteSize == 8 &&
                     dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT,
                 "a new handle reads 4800 8N1 (%lu %u %u %u)", dcb.BaudRate, dcb.ByteSize,
                 dcb.Parity, dcb.StopBits);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    report.Check(SetCommState(first, &dcb) != FALSE, "SetCommState 9600 7E2");
    DCB back{};
    back.DCBlength = sizeof(back);
    report.Check(GetCommState(first, &back) && back.BaudRate == 9600 && back.ByteSize == 7 &&
                     back.Parity == EVENPARITY && back.StopBits == TWOSTOPBITS,
                 "GetCommState echoes it (%lu %u %u %u)", back.BaudRate, back.ByteSize, back.Parity,
                 back.StopBits);
    DCB other{};
    other.DCBlength = sizeof(other);
    report.Check(GetCommState(second, &other) && other.BaudRate == 4800 && other.ByteSize == 8,
                 "the other handle keeps 4800 8N1 (%lu %u)", other.BaudRate, other.ByteSize);

    COMMTIMEOUTS timeouts{7, 8, 9, 10, 11};
    COMMTIMEOUTS timeoutsBack{};
    report.Check(SetCommTimeouts(first, &timeouts) && GetCommTimeouts(first, &timeoutsBack) &&
                     memcmp(&timeouts, &timeoutsBack, sizeof(timeouts)) == 0,
                 "SetCommTimeouts / GetCommTimeouts round trip");

    report.Section("properties and modem lines");
    COMMPROP properties{};
    report.Check(GetCommProperties(first, &properties) != FALSE, "GetCommProperties");
    report.Check(properties.wPacketLength == 64 && properties.dwMaxTxQueue == 256 &&
                     properties.dwMaxRxQueue == 16384 && properties.dwMaxBaud == BAUD_USER &&
                     properties.dwProvSubType == 1 && properties.dwProvCapabilities == 0x1FB &&
                     properties.dwSettableParams == 0x3F && properties.dwCurrentRxQueue >= 4096 &&
                     properties.dwCurrentTxQueue == 4096,
                 "values %u %lu %lu 0x%lx %lu 0x%lx 0x%lx, queues %lu %lu",
                 properties.wPacketLength, properties.dwMaxTxQueue, properties.dwMaxRxQueue,
                 properties.dwMaxBaud, properties.dwProvSubType, properties.dwProvCapabilities,
                 properties.dwSettableParams, properties.dwCurrentRxQueue,
                 properties.dwCurrentTxQueue);
    DWORD modem = 0;
    report.Check(GetCommModemStatus(first, &modem) && (modem & MS_CTS_ON) != 0 &&
                     (modem & MS_DSR_ON) != 0 && (modem & MS_RLSD_ON) == 0 &&
                     (modem & MS_RING_ON) == 0 && (modem & 0x0F) == 0,
                 "CTS and DSR on, carrier and ring off, no change bits (0x%lx)", modem);
    report.Check(EscapeCommFunction(first, SETDTR) && EscapeCommFunction(first, CLRRTS),
                 "EscapeCommFunction accepted");

    report.Section("each handle has its own input; PurgeComm drops only its own");
    SetReadTimeouts(first, 0, 0, 0);
    std::string data;
    ULONGLONG elapsed = 0;
    report.Check(ReadBytes(first, 1, data, elapsed) && data == "S", "sync byte from the hub");
    const DWORD firstQueued = QueuedBytes(first);
    const DWORD secondQueued = QueuedBytes(second);
    report.Check(firstQueued == 3 && secondQueued == 4,
                 "3 bytes left on the reading handle, 4 on the other (%lu, %lu)", firstQueued,
                 secondQueued);
    report.Check(PurgeComm(first, PURGE_RXCLEAR | PURGE_RXABORT) != FALSE, "PurgeComm");
    report.Check(QueuedBytes(first) == 0 && QueuedBytes(second) == 4,
                 "the purged handle has nothing, the other still 4");
    SetReadTimeouts(second, maxDword, 0, 0);
    report.Check(ReadBytes(second, 10, data, elapsed) && data == "Sabc",
                 "the other handle reads \"%s\"", data.c_str());

    report.Section("writes never block");
    DWORD written = 0;
    report.Check(WriteFile(second, "0123456789", 10, &written, nullptr) && written == 10,
                 "a 10-byte write reports 10");

    CloseHandle(second);
    CloseHandle(first);
    return report.Finish();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: TavroApp <scenario> <COM name> [argument]\n");
        return 2;
    }
    const std::string scenario = argv[1];
    const char* com = argv[2];
    const std::string title = "TavroApp " + scenario + " " + com;
    TestReport report(title.c_str());
    if (scenario == "read-all" && argc == 4) {
        return ReadAll(report, com, strtoul(argv[3], nullptr, 10));
    }
    if (scenario == "write" && argc == 4) {
        return WriteAndAwait(report, com, argv[3]);
    }
    if (scenario == "timeouts") {
        return Timeouts(report, com);
    }
    if (scenario == "wait-events") {
        return WaitEvents(report, com);
    }
    if (scenario == "cancel") {
        return Cancel(report, com);
    }
    if (scenario == "settings") {
        return Settings(report, com);
    }
    if (scenario == "hub-stopped") {
        return HubStopped(report, com);
    }
    fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
    return 2;
}
