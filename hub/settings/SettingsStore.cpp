// Every value is read into a buffer of its own and taken only when its type and size are
// right, so a damaged or foreign value can never leave half a number or an unterminated path
// behind; the registry may fill a too-small buffer with anything.
#include "hub/settings/SettingsStore.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <string.h>

namespace tavro {
namespace {

using platform::Registry;
using platform::RegistryKey;
using platform::ScopedRegistryKey;

// Read buffer of a "Dev%d" value; a longer value does not load.
constexpr uint32_t deviceReadSize = 128;
// Stale "Dev%d" values behind a shorter list are removed up to the first gap, at most these.
constexpr uint32_t staleDeviceLimit = 1024;
// The longest program path that goes into the autostart entry (the Windows path limit).
constexpr size_t modulePathMax = 32767;

using ValueName = char[16];

constexpr bool TableSizesFit() {
    for (const StoredSetting& entry : storedSettings) {
        if ((entry.type == platform::regSz) != (entry.size != 4) || entry.size > textSettingMax) {
            return false;
        }
    }
    return storedSettings[4].type == platform::regSz && storedSettings[4].size == logPathSize;
}
static_assert(TableSizesFit(), "numbers are 4 bytes, texts (\"LogPath\" among them) longer");

void NumberedName(ValueName& name, const char* prefix, uint32_t number) {
    platform::TextBuilder(name, sizeof name).Append(prefix).AppendUnsigned(number);
}

// error::invalidData for a value that exists but is no 4-byte REG_DWORD.
uint32_t QueryNumber(Registry& registry, RegistryKey key, const char* name, uint32_t& number) {
    uint8_t bytes[4] = {};
    uint32_t type = platform::regNone;
    uint32_t size = sizeof bytes;
    const uint32_t result = registry.QueryValue(key, name, &type, bytes, &size);
    if (result != error::success) {
        return result;
    }
    if (type != platform::regDword || size != sizeof bytes) {
        return error::invalidData;
    }
    number = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
             static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return error::success;
}

void SetNumber(Registry& registry, RegistryKey key, const char* name, uint32_t number) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                              static_cast<uint8_t>(number >> 16),
                              static_cast<uint8_t>(number >> 24)};
    registry.SetValue(key, name, platform::regDword, bytes, sizeof bytes);
}

// A REG_SZ of at most `capacity` - 1 characters; it ends at the returned length or at an
// earlier zero.
void LoadText(Registry& registry, RegistryKey key, const char* name, char* text,
              uint32_t capacity) {
    char buffer[textSettingMax];
    uint32_t type = platform::regNone;
    uint32_t size = capacity;
    if (registry.QueryValue(key, name, &type, buffer, &size) != error::success ||
        type != platform::regSz || size > capacity) {
        return;
    }
    const size_t length = strnlen(buffer, size);
    if (length >= capacity) {
        return; // no room for the terminator
    }
    memcpy(text, buffer, length);
    text[length] = '\0';
}

void LoadRestartDevices(Registry& registry, RegistryKey key, RestartDeviceTable& devices) {
    uint32_t count = 0;
    for (; count < restartDeviceCapacity; ++count) {
        ValueName name;
        NumberedName(name, "Dev", count);
        uint8_t buffer[deviceReadSize];
        uint32_t type = platform::regNone;
        uint32_t size = sizeof buffer;
        if (registry.QueryValue(key, name, &type, buffer, &size) != error::success ||
            type != platform::regBinary || size < deviceValueSize) {
            break;
        }
        uint8_t value[deviceValueSize];
        memcpy(value, buffer, sizeof value);
        devices[count].device = DecodeDeviceValue(value);
        devices[count].state = restartDeviceListed;
    }
    if (count < restartDeviceCapacity) {
        devices[count].state = 0;
    }
}

} // namespace

