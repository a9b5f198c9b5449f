// The hub's side of the driver, as the test programs play it: the control device "\\.\Tavro"
// with its exchange and broadcast, driven on a 50 ms cadence like the hub's timer.
#pragma once

#include "common/DriverExchangeBlock.h"

#include <windows.h>

#include <functional>
#include <string>

namespace tavro::wintest {

class HubLink {
public:
    HubLink() = default;
    ~HubLink();
    HubLink(const HubLink&) = delete;
    HubLink& operator=(const HubLink&) = delete;

    // 0 or the Win32 error of CreateFileA("\\.\Tavro").
    DWORD Open();
    void Close();
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle; }

    // One exchange with the read-only setting below; the collected bytes are appended to
    // Collected(). False (with the Win32 error in LastError()) when the call fails.
    bool Exchange();
    bool Broadcast(const void* bytes, DWORD count);
    bool Broadcast(const std::string& bytes) {
        return Broadcast(bytes.data(), static_cast<DWORD>(bytes.size()));
    }

    // Exchanges every 50 ms until the block satisfies the condition (true) or the time is up
    // (false).
    bool WaitUntil(const std::function<bool(const DriverExchangeBlock&)>& condition,
                   DWORD timeoutMs);
    // Same, for a process to end; the exchanges keep queued reads' time-outs running.
    bool WaitForProcess(HANDLE process, DWORD timeoutMs);

    const DriverExchangeBlock& Block() const { return block; }
    std::string& Collected() { return collected; }
    DWORD LastError() const { return lastError; }
    void SetReadOnly(bool value) { readOnly = value; }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
    DriverExchangeBlock block{};
    std::string collected;
    DWORD lastError = 0;
    bool readOnly = false;
};

} // namespace tavro::wintest
