// The control device: one handle at a time, the exchange and the broadcast.
#include "sys/core/ControlDevice.h"

#include "sys/core/CompletionList.h"
#include "sys/core/DispatchByFunction.h"
#include "sys/core/PortDevice.h"
#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

namespace {

constexpr uint32_t readOnlyOffset = 1092; // bit 0 of this input byte is "Read Only (2-8)"

} // namespace

void ControlDevice::Init(VirtualPort* ports) {
    openCount_ = 0;
    ports_ = ports;
    readOnly_ = 0;
    InitializeSpinLock(lock_);
}

void ControlDevice::Release() {
    if (ports_ != nullptr) {
        DestroySpinLock(lock_);
        ports_ = nullptr;
    }
}

NtStatus ControlDevice::Dispatch(Request& request) {
    return DispatchByFunction(*this, request);
}

// The ports learn whether a hub is there to collect what applications write. Called outside
// the control device's lock (each port takes its own).
void ControlDevice::TellPorts(bool hubAttached) {
    for (uint32_t index = 0; ports_ != nullptr && index < virtualPortCount; ++index) {
        if (ports_[index].deviceCreated != 0 && ports_[index].portDevice != nullptr) {
            ports_[index].portDevice->SetHubAttached(hubAttached);
        }
    }
}

NtStatus ControlDevice::Create(Request& request) {
    AcquireSpinLock(lock_);
    bool first = openCount_ == 0;
    if (first) {
        openCount_ = 1;
    }
    ReleaseSpinLock(lock_);
    if (first) {
        TellPorts(true);
    }
    return CompleteNow(request, first ? status::success : status::unsuccessful);
}

NtStatus ControlDevice::Close(Request& request) {
    AcquireSpinLock(lock_);
    bool last = openCount_ == 1;
    if (openCount_ != 0) {
        --openCount_;
    }
    ReleaseSpinLock(lock_);
    if (last) {
        TellPorts(false);
    }
    return CompleteNow(request, status::success);
}

uint64_t ControlDevice::RunTimeouts(uint64_t now) {
    uint64_t next = 0;
    for (uint32_t index = 0; ports_ != nullptr && index < virtualPortCount; ++index) {
        VirtualPort& port = ports_[index];
        if (port.deviceCreated == 0 || port.portDevice == nullptr) {
            continue;
        }
        uint64_t due = port.portDevice->RunTimeouts(now);
        if (due != 0 && (next == 0 || due < next)) {
            next = due;
        }
    }
    return next;
}

NtStatus ControlDevice::CompleteNothing(Request& request) {
    return CompleteNow(request, status::success);
}

NtStatus ControlDevice::Cleanup(Request& request) {
    return CompleteNothing(request);
}
NtStatus ControlDevice::Read(Request& request) {
    return CompleteNothing(request);
}
NtStatus ControlDevice::Write(Request& request) {
    return CompleteNothing(request);
}
NtStatus ControlDevice::QueryInformation(Request& request) {
    return CompleteNothing(request);
}
NtStatus ControlDevice::SetInformation(Request& request) {
    return CompleteNothing(request);
}
NtStatus ControlDevice::FlushBuffers(Request& request) {
    return CompleteNothing(request);
}

NtStatus ControlDevice::DeviceControl(Request& request) {
    switch (RequestControlCode(request)) {
    case IOCTL_TAVRO_EXCHANGE:
        return Exchange(request);
    case IOCTL_TAVRO_BROADCAST:
        return Broadcast(request);
    case IOCTL_TAVRO_TRAFFIC:
        return Traffic(request);
    default:
        return CompleteNow(request, status::invalidParameter);
    }
}

NtStatus ControlDevice::Exchange(Request& request) {
    auto* buffer = static_cast<uint8_t*>(RequestSystemBuffer(request));
    if (buffer == nullptr || RequestOutputLength(request) < exchangeBlockSize) {
        return CompleteNow(request, status::invalidBufferSize);
    }
    // Built aside and copied out at the end: input and output share the buffer, and the input's
    // read-only byte must be read before the block is cleared.
    DriverExchangeBlock block = {};
    AcquireSpinLock(lock_);
    if (RequestInputLength(request) == exchangeBlockSize) {
        readOnly_ = buffer[readOnlyOffset] & 1;
    }
    bool readOnly = readOnly_ != 0;
    ReleaseSpinLock(lock_);

    block.version = driverInterfaceVersion;
    for (uint32_t index = 0; ports_ != nullptr && index < virtualPortCount; ++index) {
        VirtualPort& port = ports_[index];
        if (port.deviceCreated != 0 && port.portDevice != nullptr) {
            port.portDevice->Exchange(block, index, readOnly && index != 0);
            continue;
        }
        // No device: nothing else ever writes this record.
        block.comNumber[index] = port.comNumber;
        block.pending[index].pendingWaits = static_cast<uint32_t>(port.pendingWaits);
        block.pending[index].pendingReads = static_cast<uint32_t>(port.pendingReads);
        block.rxAvailable[index] = port.rxAvailable;
    }
    __builtin_memcpy(buffer, &block, sizeof block);
    return CompleteNow(request, status::success, exchangeBlockSize);
}

NtStatus ControlDevice::Traffic(Request& request) {
    auto* buffer = static_cast<uint8_t*>(RequestSystemBuffer(request));
    if (buffer == nullptr || RequestOutputLength(request) < sizeof(PortTrafficBlock)) {
        return CompleteNow(request, status::invalidBufferSize);
    }
    PortTrafficBlock block = {};
    for (uint32_t index = 0; ports_ != nullptr && index < virtualPortCount; ++index) {
        VirtualPort& port = ports_[index];
        if (port.deviceCreated != 0 && port.portDevice != nullptr) {
            block.ports[index] = port.portDevice->Traffic();
        }
    }
    __builtin_memcpy(buffer, &block, sizeof block);
    return CompleteNow(request, status::success, sizeof block);
}

NtStatus ControlDevice::Broadcast(Request& request) {
    const auto* bytes = static_cast<const uint8_t*>(RequestSystemBuffer(request));
    uint32_t count = bytes == nullptr ? 0 : RequestInputLength(request);
    // One time for the whole chunk on every port: its bytes arrive together.
    const uint64_t now = count == 0 ? 0 : QueryMilliseconds();
    for (uint32_t index = 0; ports_ != nullptr && count != 0 && index < virtualPortCount; ++index) {
        VirtualPort& port = ports_[index];
        if (port.deviceCreated != 0 && port.portDevice != nullptr) {
            port.portDevice->Receive(bytes, count, now);
        }
    }
    return CompleteNow(request, status::success);
}

} // namespace tavro::driver
