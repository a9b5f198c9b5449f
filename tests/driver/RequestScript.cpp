#include "tests/driver/RequestScript.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "sys/usermode/UserDriver.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver::testing {
namespace {

using usermode::UserDriver;

constexpr uint32_t configuredPorts[] = {0, 1, 5};
constexpr size_t maxHandles = 24;
constexpr size_t maxSteps = 400;

// Takes values from the script bytes; past the end everything reads as 0.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return next_ >= size_; }
    uint8_t Byte() { return next_ < size_ ? data_[next_++] : 0; }
    uint32_t Below(uint32_t limit) { return limit == 0 ? 0 : Byte() % limit; }
    uint32_t Word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | Byte();
        }
        return value;
    }
    // Values that matter to the time-out rules more often than chance would give them.
    uint32_t Interesting() {
        switch (Below(8)) {
        case 0:
            return 0;
        case 1:
            return 0xFFFFFFFF;
        case 2:
            return 0xFFFFFFFE;
        case 3:
            return Below(4);
        case 4:
            return Byte() * 10;
        default:
            return Word();
        }
    }
    std::vector<uint8_t> Bytes(size_t count) {
        std::vector<uint8_t> bytes(count);
        for (auto& byte : bytes) {
            byte = Byte();
        }
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t next_ = 0;
};

const uint32_t serialCodes[] = {
    IOCTL_SERIAL_SET_BAUD_RATE,    IOCTL_SERIAL_SET_QUEUE_SIZE, IOCTL_SERIAL_SET_LINE_CONTROL,
    IOCTL_SERIAL_SET_BREAK_ON,     IOCTL_SERIAL_SET_TIMEOUTS,   IOCTL_SERIAL_GET_TIMEOUTS,
    IOCTL_SERIAL_SET_DTR,          IOCTL_SERIAL_GET_WAIT_MASK,  IOCTL_SERIAL_SET_WAIT_MASK,
    IOCTL_SERIAL_WAIT_ON_MASK,     IOCTL_SERIAL_PURGE,          IOCTL_SERIAL_GET_BAUD_RATE,
    IOCTL_SERIAL_GET_LINE_CONTROL, IOCTL_SERIAL_GET_CHARS,      IOCTL_SERIAL_SET_CHARS,
    IOCTL_SERIAL_GET_HANDFLOW,     IOCTL_SERIAL_SET_HANDFLOW,   IOCTL_SERIAL_GET_MODEMSTATUS,
    IOCTL_SERIAL_GET_COMMSTATUS,   IOCTL_SERIAL_GET_PROPERTIES, IOCTL_SERIAL_CONFIG_SIZE,
    IOCTL_SERIAL_GET_STATS,        IOCTL_SERIAL_IMMEDIATE_CHAR, IOCTL_TAVRO_EXCHANGE,
};

class ScriptRunner {
public:
    ScriptRunner(const uint8_t* data, size_t size, bool bulkReceive)
        : reader_(data, size), driver_({5, 6, 0, 0, 0, 12, 0, 0}) {
        for (uint32_t port : configuredPorts) {
            driver_.Port(port).SetBulkReceive(bulkReceive);
        }
    }

    ScriptResult Run() {
        for (size_t step = 0; step < maxSteps && !reader_.Done(); ++step) {
            Step();
            Observe();
        }
        // Every handle is closed at the end: then every request must have ended.
        for (auto& handle : handles_) {
            if (handle->file.context != nullptr) {
                Dispatch(handle->port, MakeSimple(MajorFunction::Cleanup, handle->file));
                Dispatch(handle->port, MakeSimple(MajorFunction::Close, handle->file));
            }
        }
        Observe();
        for (uint32_t port : configuredPorts) {
            const VirtualPort& record = driver_.Record(port);
            if (record.pendingReads != 0 || record.pendingWaits != 0 || record.openCount != 0) {
                usermode::ReportFault("port counters did not return to zero");
            }
        }
        result_.requests = requests_.size();
        result_.completed = static_cast<size_t>(
            std::count_if(requests_.begin(), requests_.end(),
                          [](const auto& entry) { return entry.request->Completed(); }));
        return std::move(result_);
    }

private:
    struct Handle {
        uint32_t port;
        FileObject file;
    };
    struct Sent {
        std::unique_ptr<Request> request;
        Handle* handle;
        bool reported;
    };

