// SPDX-License-Identifier: Apache-2.0
#include "hub/ui/HubReporter.h"

#include "hub/ui/HubDescription.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <atomic>
#include <stddef.h>
#include <string.h>

namespace tavro {

HubReporter::HubReporter(HubEngine& engine, platform::SharedMemory& memory, uint32_t processId,
                         const char* version)
    : engine_(engine), memory_(memory) {
    record_.signature = hubReportSignature;
    record_.version = hubReportVersion;
    record_.size = sizeof record_;
    record_.processId = processId;
    platform::TextBuilder(record_.hubVersion, sizeof record_.hubVersion).Append(version);
}

const HubReportBlock& HubReporter::Refresh() {
    DescribeHub(engine_, record_);
    return record_;
}

bool HubReporter::Answer(const void* data, uint32_t size) {
    uint32_t requester = 0;
    if (data == nullptr || size != sizeof requester) {
        return false;
    }
    memcpy(&requester, data, sizeof requester);
    char name[sizeof hubReportNamePrefix + 10];
    platform::TextBuilder(name, sizeof name).Append(hubReportNamePrefix).AppendUnsigned(requester);
    platform::SharedView view;
    if (memory_.Open(name, view) != error::success) {
        return false;
    }
    // Any program may name any mapping of this pattern: only one laid out as this hub writes
    // it is written into. The requester waits in SendMessage meanwhile.
    auto* shared = static_cast<HubReportBlock*>(view.data);
    const bool fits = view.size >= sizeof(HubReportBlock) &&
                      shared->signature == hubReportSignature &&
                      shared->version == hubReportVersion && shared->size == sizeof(HubReportBlock);
    if (fits) {
        const uint32_t request = shared->request;
        Refresh();
        constexpr size_t from = offsetof(HubReportBlock, processId);
        memcpy(reinterpret_cast<uint8_t*>(shared) + from,
               reinterpret_cast<const uint8_t*>(&record_) + from, sizeof record_ - from);
        std::atomic_ref<uint32_t>(shared->answered).store(request, std::memory_order_release);
    }
    memory_.Close(view);
    return fits;
}

} // namespace tavro