void LoadSettings(Registry& registry, Settings& settings, DriverExchangeBlock& exchange,
                  RestartDeviceTable& devices) {
    ScopedRegistryKey key(registry);
    if (registry.CreateKey(RegistryKey::currentUser, settingsKeyPath, key.Receive()) !=
        error::success) {
        return;
    }
    auto* base = reinterpret_cast<uint8_t*>(&settings);
    for (size_t i = 0; i < storedSettings.size(); ++i) {
        const StoredSetting& entry = storedSettings[i];
        if (entry.type == platform::regSz) {
            LoadText(registry, key.Get(), entry.name, reinterpret_cast<char*>(base + entry.offset),
                     entry.size);
            continue;
        }
        uint32_t number = 0;
        const uint32_t result = QueryNumber(registry, key.Get(), entry.name, number);
        if (result == error::success) {
            memcpy(base + entry.offset, &number, sizeof number);
        } else if (i == baudEntry && result == error::fileNotFound) {
            settings.firstRun = true;
        }
    }
    for (uint32_t n = 0; n < virtualPortCount; ++n) {
        ValueName name;
        NumberedName(name, "Port", n);
        uint32_t number = 0;
        if (QueryNumber(registry, key.Get(), name, number) == error::success) {
            exchange.comNumber[n] = number;
        }
    }
    LoadRestartDevices(registry, key.Get(), devices);
}

void LoadEditionSettings(Registry& registry, Settings& settings, DriverExchangeBlock& exchange,
                         RestartDeviceTable& devices) {
    char logPath[logPathSize];
    EditionLogPathDefault(logPath);
    settings = DefaultSettings(logPath);
    LoadSettings(registry, settings, exchange, devices);
}

void SaveSettings(Registry& registry, const Settings& settings, const DriverExchangeBlock& exchange,
                  const char* modulePath, bool controlDeviceOpen) {
    ScopedRegistryKey key(registry);
    if (registry.CreateKey(RegistryKey::currentUser, settingsKeyPath, key.Receive()) !=
        error::success) {
        return;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(&settings);
    for (const StoredSetting& entry : storedSettings) {
        if (entry.type == platform::regSz) {
            // Without the terminator: the stored length is the character count.
            const char* text = reinterpret_cast<const char*>(base + entry.offset);
            const auto length = static_cast<uint32_t>(strnlen(text, entry.size - 1));
            registry.SetValue(key.Get(), entry.name, platform::regSz, text, length);
            continue;
        }
        uint32_t number = 0;
        memcpy(&number, base + entry.offset, sizeof number);
        SetNumber(registry, key.Get(), entry.name, number);
    }
    for (uint32_t n = 0; n < virtualPortCount; ++n) {
        ValueName name;
        NumberedName(name, "Port", n);
        SetNumber(registry, key.Get(), name, exchange.comNumber[n]);
    }
    key.Close();

    if (registry.CreateKey(RegistryKey::currentUser, runKeyPath, key.Receive()) != error::success) {
        return;
    }
    if (!controlDeviceOpen) {
        registry.DeleteValue(key.Get(), autostartValueName);
        return;
    }
    const size_t length = modulePath != nullptr ? strnlen(modulePath, modulePathMax + 1) : 0;
    if (length != 0 && length <= modulePathMax) {
        registry.SetValue(key.Get(), autostartValueName, platform::regSz, modulePath,
                          static_cast<uint32_t>(length + 1));
    }
}

void SaveRestartDevices(Registry& registry, std::span<const DeviceListRow> rows,
                        RestartDeviceTable& devices, const Settings& settings,
                        const DriverExchangeBlock& exchange, const char* modulePath,
                        bool controlDeviceOpen) {
    // The table follows the ticks even when they cannot be stored: they hold for this session.
    uint32_t count = 0;
    for (const DeviceListRow& row : rows) {
        if (row.ticked && count < restartDeviceCapacity) {
            devices[count].device = row.device;
            devices[count].state = restartDeviceListed;
            ++count;
        }
    }
    if (count < restartDeviceCapacity) {
        devices[count].state = 0;
    }

    ScopedRegistryKey key(registry);
    if (registry.CreateKey(RegistryKey::currentUser, settingsKeyPath, key.Receive()) ==
        error::success) {
        for (uint32_t k = 0; k < count; ++k) {
            ValueName name;
            NumberedName(name, "Dev", k);
            uint8_t value[deviceValueSize];
            EncodeDeviceValue(devices[k].device, value);
            registry.SetValue(key.Get(), name, platform::regBinary, value, sizeof value);
        }
        // The list ends at the first missing number. The values of a longer list saved
        // before could never be read again; they go too, so the key holds just the list.
        for (uint32_t k = count; k < count + staleDeviceLimit; ++k) {
            ValueName name;
            NumberedName(name, "Dev", k);
            if (registry.DeleteValue(key.Get(), name) != error::success) {
                break;
            }
        }
        key.Close();
    }
    SaveSettings(registry, settings, exchange, modulePath, controlDeviceOpen);
}

} // namespace tavro
