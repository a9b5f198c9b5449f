#include "tests/windows/support/HubLink.h"

namespace tavro::wintest {
namespace {

constexpr DWORD hubTickMs = 50;

} // namespace

HubLink::~HubLink() {
    Close();
}

DWORD HubLink::Open() {
    Close();
    handle = CreateFileA("\\\\.\\Tavro", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    return handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

void HubLink::Close() {
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
}

bool HubLink::Exchange() {
    block.readOnly = readOnly ? 1 : 0;
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_TAVRO_EXCHANGE, &block, sizeof(block), &block, sizeof(block),
                         &returned, nullptr)) {
        lastError = GetLastError();
        return false;
    }
    if (returned != sizeof(block) || block.clientDataLength > exchangeDataCapacity) {
        lastError = ERROR_INVALID_DATA;
        return false;
    }
    collected.append(reinterpret_cast<const char*>(block.clientData), block.clientDataLength);
    return true;
}

bool HubLink::Broadcast(const void* bytes, DWORD count) {
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_TAVRO_BROADCAST, const_cast<void*>(bytes), count, nullptr, 0,
                         &returned, nullptr)) {
        lastError = GetLastError();
        return false;
    }
    return true;
}

bool HubLink::WaitUntil(const std::function<bool(const DriverExchangeBlock&)>& condition,
                        DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (!Exchange()) {
            return false;
        }
        if (condition(block)) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(hubTickMs);
    }
}

bool HubLink::WaitForProcess(HANDLE process, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (!Exchange()) {
            return false;
        }
        if (WaitForSingleObject(process, hubTickMs) == WAIT_OBJECT_0) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
    }
}

} // namespace tavro::wintest
