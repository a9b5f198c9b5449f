// The driver assembled in user mode as the kernel glue assembles it at start-up: the table of
// eight ports, the control device and one port device per configured COM number. Tests,
// fuzz targets, benchmarks and the hub's test doubles drive it through Dispatch.
#pragma once

#include <stdint.h>

#include <array>
#include <memory>

#include "sys/core/ControlDevice.h"
#include "sys/core/PortDevice.h"
#include "sys/usermode/UserRequest.h"

namespace tavro::driver::usermode {

class UserDriver {
public:
    // comNumbers[i] = 0 leaves port i unconfigured (no device), as at start-up.
    explicit UserDriver(const std::array<uint32_t, virtualPortCount>& comNumbers);
    ~UserDriver();
    UserDriver(const UserDriver&) = delete;
    UserDriver& operator=(const UserDriver&) = delete;

    ControlDevice& Control() { return control_; }
    PortDevice& Port(uint32_t index) { return ports_[index]; }
    VirtualPort& Record(uint32_t index) { return table_[index]; }
    bool HasPort(uint32_t index) const { return table_[index].deviceCreated != 0; }

    // Dispatches as the I/O manager does and checks the answer: a status other than pending
    // must come with exactly one completion carrying that status; pending must come with the
    // request marked pending. A broken rule is reported as a fault.
    NtStatus Dispatch(PortDevice& device, Request& request);
    NtStatus Dispatch(ControlDevice& device, Request& request);

    // Shortcuts for the usual requests. Open/Close return the create/close status;
    // CloseHandle sends cleanup then close (the caller must let every request on the handle
    // complete first, as the I/O manager does before it sends close).
    NtStatus Open(uint32_t port, FileObject& file);
    NtStatus Cleanup(uint32_t port, FileObject& file);
    NtStatus Close(uint32_t port, FileObject& file);
    // Control device: broadcast bytes; exchange into `block` (with `input` as the hub's block
    // when not null).
    NtStatus Broadcast(const void* bytes, uint32_t count);
    NtStatus Exchange(DriverExchangeBlock& block, const DriverExchangeBlock* input);
    NtStatus Traffic(PortTrafficBlock& traffic);

private:
    // Zero-filled like the pool memory the glue hands out.
    std::unique_ptr<VirtualPort[]> table_;
    ControlDevice control_;
    std::array<PortDevice, virtualPortCount> ports_;
    FileObject hubFile_;
};

} // namespace tavro::driver::usermode
