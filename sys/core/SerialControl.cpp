// The serial control codes of a port: settings stored per handle and echoed back, the queue
// size, purge, status and properties. Settings are read and written under the port lock
// because the hub's checks read them from another thread.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"
#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

namespace {

struct Lengths {
    uint32_t input;
    uint32_t output;
};

// Buffered I/O gives input and output one buffer; without one, both lengths count as 0.
Lengths BufferLengths(const Request& request) {
    if (RequestSystemBuffer(request) == nullptr) {
        return {0, 0};
    }
    return {RequestInputLength(request), RequestOutputLength(request)};
}

NtStatus Reply(Request& request, const void* value, uint32_t size) {
    __builtin_memcpy(RequestSystemBuffer(request), value, size);
    return CompleteNow(request, status::success, size);
}

SERIAL_COMMPROP Properties(uint32_t rxQueue, uint32_t txQueue) {
    SERIAL_COMMPROP properties = {};
    properties.PacketLength = sizeof(SERIAL_COMMPROP);
    properties.PacketVersion = 1;
    properties.MaxTxQueue = 256;
    properties.MaxRxQueue = 0x4000;
    // A flag, not a number: any rate is accepted. Libraries compare the rate they are asked
    // for with this field, so a number would refuse rates such as 187500 or 230400.
    properties.MaxBaud = SERIAL_BAUD_USER;
    properties.ProvSubType = 1;             // RS-232
    properties.ProvCapabilities = 0x1FB;    // no carrier detect, no 16-bit mode
    properties.SettableParams = 0x3F;       // parity, baud, data bits, stop bits, handshake, check
    properties.SettableBaud = 0x7FA00;      // 4800 to 128K
    properties.SettableData = 0x000C;       // 7 and 8 data bits
    properties.SettableStopParity = 0x1F07; // 1, 1.5, 2 stop bits; no/odd/even/mark/space
    properties.CurrentTxQueue = txQueue;    // the sizes of the rings, not their contents
    properties.CurrentRxQueue = rxQueue;
    return properties;
}

} // namespace

// Copies a setting between the request's buffer and the handle, under the port lock.
NtStatus PortDevice::CopySetting(Request& request, void* field, uint32_t size, bool toHandle) {
    void* buffer = RequestSystemBuffer(request);
    AcquireSpinLock(port_->lock);
    if (toHandle) {
        __builtin_memcpy(field, buffer, size);
    } else {
        __builtin_memcpy(buffer, field, size);
    }
    ReleaseSpinLock(port_->lock);
    return CompleteNow(request, status::success, toHandle ? 0 : size);
}

