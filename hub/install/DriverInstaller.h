// The driver's installation and service control: the driver image taken from the hub's own
// program file into the system's driver folder, the kernel service "Tavro" registered with
// the virtual port numbers as its parameters, started, and its control device opened; and all
// of it removed again when the ports are switched off. Driven by the hub's static start-up,
// by the message window's start (the check-only extraction) and by "Enable Ports".
//
// The installer works on the hub's exchange holder: its copy of DriverExchangeBlock and the
// control device beside it (the ports count as enabled exactly while the device is open).
// Everything runs on the hub's user-interface thread. Problems are told to the user with the
// Notifier in the words below; none stops the hub.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "hub/settings/Settings.h"
#include "platform/ControlDevice.h"
#include "platform/FileSystem.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/ServiceControl.h"

#include <stdint.h>

namespace tavro {

inline constexpr char driverServiceName[] = "Tavro";

// The image path handed to the service control manager. Windows resolves the relative
// "System32\Drivers\Tavro.sys" against the system root; Wine resolves only absolute paths and
// fails such a start with error 1114. "\SystemRoot\..." is the absolute form of the same path:
// Windows writes it itself for many of its drivers, and Wine maps it too, so one path serves
// both. It names the file ExtractDriver writes (the system directory's "drivers\tavro.sys").
inline constexpr char driverImagePath[] = "\\SystemRoot\\System32\\Drivers\\Tavro.sys";

// Below the system directory (GetSystemDirectoryA).
inline constexpr char driverFileTail[] = "\\drivers\\tavro.sys";

// HKEY_LOCAL_MACHINE, around the service name.
inline constexpr char serviceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr char serviceParametersTail[] = "\\Parameters";

// OpenSCManagerA rights of the installation sequence: connect, create, and the standard ones.
inline constexpr uint32_t installManagerAccess = platform::scManagerConnect |
                                                 platform::scManagerCreateService |
                                                 platform::standardRightsRequired; // 0xF0003

// The system's own messages of this subsystem.
namespace installerText {
inline constexpr char managerRefused[] = "Can't open service manager\rAdmin rights required";
inline constexpr char cannotCreateService[] = "Can't create service %d";
inline constexpr char unableToOpenArchive[] = "Error: Unable to open Tavro archive";
inline constexpr char driverNotInArchive[] = "Error: Unable to find Tavro.sys in archive";
inline constexpr char noProperRights[] = "Error: You do not have proper rights";
// Writing the driver file failed part way (a full disk): the file is removed again.
inline constexpr char cannotWriteDriver[] = "Error: Unable to write Tavro.sys";
inline constexpr char noOutputPorts[] = "No output ports selected";
inline constexpr char pleaseDisconnect[] = "Please disconnect from COM%d";
inline constexpr char invalidDriverVersion[] = "Invalid Tavro driver version";
inline constexpr char driverFileMissing[] = "Unable to find Tavro.sys";
inline constexpr char invalidComPort[] = "Error: Invalid COM port, or driver is confused.";
inline constexpr char midNotFound[] = "Error: MID not found.";
inline constexpr char serviceDisabled[] =
    "Error: Service disabled.\nRestart Windows and try again.";
inline constexpr char markedForDelete[] =
    "Error: Service marked for delete.\nRestart Windows and try again.";
inline constexpr char serviceExists[] = "Error: Service already exists.\nFixing.  Try again.";
inline constexpr char driverBlocked[] = "Error: Driver blocked by your computer. 64 bit?";
inline constexpr char badDriver[] = "Error: Bad driver.";
inline constexpr char startFailed[] = "Error starting Tavro driver.\nWindows Error Code %d";
} // namespace installerText

// What the installer asks of the system.
struct InstallerServices {
    platform::FileSystem& fileSystem;         // the program file and the driver file
    platform::ServiceControl& serviceControl; // the kernel service
    platform::Registry& registry;             // the service's parameters (HKEY_LOCAL_MACHINE)
    platform::Notifier& notifier;
};

// The COM number bitmap of the port lists, as enabling and disabling mark the virtual ports'
// numbers: taken while the ports run, free again when they are switched off. Changed() is the
// hook called once after each such round of marks.
class ComBitmapMarks {
public:
    virtual ~ComBitmapMarks() = default;
    virtual void SetComBit(uint32_t comNumber, bool taken) = 0;
    virtual void Changed() = 0;
};

// The outcome of "Enable Ports" for the main window.
enum class PortsCommand : uint8_t {
    Done,             // the controls follow the device's state and the settings are saved
    ExtractionFailed, // nothing changed: the driver image could not be put in place
};

class DriverInstaller {
public:
    // `exchange` and `device` are the exchange holder; `settings` receives "Version" and
    // "Sum". All must outlive the installer.
    DriverInstaller(const InstallerServices& services, DriverExchangeBlock& exchange,
                    platform::ControlDevice& device, Settings& settings);

    // Opens "\\.\<deviceName>"; true when the device is open afterwards.
    bool OpenControlDevice(const char* deviceName);
    // Closes the device if it is open.
    void CloseControlDevice();
    bool DeviceOpen() const { return device_.IsOpen(); }

    // Reads the program file, records "Version" and "Sum" when this build has not yet, finds
    // the driver image and, unless `checkOnly`, writes it to the driver file. True on success.
    bool ExtractDriver(bool checkOnly);

    // The installation sequence: the manager, the service (created only with `create`), its
    // start and the control device. True when the device is open afterwards.
    bool InstallAndStart(const char* serviceName, const char* imagePath, bool create);

    // CreateServiceA with the kernel-driver parameters, then "Port0".."Port8" under the
    // service's Parameters key from the first nine 32-bit fields of the exchange record.
    void RegisterService(platform::ServiceHandle manager, const char* serviceName,
                         const char* imagePath);

    // Starts the service; true when it runs (also when it was running already).
    bool StartDriverService(platform::ServiceHandle manager, const char* serviceName);

    // Stops and deletes the service, silently, whatever succeeds.
    void StopAndDeleteService(const char* serviceName);

    // Deletes the driver file; the result is ignored.
    void DeleteDriverFile();

    // The static start-up: clears the holder, opens the device, or starts a service left
    // installed by an earlier run when the device is missing, and after an open makes one
    // exchange. Returns true (driverPresent) when the device is open.
    bool StaticAttach();

    // "Enable Ports" ticked (device closed): installs, starts and opens the driver, checks its
    // version and marks the virtual ports' numbers taken in `marks` (null: no bitmap).
    PortsCommand EnablePorts(ComBitmapMarks* marks);

    // "Enable Ports" unticked (device open): with no client on any virtual port, closes the
    // device, stops and deletes the service, deletes the file and marks the numbers free.
    // Otherwise names every port still in use and leaves the driver running.
    PortsCommand DisablePorts(ComBitmapMarks* marks);

private:
    void Show(const char* text);
    void ShowNumber(const char* pattern, uint32_t value);
    // The driver file's full path; false when the system directory is not known.
    bool DriverFilePath(char* path, uint32_t size);

    InstallerServices services_;
    DriverExchangeBlock& exchange_;
    platform::ControlDevice& device_;
    Settings& settings_;
    // Why the last OpenControlDevice failed (error::success after an open).
    uint32_t lastOpenError_ = 0;
};

} // namespace tavro
