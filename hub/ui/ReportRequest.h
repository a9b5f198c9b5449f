// SPDX-License-Identifier: Apache-2.0
// A program's side of the Windows hub's report (common/HubReportBlock.h): its mapping, made
// once and kept, the header of each request, and the answer read into a HubReport. Sending
// HubCommand::ReportStatus in between is the caller's (Windows: SendMessageTimeout).
#pragma once

#include "common/HubReportBlock.h"
#include "hub/ui/HubReport.h"
#include "platform/SharedMemory.h"

#include <stdint.h>

namespace tavro {

class ReportRequest {
public:
    // `processId`: this program's, which names the mapping and is the command's payload.
    ReportRequest(platform::SharedMemory& memory, uint32_t processId);
    ~ReportRequest();
    ReportRequest(const ReportRequest&) = delete;
    ReportRequest& operator=(const ReportRequest&) = delete;

    // Makes the mapping when there is none yet and writes a new request's header. False when
    // the mapping cannot be made.
    bool Prepare();

    // The payload of HubCommand::ReportStatus (4 bytes).
    const uint32_t* Payload() const { return &processId_; }

    // After the command: true with `report` filled when the hub answered this request (an
    // older hub leaves it unanswered).
    bool Take(HubReport& report) const;

private:
    platform::SharedMemory& memory_;
    uint32_t processId_;
    platform::SharedView view_{};
    uint32_t request_ = 0;
};

// The answer as readers hold it. Texts end at their terminator or their array's end; a
// virtual port's "terminal" is the name programs open it by, while the ports are up.
void ReadHubReportBlock(const HubReportBlock& block, HubReport& report);

} // namespace tavro