    Handle* PickHandle() {
        std::vector<Handle*> open;
        for (auto& handle : handles_) {
            if (handle->file.context != nullptr) {
                open.push_back(handle.get());
            }
        }
        return open.empty() ? nullptr : open[reader_.Below(static_cast<uint32_t>(open.size()))];
    }

    void Dispatch(uint32_t port, std::unique_ptr<Request> request, Handle* handle = nullptr) {
        requests_.push_back(Sent{std::move(request), handle, false});
        driver_.Dispatch(driver_.Port(port), *requests_.back().request);
    }

    void DispatchControl(std::unique_ptr<Request> request) {
        requests_.push_back(Sent{std::move(request), nullptr, false});
        driver_.Dispatch(driver_.Control(), *requests_.back().request);
    }

    void Step() {
        Handle* handle = PickHandle();
        switch (reader_.Below(20)) {
        case 0:
        case 1:
            if (handles_.size() < maxHandles) {
                uint32_t port = configuredPorts[reader_.Below(3)];
                handles_.push_back(std::make_unique<Handle>(Handle{port, {}}));
                Dispatch(port, MakeCreate(handles_.back()->file, reader_.Word()));
            }
            break;
        case 2:
            if (handle != nullptr && reader_.Below(3) == 0) {
                CloseHandle(*handle);
            }
            break;
        case 3:
        case 4:
            if (handle != nullptr) {
                uint32_t length = reader_.Below(4) == 0 ? reader_.Word() % 9000 : reader_.Below(40);
                Dispatch(handle->port, MakeRead(handle->file, length), handle);
            }
            break;
        case 5:
            if (handle != nullptr) {
                auto bytes = reader_.Bytes(reader_.Below(4) == 0 ? reader_.Word() % 5000
                                                                 : reader_.Below(32));
                Dispatch(handle->port,
                         MakeWrite(handle->file, bytes.data(), static_cast<uint32_t>(bytes.size())),
                         handle);
            }
            break;
        case 6:
            if (handle != nullptr) {
                Configure(*handle);
            }
            break;
        case 7:
            if (handle != nullptr) {
                SendControl(*handle);
            }
            break;
        case 8:
        case 16:
            if (handle != nullptr) {
                uint32_t output = reader_.Below(8) == 0 ? reader_.Below(4) : 4;
                Dispatch(
                    handle->port,
                    MakeDeviceControl(handle->file, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, output),
                    handle);
            }
            break;
        case 9:
            CancelOne();
            break;
        case 10:
        case 11:
        case 17:
        case 18: {
            auto bytes =
                reader_.Bytes(reader_.Below(8) == 0 ? 600 + reader_.Below(200) : reader_.Below(64));
            if (reader_.Below(2) == 0) {
                // Mostly the bytes the wait rules single out: 0, line feed, '*', EOF.
                static constexpr uint8_t alphabet[] = {0, 0, '\n', '*', 'a', 0x1A};
                for (auto& byte : bytes) {
                    byte = alphabet[byte % std::size(alphabet)];
                }
            }
            DispatchControl(MakeDeviceControl(hub_, IOCTL_TAVRO_BROADCAST, bytes.data(),
                                              static_cast<uint32_t>(bytes.size()), 0));
            break;
        }
        case 12: {
            auto input = reader_.Bytes(reader_.Below(2) == 0 ? 0 : exchangeBlockSize);
            uint32_t output = reader_.Below(4) == 0 ? reader_.Below(1300) : exchangeBlockSize;
            DispatchControl(MakeDeviceControl(hub_, IOCTL_TAVRO_EXCHANGE, input.data(),
                                              static_cast<uint32_t>(input.size()), output));
            break;
        }
        case 13:
        case 19:
            usermode::AdvanceMilliseconds(reader_.Below(4) == 0 ? reader_.Word()
                                                                : reader_.Below(255));
            break;
        case 14:
            ControlMisc();
            break;
        case 15:
            if (handle != nullptr && reader_.Below(3) == 0) {
                Dispatch(handle->port, MakeSimple(MajorFunction::FlushBuffers, handle->file),
                         handle);
            } else if (handle != nullptr) {
                auto major = reader_.Below(2) == 0 ? MajorFunction::QueryInformation
                                                   : MajorFunction::SetInformation;
                Dispatch(handle->port,
                         MakeInformation(major, handle->file, reader_.Below(24), reader_.Below(30)),
                         handle);
            }
            break;
        }
    }

