// The registry, in the terms of the Win32 registry functions: keys under the current-user and
// local-machine roots, values of type REG_DWORD, REG_SZ and REG_BINARY (any other type number
// is stored and returned unchanged), and Win32 error codes (platform/ErrorCodes.h).
//
// Key paths are backslash-separated ("Software\Brindle\Tavro3"), names compare without regard
// to ASCII case, and texts are 8-bit. Windows: advapi32. POSIX: a `.reg`-style text file per
// root under the user's configuration folder. Tests: in memory.
#pragma once

#include <stdint.h>

namespace tavro::platform {

// A key handle. The two roots are always open; the others come from CreateKey and OpenKey and
// go back with CloseKey. `none` is the closed handle.
enum class RegistryKey : uintptr_t {
    none = 0,
    currentUser = 0x80000001,  // HKEY_CURRENT_USER
    localMachine = 0x80000002, // HKEY_LOCAL_MACHINE
};

// Value types, with the Win32 numbers.
inline constexpr uint32_t regNone = 0;
inline constexpr uint32_t regSz = 1;
inline constexpr uint32_t regExpandSz = 2;
inline constexpr uint32_t regBinary = 3;
inline constexpr uint32_t regDword = 4;
inline constexpr uint32_t regMultiSz = 7;

// Limits every adapter enforces alike (the Windows ones): a key name component of at most 255
// characters, a value name of at most 16383.
inline constexpr uint32_t registryKeyNameMax = 255;
inline constexpr uint32_t registryValueNameMax = 16383;

class Registry {
public:
    virtual ~Registry() = default;

    // RegCreateKeyExA: opens `subKey` below `parent`, creating it and any missing key on the
    // way. An empty or null `subKey` opens `parent` again. On failure `key` is `none`.
    virtual uint32_t CreateKey(RegistryKey parent, const char* subKey, RegistryKey& key) = 0;

    // RegOpenKeyExA: opens an existing key; error::fileNotFound when it does not exist.
    virtual uint32_t OpenKey(RegistryKey parent, const char* subKey, RegistryKey& key) = 0;

    // RegQueryValueExA. `name` null or empty is the key's default value. `type` (optional)
    // receives the type. `size` holds the buffer size on entry and the value's size on return.
    // Without `data` only the size is reported. With a buffer that is too small the result is
    // error::moreData, `size` receives the required size and nothing is copied (Windows only
    // promises nothing about the buffer then: never use it). A missing value is
    // error::fileNotFound and leaves `size` alone. The stores of this project return exactly
    // the bytes stored; Windows may add a terminator to a REG_SZ stored without one.
    virtual uint32_t QueryValue(RegistryKey key, const char* name, uint32_t* type, void* data,
                                uint32_t* size) = 0;

    // RegSetValueExA: stores exactly `size` bytes (a REG_SZ includes its terminator only if
    // the caller counts it).
    virtual uint32_t SetValue(RegistryKey key, const char* name, uint32_t type, const void* data,
                              uint32_t size) = 0;

    // RegDeleteValueA; error::fileNotFound when there is no such value.
    virtual uint32_t DeleteValue(RegistryKey key, const char* name) = 0;

    // RegEnumValueA: the value at `index` (0, 1, … in the key's order until
    // error::noMoreItems). `nameSize` is the name buffer's size in characters including the
    // terminator on entry and the name's length without it on return; a name that does not fit
    // gives error::moreData. `type`, `data` and `dataSize` work as in QueryValue: a data
    // buffer that is too small gives error::moreData with the size needed in `dataSize`.
    virtual uint32_t EnumValue(RegistryKey key, uint32_t index, char* name, uint32_t* nameSize,
                               uint32_t* type, void* data, uint32_t* dataSize) = 0;

    // RegCloseKey. Closing a root is allowed and does nothing.
    virtual uint32_t CloseKey(RegistryKey key) = 0;
};

// The registry of the edition this program was built for: the Windows registry, or on POSIX
// the file store in $XDG_CONFIG_HOME/tavro (else $HOME/.config/tavro).
Registry& SystemRegistry();

// Closes the key it holds when it goes out of scope.
class ScopedRegistryKey {
public:
    explicit ScopedRegistryKey(Registry& registry) : registry_(registry) {}
    ~ScopedRegistryKey() { Close(); }

    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    // For the out parameter of CreateKey and OpenKey; closes what was held before.
    RegistryKey& Receive() {
        Close();
        return key_;
    }
    RegistryKey Get() const { return key_; }
    bool IsOpen() const { return key_ != RegistryKey::none; }

    void Close() {
        if (key_ != RegistryKey::none) {
            registry_.CloseKey(key_);
            key_ = RegistryKey::none;
        }
    }

private:
    Registry& registry_;
    RegistryKey key_ = RegistryKey::none;
};

} // namespace tavro::platform