NtStatus PortDevice::DeviceControl(Request& request) {
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::invalidDeviceRequest);
    }
    uint32_t code = RequestControlCode(request);
    Lengths length = BufferLengths(request);

    // Minimum input and output lengths of the codes that move data.
    uint32_t needIn = 0;
    uint32_t needOut = 0;
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE:
    case IOCTL_SERIAL_SET_WAIT_MASK:
    case IOCTL_SERIAL_PURGE:
        needIn = 4;
        break;
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        needIn = sizeof(SERIAL_QUEUE_SIZE);
        break;
    case IOCTL_SERIAL_SET_LINE_CONTROL:
        needIn = sizeof(SERIAL_LINE_CONTROL);
        break;
    case IOCTL_SERIAL_SET_TIMEOUTS:
        needIn = sizeof(SERIAL_TIMEOUTS);
        break;
    case IOCTL_SERIAL_SET_CHARS:
        needIn = sizeof(SERIAL_CHARS);
        break;
    case IOCTL_SERIAL_SET_HANDFLOW:
        needIn = sizeof(SERIAL_HANDFLOW);
        break;
    case IOCTL_SERIAL_GET_WAIT_MASK:
    case IOCTL_SERIAL_WAIT_ON_MASK:
    case IOCTL_SERIAL_GET_BAUD_RATE:
    case IOCTL_SERIAL_GET_MODEMSTATUS:
    case IOCTL_SERIAL_CONFIG_SIZE:
        needOut = 4;
        break;
    case IOCTL_SERIAL_GET_TIMEOUTS:
        needOut = sizeof(SERIAL_TIMEOUTS);
        break;
    case IOCTL_SERIAL_GET_LINE_CONTROL:
        needOut = sizeof(SERIAL_LINE_CONTROL);
        break;
    case IOCTL_SERIAL_GET_CHARS:
        needOut = sizeof(SERIAL_CHARS);
        break;
    case IOCTL_SERIAL_GET_HANDFLOW:
        needOut = sizeof(SERIAL_HANDFLOW);
        break;
    case IOCTL_SERIAL_GET_COMMSTATUS:
        needOut = sizeof(SERIAL_STATUS);
        break;
    case IOCTL_SERIAL_GET_PROPERTIES:
        needOut = sizeof(SERIAL_COMMPROP);
        break;
    default:
        break;
    }
    if (length.input < needIn || length.output < needOut) {
        if (code == IOCTL_SERIAL_SET_CHARS) {
            DebugPrint(" Tavro DC setchars error\n");
        } else if (code == IOCTL_SERIAL_SET_WAIT_MASK) {
            DebugPrint(" Tavro DC SetWiatMask Error too small\n");
        }
        return CompleteNow(request, status::bufferTooSmall);
    }

    const auto* input = static_cast<const uint8_t*>(RequestSystemBuffer(request));
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: {
        uint32_t baud = 0;
        __builtin_memcpy(&baud, input, sizeof baud);
        DebugPrint(" Tavro DC setbaud %d\n", baud);
        return CopySetting(request, &handle->baudRate, sizeof baud, true);
    }
    case IOCTL_SERIAL_GET_BAUD_RATE:
        DebugPrint(" Tavro DC getbaud\n");
        return CopySetting(request, &handle->baudRate, 4, false);
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        return SetQueueSize(request);
    case IOCTL_SERIAL_SET_LINE_CONTROL:
        DebugPrint(" Tavro DC setLineControl %d\n", input[2]); // WordLength
        return CopySetting(request, &handle->lineControl, sizeof(SERIAL_LINE_CONTROL), true);
    case IOCTL_SERIAL_GET_LINE_CONTROL:
        DebugPrint(" Tavro getLineControl\n");
        return CopySetting(request, &handle->lineControl, sizeof(SERIAL_LINE_CONTROL), false);
    case IOCTL_SERIAL_SET_TIMEOUTS: {
        SERIAL_TIMEOUTS timeouts;
        __builtin_memcpy(&timeouts, input, sizeof timeouts);
        DebugPrint(" Tavro DC set Timeout %d %d %d\n", timeouts.ReadIntervalTimeout,
                   timeouts.ReadTotalTimeoutMultiplier, timeouts.ReadTotalTimeoutConstant);
        return CopySetting(request, &handle->timeouts, sizeof timeouts, true);
    }
    case IOCTL_SERIAL_GET_TIMEOUTS:
        DebugPrint(" Tavro DC getto\n");
        return CopySetting(request, &handle->timeouts, sizeof(SERIAL_TIMEOUTS), false);
    case IOCTL_SERIAL_SET_CHARS: {
        SERIAL_CHARS chars;
        __builtin_memcpy(&chars, input, sizeof chars);
        DebugPrint(" Tavro DC setchars %X %X %X %X\n", chars.EventChar, chars.EofChar,
                   chars.ErrorChar, chars.XonChar);
        return CopySetting(request, &handle->chars, sizeof chars, true);
    }
    case IOCTL_SERIAL_GET_CHARS:
        DebugPrint(" Tavro DC getchars\n");
        return CopySetting(request, &handle->chars, sizeof(SERIAL_CHARS), false);
    case IOCTL_SERIAL_SET_HANDFLOW: {
        SERIAL_HANDFLOW handFlow;
        __builtin_memcpy(&handFlow, input, sizeof handFlow);
        DebugPrint(" Tavro DC SetHandFlow %x %x\n", handFlow.ControlHandShake,
                   static_cast<uint32_t>(handFlow.XonLimit));
        return CopySetting(request, &handle->handFlow, sizeof handFlow, true);
    }
    case IOCTL_SERIAL_GET_HANDFLOW:
        DebugPrint(" Tavro DC GetHandFlow\n");
        return CopySetting(request, &handle->handFlow, sizeof(SERIAL_HANDFLOW), false);
    case IOCTL_SERIAL_GET_WAIT_MASK:
        DebugPrint(" Tavro DC GetWaitMask\n");
        return CopySetting(request, &handle->waitMask, 4, false);
    case IOCTL_SERIAL_SET_WAIT_MASK:
        return SetWaitMask(request, *handle);
    case IOCTL_SERIAL_WAIT_ON_MASK:
        return WaitOnMask(request, *handle);
    case IOCTL_SERIAL_PURGE:
        return Purge(request, *handle);
    case IOCTL_SERIAL_GET_MODEMSTATUS: {
        DebugPrint(" Tavro DC GetModemStatus\n");
        uint32_t modemStatus = modemStatusCtsDsrOn;
        return Reply(request, &modemStatus, sizeof modemStatus);
    }
    case IOCTL_SERIAL_GET_COMMSTATUS:
        return GetCommStatus(request, *handle);
    case IOCTL_SERIAL_GET_PROPERTIES:
        return GetProperties(request, *handle);
    case IOCTL_SERIAL_CONFIG_SIZE: {
        DebugPrint(" Tavro DC ConfigSize\n");
        uint32_t configSize = 0;
        return Reply(request, &configSize, sizeof configSize);
    }
    case IOCTL_SERIAL_SET_BREAK_ON:
    case IOCTL_SERIAL_SET_BREAK_OFF:
    case IOCTL_SERIAL_SET_DTR:
    case IOCTL_SERIAL_CLR_DTR:
    case IOCTL_SERIAL_RESET_DEVICE:
    case IOCTL_SERIAL_SET_RTS:
    case IOCTL_SERIAL_CLR_RTS:
    case IOCTL_SERIAL_SET_XOFF:
    case IOCTL_SERIAL_SET_XON:
        DebugPrint(" Tavro DC other\n");
        return CompleteNow(request, status::success);
    default:
        return CompleteNow(request, status::notSupported);
    }
}