    void Set(Handle& handle, uint32_t code, const void* value, uint32_t size) {
        Dispatch(handle.port, MakeDeviceControl(handle.file, code, value, size, 0), &handle);
    }

    // The settings that decide when reads and waits end, in the combinations applications use.
    void Configure(Handle& handle) {
        static constexpr uint32_t masks[] = {SERIAL_EV_RXCHAR,
                                             SERIAL_EV_RXFLAG,
                                             SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG,
                                             0,
                                             SERIAL_EV_RXFLAG | SERIAL_EV_CTS,
                                             SERIAL_EV_ERR | SERIAL_EV_TXEMPTY,
                                             SERIAL_EV_ERR | SERIAL_EV_RXFLAG};
        uint32_t mask = masks[reader_.Below(std::size(masks))];
        Set(handle, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask);

        static constexpr uint8_t eventChars[] = {'\n', '*', 0, 'a'};
        static constexpr uint8_t eofChars[] = {0, 0x1A, '\n'};
        const SERIAL_CHARS chars = {eofChars[reader_.Below(std::size(eofChars))],     0,    0,
                                    eventChars[reader_.Below(std::size(eventChars))], 0x11, 0x13};
        Set(handle, IOCTL_SERIAL_SET_CHARS, &chars, sizeof chars);

        SERIAL_TIMEOUTS timeouts = {};
        switch (reader_.Below(7)) {
        case 0:
            break; // wait for the full length
        case 1:
            timeouts = {maxDword, 0, 0, 0, 0};
            break;
        case 2:
            timeouts = {maxDword, maxDword, 1 + reader_.Below(3000), 0, 0};
            break;
        case 3:
            timeouts = {0, reader_.Below(20), reader_.Below(2000), 0, 0};
            break;
        case 4:
            timeouts = {1 + reader_.Below(200), 0, 0, 0, 0};
            break;
        case 5:
            timeouts = {0, 0, maxDword - 1, 0, 0};
            break;
        default:
            timeouts = {reader_.Interesting(), reader_.Interesting(), reader_.Interesting(), 0, 0};
            break;
        }
        if (reader_.Below(3) == 0) {
            timeouts.WriteTotalTimeoutMultiplier = reader_.Below(3);
            timeouts.WriteTotalTimeoutConstant = reader_.Below(4) == 0 ? 0 : reader_.Below(300);
        }
        Set(handle, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts);
    }

