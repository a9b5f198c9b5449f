// The driver installer's world in memory: a program file that is a package (a hub image with a
// driver behind it), the system directory, a service control manager, the machine's registry,
// and a driver that exists exactly while its service runs: started from the "Port0".."Port7"
// the installer wrote, with its control device and virtual ports in process.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "hub/install/DriverInstaller.h"
#include "hub/install/DriverPackage.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeServiceControl.h"
#include "platform/testing/MemoryFileSystem.h"
#include "platform/testing/MemoryRegistry.h"
#include "platform/testing/RecordingNotifier.h"
#include "sys/usermode/InProcessDriver.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavro::testing {

inline const std::string programPath = "C:\\Program Files\\Tavro\\Tavro.exe";
inline const std::string systemDirectory = "C:\\Windows\\system32";
inline const std::string driversDirectory = systemDirectory + "\\drivers";
inline const std::string driverFile = driversDirectory + "\\tavro.sys";
inline const std::string parametersKey = "SYSTEM\\CurrentControlSet\\Services\\Tavro\\Parameters";

// A hub image of `size` bytes: it begins with the signature, as every program does, and holds
// no other (consecutive bytes differ by 7, the signature's first two by 13).
inline std::string HubImage(size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    const char mz[] = {0x4D, 0x5A, static_cast<char>(0x90), 0x00};
    image.replace(0, std::min(size, sizeof mz), mz, std::min(size, sizeof mz));
    return image;
}

// A driver image of `size` bytes (at least 8): the signature, a pattern, and the signature once
// more in the middle, which must stay part of the driver.
inline std::string DriverImage(size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>((i * 11 + 5) & 0xFF);
    }
    const std::string mz("\x4D\x5A\x90\x00", 4);
    image.replace(0, 4, mz);
    image.replace(size / 2, 4, mz);
    return image;
}

// The registry with a machine part that only an administrator may change.
class GuardedRegistry final : public platform::Registry {
public:
    explicit GuardedRegistry(platform::MemoryRegistry& inner) : inner_(inner) {}

    void LockMachine(bool locked) { machineLocked_ = locked; }

    uint32_t CreateKey(platform::RegistryKey parent, const char* subKey,
                       platform::RegistryKey& key) override {
        if (machineLocked_ && parent == platform::RegistryKey::localMachine) {
            key = platform::RegistryKey::none;
            return error::accessDenied;
        }
        return inner_.CreateKey(parent, subKey, key);
    }
    uint32_t OpenKey(platform::RegistryKey parent, const char* subKey,
                     platform::RegistryKey& key) override {
        return inner_.OpenKey(parent, subKey, key);
    }
    uint32_t QueryValue(platform::RegistryKey key, const char* name, uint32_t* type, void* data,
                        uint32_t* size) override {
        return inner_.QueryValue(key, name, type, data, size);
    }
    uint32_t SetValue(platform::RegistryKey key, const char* name, uint32_t type, const void* data,
                      uint32_t size) override {
        return inner_.SetValue(key, name, type, data, size);
    }
    uint32_t DeleteValue(platform::RegistryKey key, const char* name) override {
        return inner_.DeleteValue(key, name);
    }
    uint32_t EnumValue(platform::RegistryKey key, uint32_t index, char* name, uint32_t* nameSize,
                       uint32_t* type, void* data, uint32_t* dataSize) override {
        return inner_.EnumValue(key, index, name, nameSize, type, data, dataSize);
    }
    uint32_t CloseKey(platform::RegistryKey key) override { return inner_.CloseKey(key); }

private:
    platform::MemoryRegistry& inner_;
    bool machineLocked_ = false;
};

