// Client programs on a virtual port, each making the Win32 calls a serial library makes, in its
// order and with its settings: the .NET SerialPort (SerialStream), pyserial's Windows backend,
// Qt's QSerialPort (Qt 5) and a program that writes one command, flushes and closes at once.
// Each reads the receiver's NMEA for a while and checks every sentence whole and in order,
// writes a command to the receiver (the script finds it in the receiver's log), and closes as
// the library does. No call may hang: every wait has a limit.
//
// TavroClients.exe dotnet|pyserial|qt <COM> <seconds> <tag>
// TavroClients.exe flush-close <COM> <count> <tag>
#include "tests/windows/support/SentenceStream.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

using namespace tavro::wintest;

namespace {

constexpr DWORD callLimitMs = 5000; // no call of a library may take longer here

HANDLE OpenPort(const char* com, bool overlapped) {
    std::string path = std::string("\\\\.\\") + com;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

// The command each client sends; the receiver logs it as "command $PMTK000,<tag>".
std::string Command(const char* tag) {
    return Sentence(std::string("PMTK000,") + tag);
}

struct Overlapped {
    Overlapped(bool manualReset = true) {
        memset(&io, 0, sizeof io);
        io.hEvent = CreateEventA(nullptr, manualReset, FALSE, nullptr);
    }
    ~Overlapped() { CloseHandle(io.hEvent); }
    void Reset() {
        HANDLE event = io.hEvent;
        memset(&io, 0, sizeof io);
        io.hEvent = event;
        ResetEvent(event);
    }
    OVERLAPPED io;
};

// Finishes an overlapped call: true with `bytes` once done, false on failure or after the
// limit (the call is then cancelled, so nothing is left pending).
bool Finish(HANDLE port, BOOL started, Overlapped& call, DWORD& bytes, DWORD limit = callLimitMs) {
    bytes = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (WaitForSingleObject(call.io.hEvent, limit) != WAIT_OBJECT_0) {
        CancelIoEx(port, &call.io);
        WaitForSingleObject(call.io.hEvent, callLimitMs);
        return false;
    }
    return GetOverlappedResult(port, &call.io, &bytes, FALSE) != FALSE;
}

bool WriteCommand(TestReport& report, HANDLE port, const char* tag) {
    const std::string command = Command(tag);
    Overlapped write;
    DWORD written = 0;
    const BOOL started =
        WriteFile(port, command.data(), static_cast<DWORD>(command.size()), nullptr, &write.io);
    const bool done = Finish(port, started, write, written);
    return report.Check(done && written == command.size(), "the command is written (%lu of %u)",
                        written, static_cast<unsigned>(command.size()));
}

void ReportStream(TestReport& report, const SentenceStream& stream, DWORD seconds) {
    report.Check(stream.Sentences() >= seconds * 3, "%u whole sentences in %lu s (%u bytes)",
                 static_cast<unsigned>(stream.Sentences()), seconds,
                 static_cast<unsigned>(stream.Bytes()));
    report.Check(stream.Broken() == 0, "no broken sentence (%u; first: %s)",
                 static_cast<unsigned>(stream.Broken()), stream.FirstBroken().c_str());
    report.Check(stream.OutOfOrder() == 0, "the fixes in order (%u out of order)",
                 static_cast<unsigned>(stream.OutOfOrder()));
}

// ---- .NET SerialPort
// ------------------------------------------------------------------------------

struct DotnetEvents {
    HANDLE port;
    SentenceStream stream;
    volatile LONG shutdown = 0;
    DWORD readErrors = 0;
    DWORD overruns = 0;
    bool hung = false;
};

// SerialStream's EventLoopRunner: WaitCommEvent in a loop; on received bytes the DataReceived
// handler reads what BytesToRead reports, with the read time-outs ReadTimeout gives.
DWORD WINAPI DotnetEventLoop(void* context) {
    auto& events = *static_cast<DotnetEvents*>(context);
    Overlapped wait;
    Overlapped read;
    while (events.shutdown == 0) {
        wait.Reset();
        DWORD mask = 0;
        DWORD unused = 0;
        if (!WaitCommEvent(events.port, &mask, &wait.io)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            // .NET waits without a limit; here a wait longer than the limit counts as a hang.
            if (WaitForSingleObject(wait.io.hEvent, callLimitMs) != WAIT_OBJECT_0) {
                events.hung = true;
                break;
            }
            GetOverlappedResult(events.port, &wait.io, &unused, FALSE);
        }
        if (events.shutdown != 0) {
            break;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if ((mask & (EV_ERR | EV_RXCHAR)) != 0 && ClearCommError(events.port, &errors, &status)) {
            events.overruns += (errors & (CE_RXOVER | CE_OVERRUN)) != 0 ? 1 : 0;
        }
        if ((mask & (EV_RXCHAR | EV_RXFLAG)) == 0) {
            continue;
        }
        // DataReceived -> ReadExisting: BytesToRead, then one read of that many.
        while (ClearCommError(events.port, &errors, &status) && status.cbInQue != 0) {
            std::string buffer(status.cbInQue, '\0');
            read.Reset();
            DWORD got = 0;
            const BOOL started =
                ReadFile(events.port, buffer.data(), status.cbInQue, nullptr, &read.io);
            if (!Finish(events.port, started, read, got)) {
                ++events.readErrors;
                break;
            }
            events.stream.Add(buffer.data(), got);
        }
    }
    return 0;
}

int Dotnet(TestReport& report, const char* com, DWORD seconds, const char* tag) {
    HANDLE port = OpenPort(com, true);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens (overlapped)", com)) {
        return report.Finish();
    }
    const DWORD type = GetFileType(port);
    report.Check(type == FILE_TYPE_CHAR || type == FILE_TYPE_UNKNOWN, "a character device (%lu)",
                 type);
    COMMPROP properties{};
    DWORD pins = 0;
    report.Check(GetCommProperties(port, &properties) && GetCommModemStatus(port, &pins),
                 "GetCommProperties and GetCommModemStatus");
    // SerialStream refuses a rate above dwMaxBaud (read as a number) unless it is 0.
    report.Check(properties.dwMaxBaud == 0 || properties.dwMaxBaud >= 230400,
                 "dwMaxBaud lets 230400 through (0x%lx)", properties.dwMaxBaud);
    report.Check((pins & (MS_CTS_ON | MS_DSR_ON)) == (MS_CTS_ON | MS_DSR_ON) && (pins & 0x0F) == 0,
                 "modem status CTS DSR, no change bits (0x%lx)", pins);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 4800;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.fNull = FALSE;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.EvtChar = 26;
    report.Check(SetCommState(port, &dcb) != FALSE, "SetCommState");
    report.Check(EscapeCommFunction(port, CLRDTR) != FALSE, "EscapeCommFunction(CLRDTR)");
    // ReadTimeout = InfiniteTimeout: MAXDWORD, MAXDWORD, MAXDWORD - 1.
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0};
    report.Check(SetCommTimeouts(port, &timeouts) != FALSE, "SetCommTimeouts (infinite read)");
    report.Check(SetCommMask(port, 0x1FB) != FALSE, "SetCommMask(all events but EV_TXEMPTY)");

    DotnetEvents events;
    events.port = port;
    HANDLE loop = CreateThread(nullptr, 0, DotnetEventLoop, &events, 0, nullptr);
    Sleep(seconds * 1000);
    WriteCommand(report, port, tag);
    Sleep(500);

    // Dispose: end the event loop through the mask, then flush and discard.
    const ULONGLONG start = GetTickCount64();
    InterlockedExchange(&events.shutdown, 1);
    report.Check(SetCommMask(port, 0) != FALSE, "SetCommMask(0)");
    EscapeCommFunction(port, CLRDTR);
    report.Check(FlushFileBuffers(port) != FALSE, "FlushFileBuffers");
    report.Check(PurgeComm(port, PURGE_RXCLEAR | PURGE_RXABORT) &&
                     PurgeComm(port, PURGE_TXCLEAR | PURGE_TXABORT),
                 "DiscardInBuffer, DiscardOutBuffer");
    const bool ended = WaitForSingleObject(loop, callLimitMs) == WAIT_OBJECT_0;
    report.Check(ended && !events.hung, "the event loop ends");
    report.Check(GetTickCount64() - start < 2000, "Dispose took %llu ms", GetTickCount64() - start);
    if (!ended) {
        TerminateThread(loop, 1);
    }
    CloseHandle(loop);
    CloseHandle(port);
    report.Check(events.readErrors == 0, "every read completed (%lu failed)", events.readErrors);
    report.Check(events.overruns == 0, "no overrun reported (%lu)", events.overruns);
    ReportStream(report, events.stream, seconds);
    return report.Finish();
}

// ---- pyserial ---------------------------------------------------------------------------------

struct Pyserial {
    HANDLE port = INVALID_HANDLE_VALUE;
    Overlapped readCall{true};
    Overlapped writeCall{false};
    COMMTIMEOUTS original{};

