// Commands written to a receiver that reads slowly reach it whole. The hub's input port runs on
// arrival (overlapped one-byte read armed on a quiet line) while its writes pend because the
// receiver does not read; every 50 ms tick reads what has arrived, which ends the quiet
// arrival read. Ending it must not end the write in flight: CancelIo(handle) did, and the
// bytes of that write were passed over as written.
//
// The receiver side (run-wine-tests.sh) is a pseudo-terminal that reads nothing for a few
// seconds, then slowly, and stores what it read; this program writes first enough filler to
// fill the terminal's buffer, then 4 KiB of commands, and writes everything it sent to a file
// for the script to compare. Then it closes the port with a write in flight, whose unsent bytes
// must be counted as not taken: the receiver reads exactly the bytes not counted.
//
// TavroSerialWrites.exe <receiver COM> <file for the bytes sent>
#include "hub/engine/GpsPort.h"
#include "hub/engine/HubContext.h"
#include "platform/ControlDevice.h"
#include "platform/SharedMemory.h"
#include "platform/SystemClock.h"
#include "platform/Timing.h"
#include "tests/windows/support/TestReport.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

using namespace tavro;
using namespace tavro::wintest;

namespace {

// More than a terminal buffers (about 20 KiB) before its writer has to wait.
constexpr uint32_t fillerBytes = 32 * 1024;
constexpr uint32_t commandBytes = 4 * 1024;
constexpr DWORD tickMs = 50;
constexpr DWORD runLimitMs = 60000;

// Numbered sentences of about `length` bytes in all.
std::string Sentences(const char* talker, uint32_t length, uint32_t& number) {
    std::string text;
    while (text.size() < length) {
        char line[96];
        snprintf(line, sizeof line, "$%s,%06u,0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ*00\r\n", talker,
                 number++);
        text += line;
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    TestReport report("TavroSerialWrites");
    if (argc != 3) {
        fprintf(stderr, "usage: TavroSerialWrites.exe <receiver COM> <file for the bytes sent>\n");
        return 2;
    }
    uint32_t number = 0;
    const std::string filler = Sentences("PTVRF", fillerBytes, number);
    const std::string commands = Sentences("PTVRC", commandBytes, number);

    HubContext hub({platform::SystemSerialPorts(), platform::SystemControlDevice(),
                    platform::SystemSharedMemory(), platform::RealSystemClock(),
                    platform::SystemTiming()});
    hub.settings.port = static_cast<uint32_t>(atoi(argv[1]));
    hub.settings.baud = 115200;
    hub.settings.immediateRelay = 1;
    GpsPort& port = hub.CreateInputPort();
    port.Open();
    if (!report.Check(port.RelaysOnArrival(), "COM%u opened on arrival (error %u)",
                      hub.settings.port, port.lastOpenError)) {
        return report.Finish();
    }

    // Queued as the command channel queues them, a queue's worth at a time.
    const std::string sent = filler + commands;
    size_t queued = 0;
    const DWORD start = GetTickCount();
    DWORD lastTick = start;
    uint32_t ticks = 0;
    uint32_t busyTicks = 0; // ticks that found a write in flight
    while (GetTickCount() - start < runLimitMs) {
        while (queued < sent.size()) {
            const size_t length = sent.find('\n', queued) + 1 - queued;
            if (port.WriteToReceiver(reinterpret_cast<const uint8_t*>(sent.data() + queued),
                                     static_cast<uint32_t>(length)) == 0) {
                break; // the queue is full: the rest waits for the line
            }
            queued += length;
        }
        HANDLE waits[2];
        DWORD count = 0;
        for (const platform::WaitObject object : {port.ArrivalWait(), port.WriteWait()}) {
            if (object != platform::noWaitObject) {
                waits[count++] = reinterpret_cast<HANDLE>(object);
            }
        }
        if (queued == sent.size() && !port.Writer()->Pending()) {
            // Everything handed to the line: done once the last write is no longer in flight.
            const platform::WaitObject last = port.CurrentInput()->WriteWait();
            if (last == platform::noWaitObject ||
                WaitForSingleObject(reinterpret_cast<HANDLE>(last), 0) == WAIT_OBJECT_0) {
                break;
            }
        }
        const DWORD elapsed = GetTickCount() - lastTick;
        WaitForMultipleObjects(count, waits, FALSE, elapsed < tickMs ? tickMs - elapsed : 0);
        port.PumpWrites();
        if (GetTickCount() - lastTick >= tickMs) {
            // The tick: whatever arrived is read, which settles the quiet arrival read.
            lastTick = GetTickCount();
            ++ticks;
            busyTicks += port.CurrentInput()->WriteWait() != platform::noWaitObject ? 1 : 0;
            uint32_t lastLength = 0;
            port.ReadArrived(lastLength);
        }
    }
    report.Note("%u ticks in %lu ms, %u of them with a write in flight", ticks,
                static_cast<unsigned long>(GetTickCount() - start), busyTicks);
    report.Check(busyTicks >= 10, "the receiver held writes back (%u ticks)", busyTicks);
    report.Check(queued == sent.size(), "all %lu bytes were queued (%lu)",
                 static_cast<unsigned long>(sent.size()), static_cast<unsigned long>(queued));
    port.PumpWrites(); // collects the last write's result
    report.Check(!port.Writer()->Pending(), "every write finished");
    report.Check(hub.drops.Bytes(DropCause::Unwritten) == 0,
                 "the hub counted no unwritten bytes (%llu)",
                 static_cast<unsigned long long>(hub.drops.Bytes(DropCause::Unwritten)));

    // Closing the port cancels the write in flight: its bytes count as not taken, beyond those
    // still queued. Written faster than the receiver reads, the line is soon busy with one.
    const std::string extra = Sentences("PTVRX", 64 * 1024, number);
    const uint64_t earlier = hub.drops.Bytes(DropCause::Unwritten);
    size_t offered = 0;
    bool inFlight = false;
    for (const DWORD extraStart = GetTickCount(); !inFlight && GetTickCount() - extraStart < 10000;
         Sleep(1)) {
        while (offered < extra.size()) {
            const size_t length = extra.find('\n', offered) + 1 - offered;
            if (port.WriteToReceiver(reinterpret_cast<const uint8_t*>(extra.data() + offered),
                                     static_cast<uint32_t>(length)) == 0) {
                break;
            }
            offered += length;
        }
        port.PumpWrites();
        const platform::WaitObject write = port.CurrentInput()->WriteWait();
        inFlight = write != platform::noWaitObject &&
                   WaitForSingleObject(reinterpret_cast<HANDLE>(write), 0) == WAIT_TIMEOUT;
    }
    const uint64_t stillQueued = port.Writer()->PendingBytes();
    port.Close();
    const uint64_t dropped = hub.drops.Bytes(DropCause::Unwritten) - earlier;
    report.Check(inFlight && dropped > stillQueued && dropped <= offered,
                 "closed with a write in flight: %llu of %llu bytes counted as not taken, more "
                 "than the %llu still queued",
                 static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(offered),
                 static_cast<unsigned long long>(stillQueued));
    // The receiver must read exactly what was not counted.
    const std::string sentInAll =
        sent + extra.substr(0, dropped <= offered ? static_cast<size_t>(offered - dropped) : 0);

    FILE* file = fopen(argv[2], "wb");
    report.Check(file != nullptr &&
                     fwrite(sentInAll.data(), 1, sentInAll.size(), file) == sentInAll.size(),
                 "the bytes sent are in %s", argv[2]);
    if (file != nullptr) {
        fclose(file);
    }
    return report.Finish();
}
