// The user-mode request: what the I/O manager would hand the driver, as a plain object that
// tests build, dispatch, cancel and examine.
#pragma once

#include <stdint.h>

#include <atomic>
#include <memory>
#include <vector>

#include "sys/core/KernelServices.h"
#include "sys/core/SerialDefinitions.h"

namespace tavro::driver {

// The file object of one open handle; its context is the driver's per-handle state.
struct FileObject {
    void* context = nullptr;
};

struct Request {
    Request(MajorFunction major, FileObject* fileObject)
        : majorFunction(static_cast<uint8_t>(major)), file(fileObject) {}
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Parameters, as the stack location would carry them.
    uint8_t majorFunction;
    uint32_t controlCode = 0;
    uint32_t inputLength = 0;
    uint32_t outputLength = 0;
    uint32_t readLength = 0;
    uint32_t writeLength = 0;
    uint32_t createOptions = 0;
    uint32_t informationClass = 0;
    uint32_t informationLength = 0;
    // The system buffer, sized exactly as buffered I/O sizes it (so overruns are caught).
    std::vector<uint8_t> buffer;
    FileObject* file;

    // Results; read them only once Completed() is true.
    NtStatus status = 0;
    uint32_t information = 0;

    std::atomic<bool> pending{false};
    std::atomic<bool> cancelFlag{false};
    std::atomic<CancelRoutine> cancelRoutine{nullptr};
    void* cancelContext = nullptr; // written and read under the cancel lock
    std::atomic<int> completions{0};

    bool Completed() const { return completions.load(std::memory_order_acquire) > 0; }
    // Makes a completed request new again (IoReuseIrp), keeping its parameters and buffer.
    void Reuse();
    uint8_t* Data() { return buffer.empty() ? nullptr : buffer.data(); }
};

std::unique_ptr<Request> MakeCreate(FileObject& file, uint32_t createOptions = 0);
std::unique_ptr<Request> MakeSimple(MajorFunction major, FileObject& file);
// Buffered device control: one buffer of max(input, output) bytes holding the input.
std::unique_ptr<Request> MakeDeviceControl(FileObject& file, uint32_t code, const void* input,
                                           uint32_t inputLength, uint32_t outputLength);
std::unique_ptr<Request> MakeRead(FileObject& file, uint32_t length);
std::unique_ptr<Request> MakeWrite(FileObject& file, const void* bytes, uint32_t length);
std::unique_ptr<Request> MakeInformation(MajorFunction major, FileObject& file,
                                         uint32_t informationClass, uint32_t length);

} // namespace tavro::driver
