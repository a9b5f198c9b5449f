// The Windows edition's relay delay and throughput under Wine: Tavro.exe with Tavro.sys
// (virtual ports COM7 upwards) reads a receiver on a Wine COM port; one reader thread per
// virtual port, and one more on a second COM port that the same sentences reach directly (the
// bare path, as a Win32 program reading the receiver itself). Every sentence carries its send
// time (UTC, microseconds): the delay is the receive time less that.
//
// TavroRelayBench.exe <absolute image path of Tavro.sys> <path of Tavro.exe> <receiver COM>
//                     <bare COM> <clients 1-8> <sentences> <ready file> <done file>
//
// It writes <ready file> once the hub relays (the feeder's probes reach the first port), then
// reads until <done file> exists (the feeder has sent everything and wrote how many sentences
// into it) and a second more has passed, and prints the delays.
#include "tests/windows/support/DriverService.h"

#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

using namespace tavro::wintest;

namespace {

constexpr DWORD firstVirtualCom = 7;

long long NowUs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    return static_cast<long long>(value.QuadPart / 10) - 11644473600000000LL;
}

bool FileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool SetNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool WriteHubSettings(DWORD receiverCom) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brindle\\Tavro3", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok = SetNumber(key, "Port", receiverCom) && SetNumber(key, "Baud", 115200) &&
                    SetNumber(key, "Sync", 0) && SetNumber(key, "Immediate Relay", 1);
    RegCloseKey(key);
    return ok;
}

struct Reader {
    DWORD com = 0;
    bool bare = false; // the receiver's own port, read without the hub
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::vector<long long> delays;
    long long lastSequence = -1;
    unsigned outOfOrder = 0;
    unsigned badChecksum = 0;
    unsigned long long bytes = 0;
    volatile LONG stop = 0;
};

bool ChecksumValid(const std::string& line) {
    const size_t star = line.rfind('*');
    if (line.size() < 4 || line[0] != '$' || star == std::string::npos || star + 3 > line.size()) {
        return false;
    }
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(line[i]);
    }
    return strtoul(line.substr(star + 1, 2).c_str(), nullptr, 16) == sum;
}

void Handle(Reader& reader, const std::string& line, long long at) {
    const size_t sequenceAt = line.find("SEQ ");
    const size_t timeAt = line.find(" T ");
    if (sequenceAt == std::string::npos || timeAt == std::string::npos) {
        return; // the probes before the run
    }
    if (!ChecksumValid(line)) {
        ++reader.badChecksum;
    }
    const long long sequence = atoll(line.c_str() + sequenceAt + 4);
    if (sequence != reader.lastSequence + 1 && reader.lastSequence >= 0) {
        ++reader.outOfOrder;
    }
    reader.lastSequence = sequence;
    reader.delays.push_back(at - atoll(line.c_str() + timeAt + 3));
}

