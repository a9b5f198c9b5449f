// SPDX-License-Identifier: Apache-2.0
// The Windows hub as its main window and its report (common/HubReportBlock.h) show it, taken
// in one place so that the two cannot disagree: the input port and why it is closed, each
// virtual port's number, open count and traffic, the network output and its clients, the time
// export. No allocation; one traffic request to the driver while the ports are enabled.
#pragma once

#include "common/HubReportBlock.h"
#include "hub/engine/HubEngine.h"

namespace tavro {

// Fills every field of `record` from inputPort on; the header (signature to hubVersion) is
// left to the caller.
void DescribeHub(HubEngine& engine, HubReportBlock& record);

} // namespace tavro
