#include "hub/engine/HubContext.h"

#include "hub/engine/GpsPort.h"

namespace tavro {

void DropCounts::Add(DropCause cause, uint64_t count) {
    bytes[static_cast<uint32_t>(cause)] += count;
}

HubContext::HubContext(const HubSystem& hubSystem)
    : system(hubSystem), exchange(hubSystem.controlDevice), statusBlock(hubSystem.sharedMemory) {}

HubContext::~HubContext() = default;

GpsPort& HubContext::CreateInputPort(TrackLog* log) {
    DestroyInputPort();
    inputPort = std::make_unique<GpsPort>(*this, GpsPortKind::Main, log);
    inputPort->status = &statusBlock.Block();
    return *inputPort;
}

void HubContext::DestroyInputPort() {
    if (inputPort != nullptr) {
        inputPort->Close();
        inputPort.reset();
    }
}

bool HubContext::InputPortOpen() const {
    return inputPort != nullptr && inputPort->IsOpen();
}

} // namespace tavro
