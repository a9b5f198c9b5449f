// A test program started by another test program: TavroApp.exe (or another program) from the
// same directory, sharing the console output so its checks appear in the same log.
#pragma once

#include <windows.h>

#include <string>

namespace tavro::wintest {

class AppProcess {
public:
    explicit AppProcess(const char* program = "TavroApp.exe") : program(program) {}
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts "<program> <arguments>"; false when the process cannot be created.
    bool Start(const std::string& arguments);
    HANDLE Process() const { return process; }
    // The exit code once the process has ended within the time; STILL_ACTIVE otherwise (the
    // process is then terminated so that no test leaves one behind).
    DWORD Finish(DWORD timeoutMs);

private:
    const char* program;
    HANDLE process = nullptr;
};

} // namespace tavro::wintest
