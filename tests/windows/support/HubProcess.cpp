#include "tests/windows/support/HubProcess.h"

#include <string.h>

#include <string>

namespace tavro::wintest {

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

bool WriteHubSettings(DWORD receiverCom, const char* source) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brindle\\Tavro3", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD values[3] = {receiverCom, 4800, 0};
    const char* names[3] = {"Port", "Baud", "Sync"};
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        ok = ok &&
             RegSetValueExA(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]),
                            sizeof values[i]) == ERROR_SUCCESS;
    }
    ok = ok && RegSetValueExA(key, "Source", 0, REG_SZ, reinterpret_cast<const BYTE*>(source),
                              static_cast<DWORD>(strlen(source) + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool StartProgram(const char* path, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    std::string commandLine = std::string("\"") + path + "\"";
    return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process) != FALSE;
}

} // namespace tavro::wintest
