// SPDX-License-Identifier: Apache-2.0
#include "hub/ui/HubDescription.h"

#include "hub/engine/GpsPort.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <stddef.h>
#include <string.h>

namespace tavro {
namespace {

// The record's texts hold the settings' and the hub's whole: nothing is cut.
static_assert(sizeof HubReportBlock::source == sourceSize);
static_assert(sizeof HubReportBlock::logFile == GpsPort::logFileNameSize);
static_assert(sizeof HubReportBlock::tcpAddress == tcpAddressSize);
static_assert(sizeof HubReportBlock::udpTarget == udpTargetSize);
static_assert(sizeof ReportClientEntry::address == platform::peerTextSize);
static_assert(hubReportClientSlots == NetworkOutput::clientSlots);
static_assert(sizeof HubReportBlock::dropped / sizeof(uint64_t) == dropCauseCount);

template <size_t size>
void CopyText(char (&to)[size], const char* from) {
    platform::TextBuilder(to, size).Append(from);
}

void DescribeInput(const HubContext& hub, HubReportBlock& record) {
    const Settings& settings = hub.settings;
    record.inputPort = settings.port;
    record.baud = settings.baud;
    record.optionFlags = settings.optionFlags;
    record.logging = settings.logging != 0 ? 1 : 0;
    record.searching = hub.search.scanning.load() != 0 ? 1 : 0;
    record.inputOpen = hub.InputConfigured() && hub.InputPortOpen() ? 1 : 0;
    for (uint32_t cause = 0; cause < dropCauseCount; ++cause) {
        record.dropped[cause] = hub.drops.bytes[cause];
    }
    const GpsPort* port = hub.inputPort.get();
    if (port == nullptr) {
        return;
    }
    record.lastOpenError = port->lastOpenError;
    record.checksumErrors = port->checksumErrors;
    // The speed it runs at (a speed change by command moves it before "Baud").
    if (port->IsOpen() || record.baud == 0) {
        record.baud = port->baudRate;
    }
    if (port->LogOpen()) {
        CopyText(record.logFile, port->logFileName);
    }
    record.logNotWritten = port->bytesNotLogged;
    record.logError = port->logError;
    if (hub.SourceIsSerial()) {
        return;
    }
    const SourceRecord& source = port->sourceRecord;
    CopyText(record.source, source.text);
    record.sourceState = static_cast<uint8_t>(source.state);
    record.sourceError = source.lastError != 0 ? source.lastError : port->lastOpenError;
    record.sourceBytes = source.bytes;
    record.sourceReconnects = source.reconnects;
    if (source.state == SourceState::Waiting) {
        const int32_t left =
            static_cast<int32_t>(source.nextTryTick - hub.system.timing.GetTickCount());
        record.sourceNextTryMs = left > 0 ? static_cast<uint32_t>(left) : 0;
    }
}

void DescribePorts(HubContext& hub, HubReportBlock& record) {
    const DriverExchangeBlock& block = hub.exchange.block;
    record.portsEnabled = hub.exchange.DeviceOpen() ? 1 : 0;
    PortTrafficBlock traffic;
    // A driver older than the counts refuses the request: the ports are shown without them.
    const bool counted =
        record.portsEnabled != 0 && hub.exchange.device.Traffic(traffic) == error::success;
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        ReportPortEntry& entry = record.ports[k];
        entry.comNumber = block.comNumber[k];
        entry.openCount = record.portsEnabled != 0 ? block.openCount[k] : 0;
        if (counted && entry.comNumber != 0) {
            entry.hasTraffic = 1;
            entry.traffic = traffic.ports[k];
        }
    }
}

void DescribeNetwork(const NetworkOutput& output, const Settings& settings,
                     HubReportBlock& record) {
    record.tcpPort = settings.tcpPort;
    CopyText(record.tcpAddress, output.ListeningAddress());
    record.listening = output.Listening() ? 1 : 0;
    record.openToNetwork = output.OpenToNetwork() ? 1 : 0;
    record.listenError = output.ListenError();
    record.tcpWrite = settings.tcpWrite != 0 ? 1 : 0;
    record.refused = output.Refused();
    record.stalled = output.StallDisconnects();
    record.displaced = output.Displaced();
    record.rateLimited = output.RateLimited();
    record.clientLimit = output.ClientLimit();
    CopyText(record.udpTarget, settings.udpTarget);
    record.udpSending = output.SendsDatagrams() ? 1 : 0;
    record.udpError = output.DatagramError();
    record.datagramsSent = output.DatagramsSent();
    record.datagramsDropped = output.DatagramsDropped();
    NetworkClientInfo info;
    for (uint32_t slot = 0; slot < NetworkOutput::clientSlots; ++slot) {
        if (output.Client(slot, info)) {
            ReportClientEntry& client = record.clients[record.clientCount++];
            CopyText(client.address, info.peer);
            client.bytesSent = info.bytesSent;
            client.bytesDropped = info.bytesDropped;
            client.sentencesLimited = info.sentencesLimited;
        }
    }
}

} // namespace

void DescribeHub(HubEngine& engine, HubReportBlock& record) {
    constexpr size_t body = offsetof(HubReportBlock, inputPort);
    memset(reinterpret_cast<uint8_t*>(&record) + body, 0, sizeof record - body);
    HubContext& hub = engine.Context();
    DescribeInput(hub, record);
    DescribePorts(hub, record);
    DescribeNetwork(engine.Network(), hub.settings, record);
    const TimeExportState& time = engine.Time().State();
    record.ntpUnit = hub.settings.ntpUnit;
    record.timeAttached = time.unit != ntpUnitNone ? 1 : 0;
    record.attachError = time.attachError;
    record.samples = time.samples;
    record.lastOffsetNs = time.lastOffsetNs;
    record.timeRefused = time.refused;
    record.unmeasured = time.unmeasured;
    record.pps = hub.settings.pps != 0 ? 1 : 0;
    if (const PulseSource* pulse = engine.Pulse()) {
        record.ppsEdges = pulse->Edges();
        record.ppsUnavailable = pulse->Unavailable() ? 1 : 0;
    }
}

} // namespace tavro
