// The port device's life, its handles and its plain file requests.
#include "sys/core/PortDevice.h"

#include "sys/core/CompletionList.h"
#include "sys/core/DispatchByFunction.h"
#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

NtStatus PortDevice::Init(VirtualPort& port) {
    if (port_ != nullptr) {
        return status::unsuccessful;
    }
    auto* rx = static_cast<uint8_t*>(AllocateNonPaged(defaultRingSize));
    auto* tx = static_cast<uint8_t*>(AllocateNonPaged(defaultRingSize));
    if (rx == nullptr || tx == nullptr) {
        FreePool(rx);
        FreePool(tx);
        return status::unsuccessful;
    }
    InitializeSpinLock(port.lock);
    port.rxBuffer = rx;
    port.rxSize = defaultRingSize;
    port.txBuffer = tx;
    port.txSize = defaultRingSize;
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
        readSlots_[slot] = QueuedRead{};
        waitSlots_[slot] = QueuedWait{};
        writeSlots_[slot] = QueuedWrite{};
        flushSlots_[slot] = QueuedFlush{};
    }
    writeCount_ = 0;
    flushCount_ = 0;
    handles_ = nullptr;
    txStored_ = 0;
    txCollected_ = 0;
    txLastWriter_ = nullptr;
    txLastRunStart_ = 0;
    nextDeadline_ = 0;
    hubAttached_ = false;
    port_ = &port;
    port.portDevice = this;
    port.deviceCreated = 1;
    return status::success;
}

void PortDevice::Release() {
    if (port_ == nullptr) {
        return;
    }
    port_->deviceCreated = 0;
    port_->portDevice = nullptr;
    FreePool(port_->rxBuffer);
    FreePool(port_->txBuffer);
    port_->rxBuffer = nullptr;
    port_->txBuffer = nullptr;
    DestroySpinLock(port_->lock);
    port_ = nullptr;
}

NtStatus PortDevice::Dispatch(Request& request) {
    return DispatchByFunction(*this, request);
}

NtStatus PortDevice::Create(Request& request) {
    DebugPrint(" Tavro create %X\n", RequestCreateOptions(request) & 0xFFFFFF);
    auto* handle = static_cast<PortHandleState*>(AllocateNonPaged(sizeof(PortHandleState)));
    if (handle == nullptr) { // the open fails; the port's count is untouched
        return CompleteNow(request, status::insufficientResources);
    }
    *handle = PortHandleState{};
    handle->baudRate = 4800;
    handle->handFlow = SERIAL_HANDFLOW{0, SERIAL_XOFF_CONTINUE, 0, 0};
    handle->chars = SERIAL_CHARS{0, 0, 0xFF, 0, 0, 0};
    handle->lineControl = SERIAL_LINE_CONTROL{0, 0, 8};

    AcquireSpinLock(port_->lock);
    handle->readIndex = port_->rxHead; // a new handle sees only bytes that arrive after its open
    handle->nextHandle = handles_;
    if (handles_ != nullptr) {
        handles_->previousHandle = handle;
    }
    handles_ = handle;
    ++port_->openCount;
    ReleaseSpinLock(port_->lock);

    SetRequestHandleContext(request, handle);
    return CompleteNow(request, status::success);
}

// Cleanup arrives when the application closes its handle: every read, wait, write and flush the
// handle still has queued is cancelled. Bytes it wrote stay in the transmit ring for the hub to
// collect. The handle state itself lives on until Close, which the I/O manager sends only after
// every request on the handle has completed, so a request racing with the cleanup in another
// thread never touches released memory.
NtStatus PortDevice::Cleanup(Request& request) {
    DebugPrint(" Tavro cleanup\n");
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::success);
    }
    CompletionList done;
    AcquireSpinLock(port_->lock);
    handle->cleanedUp = 1;
    CancelOfHandle(*handle, queuedReads | queuedWaits | queuedWrites | queuedFlushes, done);
    AfterRemoval(done);
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
    return CompleteNow(request, status::success);
}

NtStatus PortDevice::Close(Request& request) {
    DebugPrint(" Tavro close\n");
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::success);
    }
    AcquireSpinLock(port_->lock);
    if (handle->previousHandle != nullptr) {
        handle->previousHandle->nextHandle = handle->nextHandle;
    } else {
        handles_ = handle->nextHandle;
    }
    if (handle->nextHandle != nullptr) {
        handle->nextHandle->previousHandle = handle->previousHandle;
    }
    if (txLastWriter_ == handle) {
        txLastWriter_ = nullptr; // its bytes stay and go out; nobody can drop them any more
    }
    --port_->openCount;
    ReleaseSpinLock(port_->lock);

    SetRequestHandleContext(request, nullptr);
    FreePool(handle);
    return CompleteNow(request, status::success);
}

NtStatus PortDevice::QueryInformation(Request& request) {
    uint32_t size = 0;
    switch (RequestInformationClass(request)) {
    case fileStandardInformation:
        size = fileStandardInformationSize; // sizes, link count, flags: all zero
        break;
    case filePositionInformation:
        size = filePositionInformationSize; // current byte offset 0
        break;
    default:
        return CompleteNow(request, status::invalidParameter);
    }
    void* buffer = RequestSystemBuffer(request);
    if (buffer == nullptr || RequestInformationLength(request) < size) {
        return CompleteNow(request, status::bufferTooSmall);
    }
    __builtin_memset(buffer, 0, size);
    return CompleteNow(request, status::success, size);
}

NtStatus PortDevice::SetInformation(Request& request) {
    uint32_t informationClass = RequestInformationClass(request);
    if (informationClass == fileAllocationInformation ||
        informationClass == fileEndOfFileInformation) {
        return CompleteNow(request, status::success); // accepted, nothing stored
    }
    return CompleteNow(request, status::invalidParameter);
}

} // namespace tavro::driver
