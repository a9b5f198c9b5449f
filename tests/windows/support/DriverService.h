// The driver as a kernel service, from the test programs' side: install, configure, start,
// stop and remove it, and look at what it publishes (SERIALCOMM values, COM names).
#pragma once

#include <windows.h>

#include <string>

namespace tavro::wintest {

inline constexpr char serviceName[] = "Tavro";
inline constexpr char serialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class DriverService {
public:
    explicit DriverService(const char* name = serviceName);
    ~DriverService();
    DriverService(const DriverService&) = delete;
    DriverService& operator=(const DriverService&) = delete;

    // Creates the kernel service with this image path (reusing a service left by an earlier
    // run). Returns 0 or the Win32 error.
    DWORD Install(const char* imagePath);
    // StartServiceA; 0 or the Win32 error.
    DWORD Start();
    // Stops the service and waits until it reports SERVICE_STOPPED (the driver is unloaded).
    DWORD Stop();
    DWORD Remove();
    bool IsRunning();

private:
    std::string name;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

struct PortValue {
    const char* name;
    DWORD comNumber;
};
// Replaces the whole "Parameters" key of the service by these DWORD values ("Port0" = 5, ...).
bool WritePortValues(const PortValue* values, size_t count, const char* service = serviceName);
// Adds one value of any type to "Parameters" (for values the driver must ignore).
bool WriteParameterValue(const char* name, DWORD type, const void* data, DWORD size,
                         const char* service = serviceName);
bool DeleteParameters(const char* service = serviceName);

// The data of a REG_SZ value under SERIALCOMM; empty when the value does not exist.
std::string ReadSerialComm(const char* valueName);
bool SerialCommValueExists(const char* valueName);
bool WriteSerialComm(const char* valueName, const char* data);
bool DeleteSerialComm(const char* valueName);

// Opens a name with CreateFileA and closes it again; returns 0 or the Win32 error.
DWORD TryOpen(const char* path);

// Directory of the running program, with a trailing backslash.
std::string ProgramDirectory();

} // namespace tavro::wintest
