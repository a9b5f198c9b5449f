// Loads and saves the hub's settings in the current user's registry key, the autostart entry
// and the list of restart devices. Every registry failure is silent: what cannot be read keeps
// its default, what cannot be written is simply not stored.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/Settings.h"
#include "platform/Registry.h"

#include <span>
#include <stdint.h>

namespace tavro {

inline constexpr char settingsKeyPath[] = "Software\\Brindle\\Tavro3";
inline constexpr char runKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char autostartValueName[] = "Tavro";

// One row of the main window's device list: whether its box is ticked, and its device.
struct DeviceListRow {
    bool ticked;
    DeviceInfoData device;
};

// Reads the settings key (creating it when missing): the SettingsTable values into
// `settings`, "Port0".."Port7" into `exchange.comNumber`, and "Dev0", "Dev1", … into
// `devices` up to the first value that is missing or unusable (at most 64). A value of the
// wrong type or size keeps what was there; a missing "Baud" sets `settings.firstRun`.
void LoadSettings(platform::Registry& registry, Settings& settings, DriverExchangeBlock& exchange,
                  RestartDeviceTable& devices);

// The edition's defaults (EditionLogPathDefault as "LogPath"), then LoadSettings over them:
// what every program that reads the settings starts with.
void LoadEditionSettings(platform::Registry& registry, Settings& settings,
                         DriverExchangeBlock& exchange, RestartDeviceTable& devices);

// Writes the nine values and "Port0".."Port7", then the autostart entry: with the control
// device open (ports enabled) the value "Tavro" under the Run key becomes `modulePath`,
// otherwise it is deleted. A null or empty `modulePath` leaves an existing entry alone.
void SaveSettings(platform::Registry& registry, const Settings& settings,
                  const DriverExchangeBlock& exchange, const char* modulePath,
                  bool controlDeviceOpen);

// Stores the ticked rows, in order, as "Dev0", "Dev1", … (the first 64 of them), removes the
// values of any longer list stored before, makes `devices` the same list, then SaveSettings.
void SaveRestartDevices(platform::Registry& registry, std::span<const DeviceListRow> rows,
                        RestartDeviceTable& devices, const Settings& settings,
                        const DriverExchangeBlock& exchange, const char* modulePath,
                        bool controlDeviceOpen);

} // namespace tavro