DWORD WINAPI ReadLines(void* context) {
    Reader& reader = *static_cast<Reader*>(context);
    std::string line;
    char buffer[4096];
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    while (reader.stop == 0) {
        // Virtual ports: the driver returns at the first byte with what is there. The bare
        // Wine port honours only "wait for the whole request": one byte, then the rest.
        DWORD want = reader.bare ? 1 : sizeof buffer;
        if (reader.bare) {
            DWORD errors = 0;
            COMSTAT queued{};
            if (ClearCommError(reader.handle, &errors, &queued) && queued.cbInQue > 0) {
                want = std::min<DWORD>(queued.cbInQue, sizeof buffer);
            }
        }
        DWORD got = 0;
        ResetEvent(overlapped.hEvent);
        if (!ReadFile(reader.handle, buffer, want, &got, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            while (WaitForSingleObject(overlapped.hEvent, 200) == WAIT_TIMEOUT) {
                if (reader.stop != 0) {
                    CancelIo(reader.handle);
                    break;
                }
            }
            if (!GetOverlappedResult(reader.handle, &overlapped, &got, TRUE)) {
                continue;
            }
        }
        const long long at = NowUs();
        reader.bytes += got;
        for (DWORD i = 0; i < got; ++i) {
            line += buffer[i];
            if (buffer[i] == '\n') {
                Handle(reader, line, at);
                line.clear();
            }
        }
    }
    CloseHandle(overlapped.hEvent);
    return 0;
}

bool OpenReader(Reader& reader) {
    char name[32];
    snprintf(name, sizeof name, "\\\\.\\COM%lu", reader.com);
    reader.handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (reader.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    COMMTIMEOUTS timeouts{};
    if (!reader.bare) {
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = 1000;
    }
    return SetCommTimeouts(reader.handle, &timeouts) != FALSE;
}

void Print(const char* name, std::vector<long long> delays, unsigned expected) {
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) {
        printf("%-34s nothing received\n", name);
        return;
    }
    auto at = [&](double p) {
        const size_t index = std::min(delays.size() - 1,
                                      static_cast<size_t>(p * static_cast<double>(delays.size())));
        return static_cast<double>(delays[index]) / 1000.0;
    };
    printf("%-34s %8.3f %8.3f %8.3f   %6zu of %u\n", name, at(0.5), at(0.99),
           static_cast<double>(delays.back()) / 1000.0, delays.size(), expected);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        fprintf(stderr, "usage: TavroRelayBench.exe SYS TAVRO.EXE RECEIVER-COM BARE-COM CLIENTS "
                        "SENTENCES READY-FILE DONE-FILE\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    const char* image = argv[1];
    const char* hubPath = argv[2];
    const DWORD receiverCom = static_cast<DWORD>(atoi(argv[3]));
    const DWORD bareCom = static_cast<DWORD>(atoi(argv[4]));
    const DWORD clients = std::min<DWORD>(8, std::max<DWORD>(1, atoi(argv[5])));
    const unsigned sentences = static_cast<unsigned>(atoi(argv[6]));
    const char* readyFile = argv[7];
    const char* doneFile = argv[8];

    if (!WriteHubSettings(receiverCom)) {
        fprintf(stderr, "cannot write the hub's settings\n");
        return 1;
    }
    DriverService service;
    PortValue ports[8];
    char names[8][8];
    for (DWORD i = 0; i < clients; ++i) {
        snprintf(names[i], sizeof names[i], "Port%lu", i);
        ports[i] = {names[i], firstVirtualCom + i};
    }
    if (!WritePortValues(ports, clients) || service.Install(image) != 0 || service.Start() != 0) {
        fprintf(stderr, "cannot start the driver service\n");
        return 1;
    }
    // The driver's devices are there when the service reports running; give its host a moment.
    Sleep(1000);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION hub{};
    std::string commandLine = std::string("\"") + hubPath + "\" HIDE";
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &hub)) {
        fprintf(stderr, "cannot start Tavro.exe\n");
        return 1;
    }
    std::vector<Reader> readers(clients + 1);
    bool opened = true;
    for (DWORD i = 0; i <= clients; ++i) {
        readers[i].com = i < clients ? firstVirtualCom + i : bareCom;
        readers[i].bare = i == clients;
        const DWORD start = GetTickCount();
        while (!OpenReader(readers[i]) && GetTickCount() - start < 15000) {
            Sleep(100);
        }
        opened = opened && readers[i].handle != INVALID_HANDLE_VALUE;
    }
    std::vector<HANDLE> threads;
    for (Reader& reader : readers) {
        threads.push_back(CreateThread(nullptr, 0, ReadLines, &reader, 0, nullptr));
    }
    // The hub opens its receiver 2.5 s after starting; the feeder sends probes until then.
    const DWORD waitStart = GetTickCount();
    while (opened && readers[0].bytes == 0 && GetTickCount() - waitStart < 30000) {
        Sleep(100);
    }
    printf("the hub relays: %s after %lu ms\n", readers[0].bytes != 0 ? "yes" : "NO",
           GetTickCount() - waitStart);
    Sleep(500);
    HANDLE ready = CreateFileA(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(ready);
    while (opened && !FileExists(doneFile)) {
        Sleep(100);
    }
    Sleep(1000);
    // The feeder writes the number of sentences it sent into the done file.
    unsigned sent = sentences;
    if (FILE* done = fopen(doneFile, "r")) {
        if (fscanf(done, "%u", &sent) != 1) {
            sent = sentences;
        }
        fclose(done);
    }
    for (Reader& reader : readers) {
        InterlockedExchange(&reader.stop, 1);
    }
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 5000);

    std::vector<long long> hubDelays;
    unsigned outOfOrder = 0;
    unsigned badChecksum = 0;
    for (DWORD i = 0; i < clients; ++i) {
        hubDelays.insert(hubDelays.end(), readers[i].delays.begin(), readers[i].delays.end());
        outOfOrder += readers[i].outOfOrder;
        badChecksum += readers[i].badChecksum;
        printf("virtual port COM%lu: %llu bytes, %zu sentences\n", readers[i].com, readers[i].bytes,
               readers[i].delays.size());
    }
    printf("%-34s %8s %8s %8s   %s\n", "path", "p50 ms", "p99 ms", "max ms", "count");
    Print("Win32 program on the receiver", readers[clients].delays, sent);
    Print("Tavro.exe + Tavro.sys, ports", hubDelays, sent * clients);
    printf("sentences out of order or missing: %u, with a bad checksum: %u\n", outOfOrder,
           badChecksum);

    TerminateProcess(hub.hProcess, 0);
    WaitForSingleObject(hub.hProcess, 5000);
    service.Stop();
    service.Remove();
    return opened && hubDelays.size() == sent * clients && outOfOrder == 0 ? 0 : 1;
}
