// SPDX-License-Identifier: Apache-2.0
// The programs the dashboard check under Wine needs around a running Tavro.exe: the driver
// with two virtual ports, and programs that hold one port each until told to let go.
//
// TavroPortUser.exe driver <absolute image path of Tavro.sys> <COM> <COM>
//     installs and starts the driver's service with virtual ports 1 and 2 on those numbers
// TavroPortUser.exe remove
//     stops and removes the service again
// TavroPortUser.exe hold <COM> <release file>
//     opens the virtual port and holds it until the file exists, then closes it and stays
//     (the port is let go by its program, not by a process that ends) until it is ended
#include "tests/windows/support/DriverService.h"
#include "tests/windows/support/HubProcess.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

using namespace tavro::wintest;

namespace {

constexpr DWORD holdLimitMs = 120000;

int Driver(const char* image, DWORD first, DWORD second) {
    const PortValue ports[] = {{"Port0", first}, {"Port1", second}};
    if (!WritePortValues(ports, 2)) {
        printf("FAIL: the driver's port numbers could not be written\n");
        return 1;
    }
    DriverService service;
    DWORD result = service.Install(image);
    if (result == 0) {
        result = service.Start();
    }
    printf("driver with COM%lu and COM%lu: %s (%lu)\n", first, second,
           result == 0 ? "running" : "failed", result);
    return result == 0 ? 0 : 1;
}

int Remove() {
    DriverService service;
    service.Stop();
    const DWORD result = service.Remove();
    printf("driver service removed (%lu)\n", result);
    return 0;
}

int Hold(DWORD com, const char* releaseFile) {
    char name[32];
    snprintf(name, sizeof name, "\\\\.\\COM%lu", com);
    HANDLE port =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        printf("FAIL: COM%lu did not open (%lu)\n", com, GetLastError());
        return 1;
    }
    printf("holding COM%lu\n", com);
    fflush(stdout);
    WaitUntil([&] { return GetFileAttributesA(releaseFile) != INVALID_FILE_ATTRIBUTES; },
              holdLimitMs);
    CloseHandle(port);
    printf("closed COM%lu\n", com);
    fflush(stdout);
    Sleep(holdLimitMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "driver") == 0) {
        return Driver(argv[2], strtoul(argv[3], nullptr, 10), strtoul(argv[4], nullptr, 10));
    }
    if (argc == 2 && strcmp(argv[1], "remove") == 0) {
        return Remove();
    }
    if (argc == 4 && strcmp(argv[1], "hold") == 0) {
        return Hold(strtoul(argv[2], nullptr, 10), argv[3]);
    }
    fprintf(stderr, "usage: TavroPortUser.exe driver <Tavro.sys> <COM> <COM> | remove | "
                    "hold <COM> <release file>\n");
    return 2;
}
