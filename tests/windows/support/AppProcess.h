// An application test program started by the hub-side program: TavroApp.exe from the same
// directory, sharing the console output so its checks appear in the same log.
#pragma once

#include <windows.h>

#include <string>

namespace tavro::wintest {

class AppProcess {
public:
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts "TavroApp.exe <arguments>"; false when the process cannot be created.
    bool Start(const std::string& arguments);
    HANDLE Process() const { return process; }
    // The exit code once the process has ended within the time; STILL_ACTIVE otherwise (the
    // process is then terminated so that no test leaves one behind).
    DWORD Finish(DWORD timeoutMs);

private:
    HANDLE process = nullptr;
};

} // namespace tavro::wintest
