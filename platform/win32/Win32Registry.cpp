// The Windows registry through advapi32 (ANSI functions). Keys are opened with
// MAXIMUM_ALLOWED, as RegCreateKeyA does, so that a user without administrator rights still
// reads what the local-machine root lets him read.
#include "platform/Registry.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

HKEY ToHkey(RegistryKey key) {
    switch (key) {
    case RegistryKey::currentUser:
        return HKEY_CURRENT_USER;
    case RegistryKey::localMachine:
        return HKEY_LOCAL_MACHINE;
    default:
        return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key));
    }
}

bool IsRoot(RegistryKey key) {
    return key == RegistryKey::currentUser || key == RegistryKey::localMachine;
}

class Win32Registry final : public Registry {
public:
    uint32_t CreateKey(RegistryKey parent, const char* subKey, RegistryKey& key) override {
        key = RegistryKey::none;
        if (parent == RegistryKey::none) {
            return error::invalidHandle;
        }
        HKEY opened = nullptr;
        const LONG result =
            RegCreateKeyExA(ToHkey(parent), subKey == nullptr ? "" : subKey, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, &opened, nullptr);
        if (result == ERROR_SUCCESS) {
            key = static_cast<RegistryKey>(reinterpret_cast<uintptr_t>(opened));
        }
        return static_cast<uint32_t>(result);
    }

    uint32_t OpenKey(RegistryKey parent, const char* subKey, RegistryKey& key) override {
        key = RegistryKey::none;
        if (parent == RegistryKey::none) {
            return error::invalidHandle;
        }
        HKEY opened = nullptr;
        const LONG result = RegOpenKeyExA(ToHkey(parent), subKey == nullptr ? "" : subKey, 0,
                                          MAXIMUM_ALLOWED, &opened);
        if (result == ERROR_SUCCESS) {
            key = static_cast<RegistryKey>(reinterpret_cast<uintptr_t>(opened));
        }
        return static_cast<uint32_t>(result);
    }

    uint32_t QueryValue(RegistryKey key, const char* name, uint32_t* type, void* data,
                        uint32_t* size) override {
        if (key == RegistryKey::none) {
            return error::invalidHandle;
        }
        if (data != nullptr && size == nullptr) {
            return error::invalidParameter;
        }
        DWORD valueType = REG_NONE;
        DWORD valueSize = size != nullptr ? *size : 0;
        const LONG result =
            RegQueryValueExA(ToHkey(key), name, nullptr, &valueType, static_cast<BYTE*>(data),
                             size != nullptr ? &valueSize : nullptr);
        if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            if (type != nullptr) {
                *type = valueType;
            }
            if (size != nullptr) {
                *size = valueSize;
            }
        }
        return static_cast<uint32_t>(result);
    }

    uint32_t SetValue(RegistryKey key, const char* name, uint32_t type, const void* data,
                      uint32_t size) override {
        if (key == RegistryKey::none) {
            return error::invalidHandle;
        }
        if (data == nullptr && size != 0) {
            return error::invalidParameter;
        }
        return static_cast<uint32_t>(
            RegSetValueExA(ToHkey(key), name, 0, type, static_cast<const BYTE*>(data), size));
    }

    uint32_t DeleteValue(RegistryKey key, const char* name) override {
        if (key == RegistryKey::none) {
            return error::invalidHandle;
        }
        return static_cast<uint32_t>(RegDeleteValueA(ToHkey(key), name));
    }

    uint32_t EnumValue(RegistryKey key, uint32_t index, char* name, uint32_t* nameSize,
                       uint32_t* type, void* data, uint32_t* dataSize) override {
        if (key == RegistryKey::none) {
            return error::invalidHandle;
        }
        if (name == nullptr || nameSize == nullptr || (data != nullptr && dataSize == nullptr)) {
            return error::invalidParameter;
        }
        DWORD nameLength = *nameSize;
        DWORD valueType = REG_NONE;
        DWORD valueSize = dataSize != nullptr ? *dataSize : 0;
        const LONG result =
            RegEnumValueA(ToHkey(key), index, name, &nameLength, nullptr, &valueType,
                          static_cast<BYTE*>(data), dataSize != nullptr ? &valueSize : nullptr);
        if (result == ERROR_SUCCESS) {
            *nameSize = nameLength;
        }
        if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            if (type != nullptr) {
                *type = valueType;
            }
            if (dataSize != nullptr) {
                *dataSize = valueSize;
            }
        }
        return static_cast<uint32_t>(result);
    }

    uint32_t CloseKey(RegistryKey key) override {
        if (IsRoot(key)) {
            return error::success;
        }
        if (key == RegistryKey::none) {
            return error::invalidHandle;
        }
        return static_cast<uint32_t>(RegCloseKey(ToHkey(key)));
    }
};

} // namespace

Registry& SystemRegistry() {
    static Win32Registry instance;
    return instance;
}

} // namespace tavro::platform