    void SendControl(Handle& handle) {
        uint32_t code = reader_.Below(8) == 0 ? reader_.Word()
                                              : serialCodes[reader_.Below(std::size(serialCodes))];
        // Mostly well-formed records with values the rules care about, sometimes anything.
        std::vector<uint8_t> input;
        if (reader_.Below(3) != 0) {
            uint32_t words[5];
            for (auto& word : words) {
                word = reader_.Interesting();
            }
            if (code == IOCTL_SERIAL_SET_QUEUE_SIZE) {
                words[0] = reader_.Below(4) == 0 ? reader_.Word() : reader_.Below(9000);
            }
            if (code == IOCTL_SERIAL_SET_WAIT_MASK) {
                words[0] &= 0x1FF;
            }
            input.resize(sizeof words);
            memcpy(input.data(), words, sizeof words);
            if (code == IOCTL_SERIAL_SET_CHARS) {
                const uint8_t chars[6] = {
                    static_cast<uint8_t>(reader_.Below(3) == 0 ? 0 : '*'),
                    0,
                    0,
                    static_cast<uint8_t>(reader_.Below(2) == 0 ? '\n' : reader_.Byte()),
                    0x11,
                    0x13};
                memcpy(input.data(), chars, sizeof chars);
            }
            input.resize(reader_.Below(4) == 0 ? reader_.Below(24) : input.size());
        } else {
            input = reader_.Bytes(reader_.Below(80));
        }
        uint32_t output = reader_.Below(3) == 0 ? reader_.Below(80) : 64;
        Dispatch(handle.port,
                 MakeDeviceControl(handle.file, code, input.data(),
                                   static_cast<uint32_t>(input.size()), output),
                 &handle);
    }

    void ControlMisc() {
        switch (reader_.Below(4)) {
        case 0:
            DispatchControl(MakeCreate(hub_));
            break;
        case 1:
            DispatchControl(MakeSimple(MajorFunction::Close, hub_));
            break;
        case 2: {
            auto bytes = reader_.Bytes(reader_.Below(16));
            DispatchControl(MakeDeviceControl(hub_, reader_.Word(), bytes.data(),
                                              static_cast<uint32_t>(bytes.size()),
                                              reader_.Below(16)));
            break;
        }
        default:
            DispatchControl(MakeSimple(static_cast<MajorFunction>(reader_.Below(28)), hub_));
            break;
        }
    }

    void CancelOne() {
        std::vector<Request*> pending;
        for (auto& sent : requests_) {
            if (!sent.request->Completed()) {
                pending.push_back(sent.request.get());
            }
        }
        if (!pending.empty()) {
            usermode::CancelRequest(*pending[reader_.Below(static_cast<uint32_t>(pending.size()))]);
        }
    }

    // Cleanup cancels what the handle has queued; close follows once all of its requests ended,
    // as the I/O manager guarantees.
    void CloseHandle(Handle& handle) {
        Dispatch(handle.port, MakeSimple(MajorFunction::Cleanup, handle.file), &handle);
        for (auto& sent : requests_) {
            if (sent.handle == &handle && !sent.request->Completed()) {
                usermode::ReportFault("a request outlived its handle's cleanup");
            }
        }
        Dispatch(handle.port, MakeSimple(MajorFunction::Close, handle.file), &handle);
    }

    void Observe() {
        char line[96];
        for (size_t id = 0; id < requests_.size(); ++id) {
            Sent& sent = requests_[id];
            if (sent.reported || !sent.request->Completed()) {
                continue;
            }
            sent.reported = true;
            const Request& request = *sent.request;
            snprintf(line, sizeof line, "#%zu major %u status %08X bytes %u: ", id,
                     request.majorFunction, static_cast<uint32_t>(request.status),
                     request.information);
            result_.trace += line;
            size_t shown = std::min<size_t>(request.information, request.buffer.size());
            for (size_t i = 0; i < shown; ++i) {
                snprintf(line, sizeof line, "%02X", request.buffer[i]);
                result_.trace += line;
            }
            result_.trace += '\n';
        }
        for (const std::string& debug : usermode::TakeDebugLines()) {
            result_.trace += debug;
        }
    }

    Reader reader_;
    UserDriver driver_;
    FileObject hub_;
    std::vector<std::unique_ptr<Handle>> handles_;
    std::vector<Sent> requests_;
    ScriptResult result_;
};

} // namespace

ScriptResult RunRequestScript(const uint8_t* data, size_t size, bool bulkReceive) {
    usermode::SetMilliseconds(1'000'000);
    usermode::SetDebugCapture(true);
    usermode::TakeDebugLines();
    ScriptRunner runner(data, size, bulkReceive);
    return runner.Run();
}

} // namespace tavro::driver::testing