    // Serial.read(size) with timeout = 1 s: ClearCommError, then one overlapped read of `size`
    // waited for by GetOverlappedResult(bWait = TRUE).
    bool Read(DWORD size, std::string& data) {
        ResetEvent(readCall.io.hEvent);
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port, &errors, &status)) {
            return false;
        }
        data.assign(size, '\0');
        DWORD got = 0;
        readCall.Reset();
        const BOOL started = ReadFile(port, data.data(), size, nullptr, &readCall.io);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        // pyserial waits without a limit; its 1 s time-out ends the read in the driver.
        if (WaitForSingleObject(readCall.io.hEvent, callLimitMs) != WAIT_OBJECT_0) {
            return false;
        }
        const BOOL done = GetOverlappedResult(port, &readCall.io, &got, TRUE);
        data.resize(done ? got : 0);
        return done != FALSE;
    }

    DWORD OutWaiting() {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(port, &errors, &status) ? status.cbOutQue : MAXDWORD;
    }
};

int PyserialClient(TestReport& report, const char* com, DWORD seconds, const char* tag) {
    Pyserial serial;
    serial.port = OpenPort(com, true);
    if (!report.Check(serial.port != INVALID_HANDLE_VALUE, "%s opens (overlapped)", com)) {
        return report.Finish();
    }
    HANDLE port = serial.port;
    report.Check(SetupComm(port, 4096, 4096) != FALSE, "SetupComm(4096, 4096)");
    GetCommTimeouts(port, &serial.original);
    COMMTIMEOUTS timeouts = {0, 0, 1000, 0, 0}; // timeout=1, write_timeout=None
    report.Check(SetCommTimeouts(port, &timeouts) != FALSE, "SetCommTimeouts(0, 0, 1000)");
    report.Check(SetCommMask(port, EV_ERR) != FALSE, "SetCommMask(EV_ERR)");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 4800;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = FALSE;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    report.Check(SetCommState(port, &dcb) != FALSE, "SetCommState");
    report.Check(PurgeComm(port, PURGE_TXCLEAR | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_RXABORT) !=
                     FALSE,
                 "PurgeComm(all four)");

    // readline(): read(1) until the line feed, as pyserial's IOBase.readline does; every
    // tenth line read(in_waiting) takes what has come in one go.
    SentenceStream stream;
    const ULONGLONG begin = GetTickCount64();
    const ULONGLONG end = begin + seconds * 1000ull;
    DWORD failed = 0;
    DWORD timedOut = 0;        // reads that ended empty after their 1 s
    ULONGLONG lastData = begin; // when a read last brought bytes
    for (unsigned line = 0; GetTickCount64() < end && failed == 0; ++line) {
        std::string data;
        if (line % 10 == 9) {
            DWORD errors = 0;
            COMSTAT status{};
            ClearCommError(port, &errors, &status);
            failed += status.cbInQue != 0 && !serial.Read(status.cbInQue, data) ? 1 : 0;
            stream.Add(data.data(), data.size());
            continue;
        }
        for (;;) {
            if (!serial.Read(1, data)) {
                ++failed;
                break;
            }
            stream.Add(data.data(), data.size());
            timedOut += data.empty() ? 1 : 0;
            lastData = data.empty() ? lastData : GetTickCount64();
            if (data.empty() || data[0] == '\n') {
                break; // a time-out (empty) also ends readline
            }
        }
    }
    report.Check(failed == 0, "every read ended by its data or its time-out");
    // Where the stream falls short: did the bytes stop coming, or did reads miss bytes that
    // were queued?
    DWORD errors = 0;
    COMSTAT queued{};
    ClearCommError(port, &errors, &queued);
    report.Note("%lu reads timed out, the last bytes came after %llu ms, %lu bytes queued now "
                "(errors 0x%lx)",
                timedOut, lastData - begin, queued.cbInQue, errors);

    // write(), then flush(): pyserial polls out_waiting until the driver has no bytes left.
    const std::string command = Command(tag);
    DWORD written = 0;
    const BOOL started = WriteFile(port, command.data(), static_cast<DWORD>(command.size()),
                                   nullptr, &serial.writeCall.io);
    const bool wrote = Finish(port, started, serial.writeCall, written);
    report.Check(wrote && written == command.size(), "write() wrote %lu bytes", written);
    const ULONGLONG flushStart = GetTickCount64();
    while (serial.OutWaiting() != 0 && GetTickCount64() - flushStart < callLimitMs) {
        Sleep(50);
    }
    report.Check(serial.OutWaiting() == 0, "flush(): out_waiting reached 0 after %llu ms",
                 GetTickCount64() - flushStart);

    // close(): the original time-outs back, a pending read cancelled, the handle closed.
    SetCommTimeouts(port, &serial.original);
    DWORD got = 0;
    if (!GetOverlappedResult(port, &serial.readCall.io, &got, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE) {
        CancelIoEx(port, &serial.readCall.io);
    }
    report.Check(CloseHandle(port) != FALSE, "close()");
    ReportStream(report, stream, seconds);
    return report.Finish();
}

// ---- Qt QSerialPort
// -------------------------------------------------------------------------------

int Qt(TestReport& report, const char* com, DWORD seconds, const char* tag) {
    HANDLE port = OpenPort(com, true);
    if (!report.Check(port != INVALID_HANDLE_VALUE, "%s opens (overlapped)", com)) {
        return report.Finish();
    }
    DCB restoredDcb{};
    restoredDcb.DCBlength = sizeof restoredDcb;
    report.Check(GetCommState(port, &restoredDcb) != FALSE, "GetCommState");
    DCB dcb = restoredDcb;
    dcb.fBinary = TRUE;
    dcb.fInX = dcb.fOutX = dcb.fAbortOnError = dcb.fNull = dcb.fErrorChar = FALSE;
    dcb.BaudRate = 4800;
    report.Check(SetCommState(port, &dcb) != FALSE, "SetCommState");
    COMMTIMEOUTS restoredTimeouts{};
    GetCommTimeouts(port, &restoredTimeouts);
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    report.Check(SetCommTimeouts(port, &timeouts) != FALSE, "SetCommTimeouts(MAXDWORD, 0, 0)");
    report.Check(SetCommMask(port, EV_ERR | EV_RXCHAR) != FALSE, "SetCommMask(EV_ERR | EV_RXCHAR)");

    // The event notifiers of the Qt event loop: communication, read and write completion.
    Overlapped communication(false);
    Overlapped read(false);
    Overlapped write(false);
    DWORD triggered = 0;
    char chunk[512]; // ReadChunkSize
    SentenceStream stream;
    DWORD failures = 0;
    bool hung = false;
    bool communicating = false; // a WaitCommEvent whose end the loop has not taken yet
    auto startCommunication = [&] {
        communication.Reset();
        communicating = WaitCommEvent(port, &triggered, &communication.io) ||
                        GetLastError() == ERROR_IO_PENDING;
        return communicating;
    };
    auto startRead = [&] {
        read.Reset();
        return ReadFile(port, chunk, sizeof chunk, nullptr, &read.io) ||
               GetLastError() == ERROR_IO_PENDING;
    };
    failures += startCommunication() ? 0 : 1;
    const std::string command = Command(tag);
    const ULONGLONG start = GetTickCount64();
    bool written = false;
    while (GetTickCount64() - start < seconds * 1000ull && failures == 0) {
        if (!written && GetTickCount64() - start > seconds * 500ull) {
            write.Reset();
            written = WriteFile(port, command.data(), static_cast<DWORD>(command.size()), nullptr,
                                &write.io) ||
                      GetLastError() == ERROR_IO_PENDING;
            failures += written ? 0 : 1;
        }
        HANDLE events[] = {communication.io.hEvent, read.io.hEvent, write.io.hEvent};
        const DWORD which = WaitForMultipleObjects(3, events, FALSE, callLimitMs);
        DWORD bytes = 0;
        if (which == WAIT_OBJECT_0) { // _q_completeAsyncCommunication
            communicating = false;
            if (!GetOverlappedResult(port, &communication.io, &bytes, FALSE)) {
                ++failures;
            }
            if ((triggered & EV_ERR) != 0) {
                DWORD errors = 0;
                ClearCommError(port, &errors, nullptr);
            }
            failures += startRead() ? 0 : 1;
        } else if (which == WAIT_OBJECT_0 + 1) { // _q_completeAsyncRead
            if (!GetOverlappedResult(port, &read.io, &bytes, FALSE)) {
                ++failures;
            }
            stream.Add(chunk, bytes);
            failures += (bytes == sizeof chunk ? startRead() : startCommunication()) ? 0 : 1;
        } else if (which == WAIT_OBJECT_0 + 2) { // _q_completeAsyncWrite
            failures +=
                GetOverlappedResult(port, &write.io, &bytes, FALSE) && bytes == command.size() ? 0
                                                                                               : 1;
        } else {
            hung = true;
            break;
        }
    }
    report.Check(failures == 0 && !hung, "the event loop ran without error or stall");
    report.Check(written, "the command was written");

    // close(): CancelIo, the settings restored, the handle closed.
    report.Check(CancelIo(port) != FALSE, "CancelIo");
    if (communicating) {
        report.Check(WaitForSingleObject(communication.io.hEvent, callLimitMs) == WAIT_OBJECT_0,
                     "the pending WaitCommEvent ends");
    }
    SetCommState(port, &restoredDcb);
    SetCommTimeouts(port, &restoredTimeouts);
    report.Check(CloseHandle(port) != FALSE, "CloseHandle");
    ReportStream(report, stream, seconds);
    return report.Finish();
}

// ---- A setup program: one command, flushed, closed at once
// ---------------------------------------

int FlushClose(TestReport& report, const char* com, DWORD count, const char* tag) {
    DWORD reached = 0;
    ULONGLONG longest = 0;
    for (DWORD i = 0; i < count; ++i) {
        HANDLE port = OpenPort(com, false);
        if (port == INVALID_HANDLE_VALUE) {
            continue;
        }
        char numbered[64];
        snprintf(numbered, sizeof numbered, "%s-%lu", tag, i);
        const std::string command = Command(numbered);
        DWORD written = 0;
        const ULONGLONG start = GetTickCount64();
        const bool ok = WriteFile(port, command.data(), static_cast<DWORD>(command.size()),
                                  &written, nullptr) &&
                        written == command.size() && FlushFileBuffers(port);
        const ULONGLONG took = GetTickCount64() - start;
        longest = took > longest ? took : longest;
        CloseHandle(port);
        reached += ok ? 1 : 0;
    }
    report.Check(reached == count, "%lu of %lu commands written and flushed", reached, count);
    report.Check(longest < 2000, "the longest flush took %llu ms (the hub collected it)", longest);
    return report.Finish();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: TavroClients dotnet|pyserial|qt|flush-close <COM> <n> <tag>\n");
        return 2;
    }
    const std::string pattern = argv[1];
    const char* com = argv[2];
    const DWORD number = strtoul(argv[3], nullptr, 10);
    const char* tag = argv[4];
    const std::string title = "TavroClients " + pattern + " " + com;
    TestReport report(title.c_str());
    if (pattern == "dotnet") {
        return Dotnet(report, com, number, tag);
    }
    if (pattern == "pyserial") {
        return PyserialClient(report, com, number, tag);
    }
    if (pattern == "qt") {
        return Qt(report, com, number, tag);
    }
    if (pattern == "flush-close") {
        return FlushClose(report, com, number, tag);
    }
    fprintf(stderr, "unknown pattern %s\n", pattern.c_str());
    return 2;
}