// Tavro.sys as the fake service control manager runs it. A start needs the image path the
// installer registers, the driver file, and a non-zero "Port0" (else the driver's entry fails
// with STATUS_INVALID_PARAMETER, which the manager reports as 87); it then brings up the driver
// in process with the eight COM numbers. A stop unloads it. Its control device is the hub's.
class ServiceDriver final : public platform::ControlDevice {
public:
    ServiceDriver(platform::testing::FakeServiceControl& services,
                  platform::testing::MemoryFileSystem& files, platform::Registry& registry)
        : files_(files), registry_(registry) {
        services.SetStarter(
            [this](const platform::testing::FakeService& service) { return Start(service); });
        services.SetStopper([this](const platform::testing::FakeService&) { Unload(); });
    }

    // A driver running before the test, with these COM numbers.
    void Load(const std::array<uint32_t, virtualPortCount>& comNumbers) {
        driver_ = std::make_unique<driver::usermode::InProcessDriver>(comNumbers);
        comNumbers_ = comNumbers;
    }
    void Unload() {
        driver_.reset();
        comNumbers_ = {};
    }
    bool Running() const { return driver_ != nullptr; }
    const std::array<uint32_t, virtualPortCount>& ComNumbers() const { return comNumbers_; }
    uint32_t Starts() const { return starts_; }

    // An application's handle on a virtual port of the running driver.
    std::unique_ptr<driver::usermode::ApplicationPort> Application(uint32_t com) {
        uint32_t error = 0;
        auto port = driver_ != nullptr ? driver_->OpenPort(com, error) : nullptr;
        EXPECT_EQ(error, error::success);
        return port;
    }

    bool heldElsewhere = false; // another hub holds the one handle: opens are refused
    uint32_t version = 0;       // not 0: the version every exchange reports (an older driver)

    uint32_t Open(const char* name) override {
        if (driver_ == nullptr) {
            return error::fileNotFound;
        }
        if (heldElsewhere) {
            return error::genFailure; // the driver refuses a second handle
        }
        return driver_->Control().Open(name);
    }
    bool IsOpen() const override { return driver_ != nullptr && driver_->Control().IsOpen(); }
    uint32_t Exchange(DriverExchangeBlock& block) override {
        if (driver_ == nullptr) {
            return error::invalidHandle;
        }
        const uint32_t result = driver_->Control().Exchange(block);
        if (version != 0) {
            block.version = version;
        }
        return result;
    }
    uint32_t Broadcast(const uint8_t* bytes, uint32_t length) override {
        return driver_ != nullptr ? driver_->Control().Broadcast(bytes, length)
                                  : error::invalidHandle;
    }
    void Close() override {
        if (driver_ != nullptr) {
            driver_->Control().Close();
        }
    }

private:
    uint32_t Start(const platform::testing::FakeService& service) {
        ++starts_;
        if (service.binaryPathName != driverImagePath || !files_.HasFile(driverFile)) {
            return error::fileNotFound;
        }
        std::array<uint32_t, virtualPortCount> comNumbers{};
        platform::ScopedRegistryKey key(registry_);
        if (registry_.OpenKey(platform::RegistryKey::localMachine, parametersKey.c_str(),
                              key.Receive()) == error::success) {
            for (uint32_t i = 0; i < virtualPortCount; ++i) {
                const std::string name = "Port" + std::to_string(i);
                uint32_t size = sizeof comNumbers[i];
                registry_.QueryValue(key.Get(), name.c_str(), nullptr, &comNumbers[i], &size);
            }
        }
        if (comNumbers[0] == 0) {
            return error::invalidParameter;
        }
        Load(comNumbers);
        return error::success;
    }

    platform::testing::MemoryFileSystem& files_;
    platform::Registry& registry_;
    std::unique_ptr<driver::usermode::InProcessDriver> driver_;
    std::array<uint32_t, virtualPortCount> comNumbers_{};
    uint32_t starts_ = 0;
};

// The COM number bitmap as the installer marks it.
class RecordingComBitmap final : public ComBitmapMarks {
public:
    void SetComBit(uint32_t comNumber, bool taken) override {
        marks.push_back((taken ? "+" : "-") + std::to_string(comNumber));
    }
    void Changed() override { ++changes; }

