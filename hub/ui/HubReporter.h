// SPDX-License-Identifier: Apache-2.0
// The Windows hub's side of the report (common/HubReportBlock.h): the record its main window
// shows, and the answer to a program's HubCommand::ReportStatus, both made by DescribeHub.
#pragma once

#include "common/HubReportBlock.h"
#include "hub/engine/HubEngine.h"
#include "platform/SharedMemory.h"

#include <stdint.h>

namespace tavro {

class HubReporter {
public:
    // `processId` and `version` (at most 23 characters are kept) go into every answer.
    HubReporter(HubEngine& engine, platform::SharedMemory& memory, uint32_t processId,
                const char* version);

    HubReporter(const HubReporter&) = delete;
    HubReporter& operator=(const HubReporter&) = delete;

    // The hub as it is now (DescribeHub).
    const HubReportBlock& Refresh();
    // As the last Refresh or Answer found it.
    const HubReportBlock& Record() const { return record_; }

    // HubCommand::ReportStatus: `data` holds the requester's process id (4 bytes). Fills the
    // requester's mapping when its header is the one this hub writes, and says so in
    // `answered`; anything else is left untouched. Returns whether it answered.
    bool Answer(const void* data, uint32_t size);

private:
    HubEngine& engine_;
    platform::SharedMemory& memory_;
    HubReportBlock record_{};
};

} // namespace tavro
