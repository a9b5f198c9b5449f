// The driver's control device through kernel32: "\\.\Tavro" opened with CreateFileA, the
// exchange, the broadcast and the traffic counts with DeviceIoControl.
#include "platform/ControlDevice.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32ControlDevice final : public ControlDevice {
public:
    ~Win32ControlDevice() override { Close(); }

    uint32_t Open(const char* name) override {
        if (handle_ != nullptr) {
            // The driver admits one handle at a time and refuses the second create.
            return error::genFailure;
        }
        char path[MAX_PATH];
        TextBuilder text(path, sizeof path);
        text.Append("\\\\.\\").Append(name);
        if (text.Length() <= 4 || !text.Fits()) {
            return error::invalidParameter;
        }
        HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        handle_ = handle;
        return error::success;
    }

    bool IsOpen() const override { return handle_ != nullptr; }

    uint32_t Exchange(DriverExchangeBlock& block) override {
        if (handle_ == nullptr) {
            return error::invalidHandle;
        }
        DWORD returned = 0;
        if (!DeviceIoControl(handle_, IOCTL_TAVRO_EXCHANGE, &block, exchangeBlockSize, &block,
                             exchangeBlockSize, &returned, nullptr)) {
            return GetLastError();
        }
        return error::success;
    }

    uint32_t Broadcast(const uint8_t* bytes, uint32_t length) override {
        if (handle_ == nullptr) {
            return error::invalidHandle;
        }
        DWORD returned = 0;
        if (!DeviceIoControl(handle_, IOCTL_TAVRO_BROADCAST, const_cast<uint8_t*>(bytes), length,
                             nullptr, 0, &returned, nullptr)) {
            return GetLastError();
        }
        return error::success;
    }

    uint32_t Traffic(PortTrafficBlock& traffic) override {
        if (handle_ == nullptr) {
            return error::invalidHandle;
        }
        DWORD returned = 0;
        if (!DeviceIoControl(handle_, IOCTL_TAVRO_TRAFFIC, nullptr, 0, &traffic, sizeof traffic,
                             &returned, nullptr)) {
            return GetLastError();
        }
        return returned == sizeof traffic ? error::success : error::invalidData;
    }

    void Close() override {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    // Null while closed, as every closed handle of the hub is.
    HANDLE handle_ = nullptr;
};

} // namespace

ControlDevice& SystemControlDevice() {
    static Win32ControlDevice device;
    return device;
}

} // namespace tavro::platform
