#include "hub/install/DriverInstaller.h"

#include "hub/install/DriverPackage.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <memory>
#include <new>
#include <string.h>

namespace tavro {
namespace {

using platform::ScopedRegistryKey;
using platform::ScopedServiceHandle;
using platform::ServiceHandle;

// GetModuleFileNameA is asked for at most 255 characters.
constexpr uint32_t modulePathSize = 256;
// Paths the installer builds (MAX_PATH).
constexpr uint32_t pathSize = 260;
// "Port0".."Port8": the first nine 32-bit fields of the exchange record, the eight COM
// numbers and virtual port 1's open count behind them.
constexpr uint32_t parameterCount = 9;

// The device does not exist: the driver is not running. Any other failure means a device that
// is there and refused this open (its one handle is held elsewhere).
bool DeviceMissing(uint32_t openError) {
    return openError == error::fileNotFound || openError == error::pathNotFound;
}

// Reads until `length` bytes are in or the file ends.
uint32_t ReadUpTo(platform::File& file, uint8_t* into, uint32_t length, uint32_t& got) {
    got = 0;
    while (got < length) {
        uint32_t read = 0;
        const uint32_t result = file.Read(into + got, length - got, read);
        if (result != error::success) {
            return result;
        }
        if (read == 0) {
            break;
        }
        got += read;
    }
    return error::success;
}

} // namespace

DriverInstaller::DriverInstaller(const InstallerServices& services, DriverExchangeBlock& exchange,
                                 platform::ControlDevice& device, Settings& settings)
    : services_(services), exchange_(exchange), device_(device), settings_(settings) {}

void DriverInstaller::Show(const char* text) {
    services_.notifier.ShowMessage(text);
}

void DriverInstaller::ShowNumber(const char* pattern, uint32_t value) {
    char text[128];
    platform::FormatNumber(text, sizeof text, pattern, static_cast<int32_t>(value));
    Show(text);
}

bool DriverInstaller::DriverFilePath(char* path, uint32_t size) {
    uint32_t length = 0;
    if (services_.fileSystem.SystemDirectory(path, size, length) != error::success || length == 0) {
        return false;
    }
    platform::TextBuilder text(path + length, size - length);
    return text.Append(driverFileTail).Fits();
}

// ---- The control device -----------------------------------------------------------------------

bool DriverInstaller::OpenControlDevice(const char* deviceName) {
    lastOpenError_ = device_.Open(deviceName);
    if (lastOpenError_ == error::success && !device_.IsOpen()) {
        lastOpenError_ = error::genFailure;
    }
    return lastOpenError_ == error::success;
}

void DriverInstaller::CloseControlDevice() {
    device_.Close();
}

// ---- The driver image -------------------------------------------------------------------------

bool DriverInstaller::ExtractDriver(bool checkOnly) {
    platform::FileSystem& files = services_.fileSystem;
    char programPath[modulePathSize];
    uint32_t length = 0;
    uint32_t result = files.ModulePath(programPath, sizeof programPath, length);
    std::unique_ptr<platform::File> program;
    if (result == error::success) {
        program = files.OpenForReading(programPath, result);
    }
    if (program == nullptr) {
        Show(installerText::unableToOpenArchive);
        return false;
    }
    // Released on every path.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[packageBufferSize]);
    if (buffer == nullptr) {
        Show(installerText::unableToOpenArchive);
        return false;
    }

    // The first piece: the build's "Sum", recorded once per build.
    uint32_t firstRead = 0;
    result = ReadUpTo(*program, buffer.get(), packageFirstPiece, firstRead);
    if (result == error::success && settings_.version != packageBuildNumber) {
        settings_.version = packageBuildNumber;
        settings_.sum = PackageSum(buffer.get(), firstRead);
    }

    // The second piece, into the start of the same buffer.
    uint32_t secondRead = 0;
    if (result == error::success) {
        result = ReadUpTo(*program, buffer.get(), packageSecondPiece, secondRead);
    }
    program->Close();
    // A file that cannot be read to its end could hand over half a driver.
    if (result != error::success) {
        Show(installerText::unableToOpenArchive);
        return false;
    }

    const uint32_t start = FindDriverSignature(buffer.get(), secondRead);
    if (start == secondRead) {
        Show(installerText::driverNotInArchive);
        return false;
    }
    if (checkOnly) {
        return true;
    }

    char driverPath[pathSize];
    if (!DriverFilePath(driverPath, sizeof driverPath)) {
        Show(installerText::noProperRights);
        return false;
    }
    files.RemoveFile(driverPath);
    // Created empty even if the old file could not be deleted: opened without truncation, a
    // longer old driver would keep its tail behind the new one and no longer load. (Opened
    // with the file system's usual sharing; nobody else writes into the driver folder.)
    std::unique_ptr<platform::File> driver =
        files.OpenForWriting(driverPath, platform::FileDisposition::CreateAlways, result);
    if (driver == nullptr) {
        Show(installerText::noProperRights);
        return false;
    }
    const uint32_t driverLength = secondRead - start;
    uint32_t written = 0;
    result = driver->Write(buffer.get() + start, driverLength, written);
    const uint32_t closed = driver->Close();
    // Half a driver must not stay behind for the service to load.
    if (result != error::success || written != driverLength || closed != error::success) {
        files.RemoveFile(driverPath);
        Show(installerText::cannotWriteDriver);
        return false;
    }
    return true;
}

void DriverInstaller::DeleteDriverFile() {
    char driverPath[pathSize];
    if (DriverFilePath(driverPath, sizeof driverPath)) {
        services_.fileSystem.RemoveFile(driverPath);
    }
}

// ---- The service ------------------------------------------------------------------------------

bool DriverInstaller::InstallAndStart(const char* serviceName, const char* imagePath, bool create) {
    platform::ServiceControl& services = services_.serviceControl;
    ScopedServiceHandle manager(services);
    if (services.OpenManager(installManagerAccess, manager.Receive()) != error::success) {
        Show(installerText::managerRefused);
    }
    if (create) {
        RegisterService(manager.Get(), serviceName, imagePath);
    }
    StartDriverService(manager.Get(), serviceName);
    const bool opened = OpenControlDevice(serviceName);
    manager.Close();
    // A service that cannot be started or opened is removed, so that the next attempt starts
    // clean. But a device that exists and refused the open belongs to a running driver whose
    // one handle is held elsewhere (another hub): that driver and its service stay alone.
    if (!opened && DeviceMissing(lastOpenError_)) {
        StopAndDeleteService(serviceName);
    }
    return opened;
}

void DriverInstaller::RegisterService(ServiceHandle manager, const char* serviceName,
                                      const char* imagePath) {
    // Without the manager nothing of ours can exist under the name, and parameters written
    // regardless would leave a service key without a service.
    if (manager == ServiceHandle::none) {
        return;
    }
    platform::ServiceControl& services = services_.serviceControl;
    ScopedServiceHandle service(services);
    const platform::ServiceConfig config{serviceName,
                                         serviceName,
                                         platform::serviceAllAccess,
                                         platform::serviceKernelDriver,
                                         platform::serviceSystemStart,
                                         platform::serviceErrorNormal,
                                         imagePath};
    const uint32_t created = services.Create(manager, config, service.Receive());
    if (created != error::success) {
        // 1073 when the service exists: its parameters are written anew and the start goes on.
        ShowNumber(installerText::cannotCreateService, created);
    }
    service.Close();

    char keyPath[pathSize];
    platform::TextBuilder path(keyPath, sizeof keyPath);
    path.Append(serviceKeyPrefix).Append(serviceName).Append(serviceParametersTail);
    if (!path.Fits()) {
        return;
    }
    platform::Registry& registry = services_.registry;
    ScopedRegistryKey key(registry);
    if (registry.CreateKey(platform::RegistryKey::localMachine, keyPath, key.Receive()) !=
        error::success) {
        return;
    }
    uint32_t values[parameterCount];
    memcpy(values, exchange_.comNumber, sizeof exchange_.comNumber);
    values[virtualPortCount] = exchange_.openCount[0];
    for (uint32_t n = 0; n < parameterCount; ++n) {
        char name[8];
        platform::TextBuilder(name, sizeof name).Append("Port").AppendUnsigned(n);
        registry.SetValue(key.Get(), name, platform::regDword, &values[n], sizeof values[n]);
    }
}

bool DriverInstaller::StartDriverService(ServiceHandle manager, const char* serviceName) {
    platform::ServiceControl& services = services_.serviceControl;
    ScopedServiceHandle service(services);
    if (manager == ServiceHandle::none ||
        services.Open(manager, serviceName, platform::serviceAllAccess, service.Receive()) !=
            error::success) {
        return false;
    }
    const uint32_t code = services.Start(service.Get());
    if (code == error::success || code == error::serviceAlreadyRunning) {
        return true;
    }
    bool remove = false;
    switch (code) {
    case error::fileNotFound:
    case error::pathNotFound:
        Show(installerText::driverFileMissing);
        remove = true;
        break;
    case error::invalidParameter:
        Show(installerText::invalidComPort);
        break;
    case error::mrMidNotFound:
        Show(installerText::midNotFound);
        break;
    case error::serviceDisabled:
        Show(installerText::serviceDisabled);
        break;
    case error::serviceMarkedForDelete:
        Show(installerText::markedForDelete);
        break;
    case error::serviceExists:
        Show(installerText::serviceExists);
        remove = true;
        break;
    case error::driverBlocked:
        Show(installerText::driverBlocked);
        break;
    case error::badDriver:
        Show(installerText::badDriver);
        break;
    default:
        ShowNumber(installerText::startFailed, code);
        break;
    }
    service.Close();
    if (remove) {
        StopAndDeleteService(serviceName);
    }
    return false;
}

void DriverInstaller::StopAndDeleteService(const char* serviceName) {
    platform::ServiceControl& services = services_.serviceControl;
    ScopedServiceHandle manager(services);
    services.OpenManager(platform::scManagerAllAccess, manager.Receive());
    {
        ScopedServiceHandle service(services);
        if (services.Open(manager.Get(), serviceName, platform::serviceAllAccess,
                          service.Receive()) == error::success) {
            services.Control(service.Get(), platform::serviceControlStop);
        }
    }
    ScopedServiceHandle service(services);
    if (services.Open(manager.Get(), serviceName, platform::serviceAllAccess, service.Receive()) ==
        error::success) {
        services.Delete(service.Get());
    }
}

// ---- Start-up and "Enable Ports" --------------------------------------------------------------

bool DriverInstaller::StaticAttach() {
    exchange_ = DriverExchangeBlock{};
    CloseControlDevice();
    // Only a missing device is a driver to start. A device that refuses the open is running
    // with its one handle held by another hub; starting or removing anything then would take
    // that hub's ports away.
    if (!OpenControlDevice(driverServiceName) && DeviceMissing(lastOpenError_)) {
        InstallAndStart(driverServiceName, driverImagePath, false);
    }
    if (!DeviceOpen()) {
        return false;
    }
    device_.Exchange(exchange_);
    return true;
}

PortsCommand DriverInstaller::EnablePorts(ComBitmapMarks* marks) {
    if (DeviceOpen()) {
        return PortsCommand::Done;
    }
    if (exchange_.comNumber[0] == 0) {
        Show(installerText::noOutputPorts);
        return PortsCommand::Done;
    }
    if (!ExtractDriver(false)) {
        return PortsCommand::ExtractionFailed;
    }
    if (!InstallAndStart(driverServiceName, driverImagePath, true)) {
        return PortsCommand::Done;
    }
    device_.Exchange(exchange_);
    if (exchange_.version != driverInterfaceVersion) {
        CloseControlDevice();
        Show(installerText::invalidDriverVersion);
        return PortsCommand::Done;
    }
    if (marks != nullptr) {
        for (uint32_t comNumber : exchange_.comNumber) {
            if (comNumber != 0) {
                marks->SetComBit(comNumber, true);
            }
        }
        marks->Changed();
    }
    return PortsCommand::Done;
}

PortsCommand DriverInstaller::DisablePorts(ComBitmapMarks* marks) {
    if (!DeviceOpen()) {
        return PortsCommand::Done;
    }
    // The open counts of the timer loop's last exchange: an exchange made here would collect
    // the clients' bytes for the receiver and lose them.
    bool inUse = false;
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        if (exchange_.openCount[k] != 0) {
            inUse = true;
            ShowNumber(installerText::pleaseDisconnect, exchange_.comNumber[k]);
        }
    }
    // While any port is in use the driver keeps every port, so every number stays taken.
    if (inUse) {
        return PortsCommand::Done;
    }
    CloseControlDevice();
    StopAndDeleteService(driverServiceName);
    DeleteDriverFile();
    if (marks != nullptr) {
        for (uint32_t comNumber : exchange_.comNumber) {
            if (comNumber != 0) {
                marks->SetComBit(comNumber, false);
            }
        }
        marks->Changed();
    }
    return PortsCommand::Done;
}

} // namespace tavro
