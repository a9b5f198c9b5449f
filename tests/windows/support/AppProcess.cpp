#include "tests/windows/support/AppProcess.h"

#include "tests/windows/support/DriverService.h"

#include <vector>

namespace tavro::wintest {

AppProcess::~AppProcess() {
    if (process != nullptr) {
        Finish(0);
    }
}

bool AppProcess::Start(const std::string& arguments) {
    const std::string path = ProgramDirectory() + program;
    std::string commandLine = "\"" + path + "\" " + arguments;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(path.c_str(), writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    return true;
}

DWORD AppProcess::Finish(DWORD timeoutMs) {
    if (process == nullptr) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &code);
    } else {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    process = nullptr;
    return code;
}

} // namespace tavro::wintest