// Grows the receive ring (it never shrinks). The new ring is allocated before the lock is
// taken and the old one released after it is dropped; in between, under the port lock, the
// broadcast cannot be writing (it holds the same lock). Every open handle, not only the
// caller, moves to the start of the new ring: their old positions mean nothing in it, so their
// unread bytes are dropped and they read on from the next broadcast byte.
//
// When the new ring cannot be allocated the old one stays in use and the request fails with
// status::memoryNotAllocated, so the port keeps working.
NtStatus PortDevice::SetQueueSize(Request& request) {
    SERIAL_QUEUE_SIZE sizes;
    __builtin_memcpy(&sizes, RequestSystemBuffer(request), sizeof sizes);
    DebugPrint(" Tavro SetQueueSize %d\n", sizes.InSize);
    uint32_t size = sizes.InSize + defaultRingSize; // 32-bit sum, as the system computes it
    if (size > maxRxRingSize) {
        size = maxRxRingSize;
    }

    AcquireSpinLock(port_->lock);
    uint32_t current = port_->rxSize;
    ReleaseSpinLock(port_->lock);
    if (size <= current) {
        return CompleteNow(request, status::success);
    }
    auto* ring = static_cast<uint8_t*>(AllocateNonPaged(size));
    if (ring == nullptr) {
        return CompleteNow(request, status::memoryNotAllocated);
    }

    uint8_t* old = nullptr;
    AcquireSpinLock(port_->lock);
    if (size > port_->rxSize) { // another handle may have grown it meanwhile
        old = port_->rxBuffer;
        port_->rxBuffer = ring;
        port_->rxSize = size;
        port_->rxHead = 0;
        for (PortHandleState* open = handles_; open != nullptr; open = open->nextHandle) {
            open->readIndex = 0;
        }
        ring = nullptr;
    }
    ReleaseSpinLock(port_->lock);
    FreePool(old);
    FreePool(ring);
    return CompleteNow(request, status::success);
}

// Purges act on the calling handle only: other programs on the port keep their requests and
// their bytes. RXABORT ends the handle's queued reads and its queued wait (a reader thread that
// waits for events stops too), TXABORT its queued writes and flushes, all as cancelled; TXCLEAR
// drops the handle's bytes the hub has not collected; RXCLEAR drops its unread input.
NtStatus PortDevice::Purge(Request& request, PortHandleState& handle) {
    uint32_t mask = 0;
    __builtin_memcpy(&mask, RequestSystemBuffer(request), sizeof mask);
    DebugPrint(" Tavro DC purge %x\n", mask);
    CompletionList done;
    AcquireSpinLock(port_->lock);
    uint32_t kinds = (mask & SERIAL_PURGE_TXABORT) != 0 ? queuedWrites | queuedFlushes : 0;
    kinds |= (mask & SERIAL_PURGE_RXABORT) != 0 ? queuedReads | queuedWaits : 0;
    CancelOfHandle(handle, kinds, done);
    if ((mask & SERIAL_PURGE_TXCLEAR) != 0) {
        DropTransmit(handle);
    }
    if ((mask & SERIAL_PURGE_RXCLEAR) != 0) {
        handle.readIndex = port_->rxHead;
    }
    AfterRemoval(done);
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
    return CompleteNow(request, status::success);
}

// Reading the status clears the errors it reports, as ClearCommError promises.
NtStatus PortDevice::GetCommStatus(Request& request, PortHandleState& handle) {
    SERIAL_STATUS serialStatus = {};
    AcquireSpinLock(port_->lock);
    serialStatus.Errors = handle.errors;
    handle.errors = 0;
    serialStatus.AmountInInQueue = AvailableBytes(handle);
    serialStatus.AmountInOutQueue = TransmitWaiting(handle);
    serialStatus.EofReceived = handle.eofReceived;
    ReleaseSpinLock(port_->lock);
    DebugPrint(" Tavro DC GetCommStatus RxQ = %d\n", serialStatus.AmountInInQueue);
    return Reply(request, &serialStatus, sizeof serialStatus);
}

NtStatus PortDevice::GetProperties(Request& request, PortHandleState&) {
    DebugPrint(" Tavro DC GetProerties\n");
    AcquireSpinLock(port_->lock);
    SERIAL_COMMPROP properties = Properties(port_->rxSize, port_->txSize);
    ReleaseSpinLock(port_->lock);
    return Reply(request, &properties, sizeof properties);
}

} // namespace tavro::driver
