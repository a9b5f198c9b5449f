// An open registry key, named by a well-known root or an absolute path plus a relative name.
// The key is closed by Close() or by the destructor.
#pragma once

#include "sys/kernel/KernelHeaders.h"

#include <stdint.h>

namespace tavro::kernel {

enum class RegistryRoot : uint32_t {
    None = 0,             // the relative name is the whole path
    Services = 1,         // \Registry\Machine\System\CurrentControlSet\Services
    Control = 2,          // \Registry\Machine\System\CurrentControlSet\Control
    WindowsNtVersion = 3, // \Registry\Machine\Software\Microsoft\Windows NT\CurrentVersion
    DeviceMap = 4,        // \REGISTRY\Machine\HARDWARE\DEVICEMAP
    User = 5,             // \Registry\User
};

// What to do when the key does not exist.
enum class KeyDisposition {
    OpenExisting,
    CreateIfMissing,
};

class RegistryKey {
public:
    RegistryKey(RegistryRoot root, const wchar_t* relative, ACCESS_MASK access,
                KeyDisposition disposition = KeyDisposition::OpenExisting, ULONG createOptions = 0);
    RegistryKey(const UNICODE_STRING& absolute, const wchar_t* relative, ACCESS_MASK access,
                KeyDisposition disposition = KeyDisposition::OpenExisting, ULONG createOptions = 0);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // The status of the open or create; the other operations fail while it is an error.
    NTSTATUS Status() const { return openStatus; }
    bool IsOpen() const { return handle != nullptr; }

    // Reads a REG_DWORD value. Any other type, or a size other than 4 bytes, gives
    // STATUS_OBJECT_TYPE_MISMATCH; on every failure `value` is left untouched.
    NTSTATUS ReadUInt32(const wchar_t* name, uint32_t& value);
    // Writes a REG_SZ value including its terminating zero.
    NTSTATUS WriteString(const wchar_t* name, const UNICODE_STRING& text);
    NTSTATUS DeleteValue(const wchar_t* name);
    void Close();

private:
    void Open(const UNICODE_STRING& base, const wchar_t* relative, ACCESS_MASK access,
              KeyDisposition disposition, ULONG createOptions);

    HANDLE handle = nullptr;
    NTSTATUS openStatus = STATUS_UNSUCCESSFUL;
};

} // namespace tavro::kernel
