// SPDX-License-Identifier: Apache-2.0
#include "hub/ui/ReportRequest.h"

#include "hub/input/SourceRecord.h"
#include "platform/ErrorCodes.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <string.h>
#include <string>

namespace tavro {
namespace {

template <size_t size>
std::string Text(const char (&text)[size]) {
    return std::string(text, strnlen(text, size));
}

} // namespace

ReportRequest::ReportRequest(platform::SharedMemory& memory, uint32_t processId)
    : memory_(memory), processId_(processId) {}

ReportRequest::~ReportRequest() {
    memory_.Close(view_);
}

bool ReportRequest::Prepare() {
    if (view_.data == nullptr) {
        const std::string name = hubReportNamePrefix + std::to_string(processId_);
        const uint32_t result = memory_.CreateOrOpen(name.c_str(), sizeof(HubReportBlock), view_);
        if (result != error::success && result != error::alreadyExists) {
            return false;
        }
        if (view_.size < sizeof(HubReportBlock)) {
            memory_.Close(view_);
            return false;
        }
    }
    auto* block = static_cast<HubReportBlock*>(view_.data);
    block->signature = hubReportSignature;
    block->version = hubReportVersion;
    block->size = sizeof(HubReportBlock);
    if (++request_ == 0) {
        ++request_; // 0 stands for no answer
    }
    block->request = request_;
    std::atomic_ref<uint32_t>(block->answered).store(0, std::memory_order_release);
    return true;
}

bool ReportRequest::Take(HubReport& report) const {
    if (view_.data == nullptr) {
        return false;
    }
    const auto* block = static_cast<const HubReportBlock*>(view_.data);
    const uint32_t answered = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(block->answered))
                                  .load(std::memory_order_acquire);
    if (answered != request_ || block->signature != hubReportSignature ||
        block->version != hubReportVersion || block->size != sizeof(HubReportBlock)) {
        return false;
    }
    ReadHubReportBlock(*block, report);
    return true;
}

void ReadHubReportBlock(const HubReportBlock& block, HubReport& report) {
    report = HubReport{};
    report.version = Text(block.hubVersion);
    report.pid = static_cast<long>(block.processId);
    report.inputPort = block.inputPort;
    report.baud = block.baud;
    report.inputOpen = block.inputOpen != 0;
    report.lastOpenError = block.lastOpenError;
    report.searching = block.searching != 0;
    report.checksumErrors = block.checksumErrors;
    report.source = Text(block.source);
    if (!report.source.empty()) {
        report.sourceState = SourceStateName(static_cast<SourceState>(block.sourceState));
        report.sourceNextTryMs = block.sourceNextTryMs;
        report.sourceError = block.sourceError;
        report.sourceBytes = block.sourceBytes;
        report.sourceReconnects = block.sourceReconnects;
    }
    report.droppedSpeedChange = block.dropped[0]; // in the order of DropCause
    report.droppedReopen = block.dropped[1];
    report.droppedClosed = block.dropped[2];
    report.droppedUnwritten = block.dropped[3];
    report.optionFlags = block.optionFlags;
    report.logging = block.logging != 0;
    report.logFile = Text(block.logFile);
    report.logNotWritten = block.logNotWritten;
    report.logError = block.logError;
    report.portsEnabled = block.portsEnabled != 0;
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        const ReportPortEntry& entry = block.ports[k];
        VirtualPortReport& port = report.ports[k];
        port.comNumber = entry.comNumber;
        if (report.portsEnabled && entry.comNumber != 0) {
            port.terminal = "\\\\.\\COM" + std::to_string(entry.comNumber);
        }
        port.programs = entry.openCount;
        port.hasCounters = entry.hasTraffic != 0;
        port.bytesRelayed = entry.traffic.bytesRelayed;
        port.bytesDropped = entry.traffic.bytesDropped;
        port.bytesWritten = entry.traffic.bytesWritten;
        port.bytesRefused = entry.traffic.bytesRefused;
    }
    NetworkReport& network = report.network;
    network.tcpPort = block.tcpPort;
    network.tcpAddress = Text(block.tcpAddress);
    network.listening = block.listening != 0;
    network.openToNetwork = block.openToNetwork != 0;
    network.listenError = block.listenError;
    network.tcpWrite = block.tcpWrite != 0;
    network.refused = block.refused;
    network.clientLimit = block.clientLimit;
    network.udpTarget = Text(block.udpTarget);
    network.udpSending = block.udpSending != 0;
    network.udpError = block.udpError;
    network.datagramsSent = block.datagramsSent;
    network.datagramsDropped = block.datagramsDropped;
    network.stalled = block.stalled;
    network.rateLimited = block.rateLimited;
    network.displaced = block.displaced;
    const uint32_t clients =
        block.clientCount < hubReportClientSlots ? block.clientCount : hubReportClientSlots;
    for (uint32_t i = 0; i < clients; ++i) {
        const ReportClientEntry& client = block.clients[i];
        network.clients.push_back(
            {Text(client.address), client.bytesSent, client.bytesDropped, client.sentencesLimited});
    }
    TimeReport& time = report.time;
    time.unit = block.ntpUnit;
    time.attached = block.timeAttached != 0;
    time.attachError = block.attachError;
    time.samples = block.samples;
    // Where long has 32 bits (Windows), an offset past 2 s is shown as 2 s.
    time.lastOffsetNs = static_cast<long>(std::clamp<int64_t>(
        block.lastOffsetNs, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()));
    time.refused = block.timeRefused;
    time.unmeasured = block.unmeasured;
    time.pps = block.pps != 0;
    time.ppsEdges = block.ppsEdges;
    time.ppsUnavailable = block.ppsUnavailable != 0;
}

} // namespace tavro
