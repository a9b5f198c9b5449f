#include "hub/posix/host/LiveSettings.h"

#include "common/DriverExchangeBlock.h"
#include "hub/engine/GpsPort.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ErrorCodes.h"

#include <cstring>

namespace tavro::posixhub {
uint32_t LiveSettings::Apply(Outcome& outcome) {
    outcome = Outcome{};
    HubContext& hub = engine_.Context();
    Settings fresh;
    DriverExchangeBlock numbers{};
    RestartDeviceTable devices{};
    LoadEditionSettings(registry_, fresh, numbers, devices);
    fresh.firstRun = hub.settings.firstRun;

    const Settings previous = hub.settings;
    hub.settings = fresh;
    storedBaud_ = fresh.baud;
    GpsPort* input = hub.inputPort.get();
    if (input != nullptr) {
        // As the main window's input list and speed list do.
        if (fresh.port != previous.port || fresh.baud != previous.baud ||
            std::strcmp(fresh.source, previous.source) != 0) {
            input->Close();
            hub.loop.lastStatus = refreshStatus;
            if (hub.InputConfigured()) {
                input->Open();
            }
            outcome.inputReopened = true;
        }
        // As its "Logging" box and path do: the log goes on in a new file, or stops.
        if (fresh.logging != previous.logging ||
            std::strcmp(fresh.logPath, previous.logPath) != 0) {
            if (fresh.logging != 0 && fresh.logPath[0] != '\0') {
                input->CreateLogDirectories(fresh.logPath);
            }
            input->CloseLog();
        }
    }
    return ApplyPortNumbers(numbers.comNumber, outcome.portsChanged);
}

uint32_t LiveSettings::ApplyPortNumbers(const uint32_t (&numbers)[virtualPortCount],
                                        bool& changed) {
    changed = false;
    if (!ports_.IsOpen()) {
        ports_.Configure(numbers);
        if (numbers[0] == 0) {
            return error::fileNotFound;
        }
        const uint32_t result = ports_.Open(controlDeviceName);
        changed = result == error::success;
        return result;
    }
    bool same = true;
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        same = same && ports_.ComNumber(i) == numbers[i];
    }
    if (same) {
        return error::success;
    }
    if (numbers[0] == 0) {
        // Without virtual port 1 the ports are off, as a driver without it does not start.
        ports_.Close();
        ports_.Configure(numbers);
        changed = true;
        return error::fileNotFound;
    }
    const uint32_t result = ports_.Reconfigure(numbers);
    changed = true;
    return result;
}

void LiveSettings::StoreSpeedChange() {
    const uint32_t baud = engine_.Context().settings.baud;
    if (storedBaud_ == 0) {
        storedBaud_ = baud;
        return;
    }
    if (baud == storedBaud_) {
        return;
    }
    // Once: a store that cannot be written has said why on stderr.
    storedBaud_ = baud;
    platform::RegistryKey key = platform::RegistryKey::none;
    if (registry_.CreateKey(platform::RegistryKey::currentUser, settingsKeyPath, key) ==
        error::success) {
        registry_.SetValue(key, "Baud", platform::regDword, &baud, sizeof baud);
        registry_.CloseKey(key);
    }
}

} // namespace tavro::posixhub
