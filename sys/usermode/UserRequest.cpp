#include "sys/usermode/UserRequest.h"

#include <string.h>

#include <algorithm>

namespace tavro::driver {

void Request::Reuse() {
    status = 0;
    information = 0;
    pending.store(false);
    cancelFlag.store(false);
    cancelRoutine.store(nullptr);
    cancelContext = nullptr;
    completions.store(0);
}

std::unique_ptr<Request> MakeCreate(FileObject& file, uint32_t createOptions) {
    auto request = std::make_unique<Request>(MajorFunction::Create, &file);
    request->createOptions = createOptions;
    return request;
}

std::unique_ptr<Request> MakeSimple(MajorFunction major, FileObject& file) {
    return std::make_unique<Request>(major, &file);
}

std::unique_ptr<Request> MakeDeviceControl(FileObject& file, uint32_t code, const void* input,
                                           uint32_t inputLength, uint32_t outputLength) {
    auto request = std::make_unique<Request>(MajorFunction::DeviceControl, &file);
    request->controlCode = code;
    request->inputLength = inputLength;
    request->outputLength = outputLength;
    request->buffer.assign(std::max(inputLength, outputLength), 0);
    if (input != nullptr && inputLength != 0) {
        memcpy(request->buffer.data(), input, inputLength);
    }
    return request;
}

std::unique_ptr<Request> MakeRead(FileObject& file, uint32_t length) {
    auto request = std::make_unique<Request>(MajorFunction::Read, &file);
    request->readLength = length;
    request->buffer.assign(length, 0);
    return request;
}

std::unique_ptr<Request> MakeWrite(FileObject& file, const void* bytes, uint32_t length) {
    auto request = std::make_unique<Request>(MajorFunction::Write, &file);
    request->writeLength = length;
    request->buffer.assign(static_cast<const uint8_t*>(bytes),
                           static_cast<const uint8_t*>(bytes) + length);
    return request;
}

std::unique_ptr<Request> MakeInformation(MajorFunction major, FileObject& file,
                                         uint32_t informationClass, uint32_t length) {
    auto request = std::make_unique<Request>(major, &file);
    request->informationClass = informationClass;
    request->informationLength = length;
    request->buffer.assign(length, 0);
    return request;
}

} // namespace tavro::driver
