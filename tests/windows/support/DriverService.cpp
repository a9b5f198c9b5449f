#include "tests/windows/support/DriverService.h"

#include <string.h>

namespace tavro::wintest {

namespace {

std::string ParametersKey(const char* service) {
    return std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Parameters";
}

} // namespace

DriverService::DriverService(const char* name) : name(name) {
    manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

DriverService::~DriverService() {
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
}

DWORD DriverService::Install(const char* imagePath) {
    if (manager == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             imagePath, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr) {
        return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_EXISTS) {
        return error;
    }
    service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        return GetLastError();
    }
    if (!ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, imagePath, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)) {
        return GetLastError();
    }
    return 0;
}

DWORD DriverService::Start() {
    if (service == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
}

bool DriverService::IsRunning() {
    SERVICE_STATUS status{};
    return service != nullptr && QueryServiceStatus(service, &status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

DWORD DriverService::Stop() {
    if (service == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        return GetLastError();
    }
    for (int i = 0; i < 100; ++i) {
        if (!QueryServiceStatus(service, &status)) {
            return GetLastError();
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            return 0;
        }
        Sleep(50);
    }
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

DWORD DriverService::Remove() {
    if (service == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const DWORD error = DeleteService(service) ? 0 : GetLastError();
    CloseServiceHandle(service);
    service = nullptr;
    return error;
}

bool DeleteParameters(const char* service) {
    const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, ParametersKey(service).c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool WriteParameterValue(const char* name, DWORD type, const void* data, DWORD size,
                         const char* service) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParametersKey(service).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool WritePortValues(const PortValue* values, size_t count, const char* service) {
    if (!DeleteParameters(service)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParametersKey(service).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < count; ++i) {
        ok = ok && RegSetValueExA(key, values[i].name, 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&values[i].comNumber),
                                  sizeof(DWORD)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

std::string ReadSerialComm(const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    char data[256] = {};
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    return std::string(data);
}

bool SerialCommValueExists(const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool WriteSerialComm(const char* valueName, const char* data) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, serialCommKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result =
        RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(strlen(data) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool DeleteSerialComm(const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialCommKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegDeleteValueA(key, valueName);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

DWORD TryOpen(const char* path) {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CloseHandle(handle);
    return 0;
}

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

} // namespace tavro::wintest