    std::vector<std::string> marks;
    uint32_t changes = 0;
};

class InstallerFixture : public ::testing::Test {
protected:
    // The package this fixture's program file holds by default: a hub image longer than the
    // first piece, and the driver behind it.
    static constexpr size_t hubSize = 80000;
    static constexpr size_t driverSize = 30000;

    InstallerFixture()
        : registry_(memoryRegistry_), driver_(services_, files_, registry_),
          installer_(InstallerServices{files_, services_, registry_, notifier_}, exchange_, driver_,
                     settings_) {
        files_.SetModulePath(programPath);
        files_.AddDirectory(driversDirectory);
        SetProgram(HubImage(hubSize) + DriverImage(driverSize));
        exchange_.comNumber[0] = 5;
        exchange_.comNumber[1] = 7;
    }

    void SetProgram(const std::string& contents) {
        program_ = contents;
        files_.AddFile(programPath, contents);
    }

    // What a successful extraction must write: the second piece from the signature on.
    std::string ExpectedDriver() const {
        const std::string window = program_.substr(0, packageWindow);
        const size_t start = window.find(std::string("\x4D\x5A\x90\x00", 4), packageFirstPiece);
        return start == std::string::npos ? std::string() : window.substr(start);
    }

    // A service left installed by an earlier run, stopped, with its file and parameters.
    void InstallStoppedService(uint32_t port0 = 5, uint32_t port1 = 7) {
        platform::testing::FakeService service;
        service.name = driverServiceName;
        service.displayName = driverServiceName;
        service.serviceType = platform::serviceKernelDriver;
        service.startType = platform::serviceSystemStart;
        service.errorControl = platform::serviceErrorNormal;
        service.binaryPathName = driverImagePath;
        services_.AddService(service);
        files_.AddFile(driverFile, DriverImage(driverSize));
        WriteParameter("Port0", port0);
        WriteParameter("Port1", port1);
    }

    void WriteParameter(const char* name, uint32_t value) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        ASSERT_EQ(memoryRegistry_.CreateKey(platform::RegistryKey::localMachine,
                                            parametersKey.c_str(), key.Receive()),
                  error::success);
        ASSERT_EQ(
            memoryRegistry_.SetValue(key.Get(), name, platform::regDword, &value, sizeof value),
            error::success);
    }

    // The stored DWORD parameter, or -1 when it is missing.
    int64_t Parameter(const char* name) {
        platform::ScopedRegistryKey key(memoryRegistry_);
        if (memoryRegistry_.OpenKey(platform::RegistryKey::localMachine, parametersKey.c_str(),
                                    key.Receive()) != error::success) {
            return -1;
        }
        uint32_t value = 0;
        uint32_t size = sizeof value;
        uint32_t type = 0;
        if (memoryRegistry_.QueryValue(key.Get(), name, &type, &value, &size) != error::success ||
            type != platform::regDword || size != sizeof value) {
            return -1;
        }
        return value;
    }

    // Without administrator rights: no manager, no machine registry, no system directory.
    void WithoutAdminRights() {
        services_.DenyManager(error::accessDenied);
        registry_.LockMachine(true);
        files_.ProtectDirectory(driversDirectory);
    }

    const std::vector<std::string>& Messages() const { return notifier_.Messages(); }
    bool ServiceInstalled() const { return services_.Find(driverServiceName) != nullptr; }

    platform::testing::MemoryFileSystem files_;
    platform::testing::FakeServiceControl services_;
    platform::MemoryRegistry memoryRegistry_;
    GuardedRegistry registry_;
    platform::testing::RecordingNotifier notifier_;
    ServiceDriver driver_;
    DriverExchangeBlock exchange_{};
    Settings settings_ = DefaultSettings(windowsLogPathDefault);
    DriverInstaller installer_;
    RecordingComBitmap bitmap_;
    std::string program_;
};

} // namespace tavro::testing
