// SPDX-License-Identifier: Apache-2.0
// The Windows hub's report to programs that show it (the dashboard): what the status block
// "TavroGPS" has no room for. The input port and why it is closed, each virtual port with its
// open count and traffic, the network output and its clients, the time export.
//
// A program asks for it by request and answer, so that a hub spends nothing on it while nobody
// looks:
// 1. The program creates a mapping named hubReportNamePrefix followed by its process id in
//    decimal ("TavroReport4242") of sizeof(HubReportBlock) bytes, and writes the header:
//    signature, version, size, and a request number of its choosing, `answered` 0.
// 2. It sends the hub's window WM_COPYDATA HubCommand::ReportStatus with its process id (4
//    bytes) as payload (SendMessageTimeout: a hung hub must not hold it).
// 3. The hub opens that mapping and, when the signature, version and size are the ones it
//    writes, fills the rest and writes `answered` = the request number last. Anything else it
//    leaves untouched; a hub older than the command ignores it. So when SendMessage returns
//    the program knows: `answered` equal to its request number is this request's answer.
//
// Every reader depends on these offsets: fields are only ever added behind the last one, with a
// new version.
#pragma once

#include "common/DriverExchangeBlock.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro {

inline constexpr char hubReportNamePrefix[] = "TavroReport";
inline constexpr uint32_t hubReportSignature = 0x50525654; // "TVRP" in memory order
inline constexpr uint32_t hubReportVersion = 1;
inline constexpr uint32_t hubReportClientSlots = 128;

struct ReportPortEntry {
    uint32_t comNumber;  // 0: the virtual port has no number
    uint32_t openCount;  // handles programs hold on it, from the driver's exchange
    uint32_t hasTraffic; // 1: `traffic` holds the driver's counts (IOCTL_TAVRO_TRAFFIC)
    uint32_t reserved;
    PortTraffic traffic;
};

struct ReportClientEntry {
    char address[64]; // "192.0.2.7:50412", "[::1]:50412"
    uint64_t bytesSent;
    uint64_t bytesDropped;     // not sent: the client did not keep up
    uint64_t sentencesLimited; // not written to the receiver: over the write rate
};

// Texts are zero-terminated within their arrays; error values are Win32 codes.
struct HubReportBlock {
    // Written by the requester; the hub checks them and writes `answered` last.
    uint32_t signature;
    uint32_t version;
    uint32_t size;
    uint32_t request;
    uint32_t answered;
    uint32_t processId; // the hub's
    char hubVersion[24];

    // The input: "Port", the speed it runs at, whether it is open and why not.
    uint32_t inputPort;
    uint32_t baud;
    uint32_t lastOpenError; // 0 after a good open
    uint32_t checksumErrors;
    uint32_t optionFlags; // "Sync"
    uint8_t inputOpen;
    uint8_t searching; // a GPS search runs
    uint8_t logging;
    uint8_t portsEnabled; // the driver's control device is open
    uint8_t sourceState;  // SourceState of a network "Source"
    uint8_t reserved73[3];
    uint32_t sourceError;
    uint32_t sourceNextTryMs;
    uint32_t sourceReconnects;
    uint64_t sourceBytes;
    uint64_t dropped[4]; // bytes the hub dropped, by DropCause
    uint64_t logNotWritten;
    uint32_t logError;
    uint32_t reserved140;
    char source[128];  // "Source", empty for the serial port
    char logFile[192]; // the open log file, empty when none

    ReportPortEntry ports[virtualPortCount];

    // The network output.
    uint32_t tcpPort;
    uint32_t listenError;
    uint32_t clientLimit;
    uint32_t udpError;
    uint8_t listening;
    uint8_t openToNetwork;
    uint8_t tcpWrite;
    uint8_t udpSending;
    uint32_t clientCount; // entries of `clients` in use
    uint64_t refused;
    uint64_t stalled;
    uint64_t displaced;
    uint64_t rateLimited;
    uint64_t datagramsSent;
    uint64_t datagramsDropped;
    char tcpAddress[64];
    char udpTarget[128];

    // The time export ("NTP Unit", 0xFFFFFFFF off) and the pulse-per-second.
    uint32_t ntpUnit;
    uint32_t attachError;
    uint8_t timeAttached;
    uint8_t pps;
    uint8_t ppsUnavailable;
    uint8_t reserved1123[5];
    uint64_t samples;
    int64_t lastOffsetNs;
    uint64_t timeRefused;
    uint64_t unmeasured;
    uint64_t ppsEdges;

    ReportClientEntry clients[hubReportClientSlots];
};

static_assert(sizeof(ReportPortEntry) == 48);
static_assert(offsetof(ReportPortEntry, traffic) == 16);
static_assert(sizeof(ReportClientEntry) == 88);
static_assert(offsetof(ReportClientEntry, bytesSent) == 64);
static_assert(offsetof(ReportClientEntry, sentencesLimited) == 80);

static_assert(offsetof(HubReportBlock, signature) == 0);
static_assert(offsetof(HubReportBlock, version) == 4);
static_assert(offsetof(HubReportBlock, size) == 8);
static_assert(offsetof(HubReportBlock, request) == 12);
static_assert(offsetof(HubReportBlock, answered) == 16);
static_assert(offsetof(HubReportBlock, processId) == 20);
static_assert(offsetof(HubReportBlock, hubVersion) == 24);
static_assert(offsetof(HubReportBlock, inputPort) == 48);
static_assert(offsetof(HubReportBlock, optionFlags) == 64);
static_assert(offsetof(HubReportBlock, inputOpen) == 68);
static_assert(offsetof(HubReportBlock, sourceState) == 72);
static_assert(offsetof(HubReportBlock, sourceError) == 76);
static_assert(offsetof(HubReportBlock, sourceBytes) == 88);
static_assert(offsetof(HubReportBlock, dropped) == 96);
static_assert(offsetof(HubReportBlock, logNotWritten) == 128);
static_assert(offsetof(HubReportBlock, logError) == 136);
static_assert(offsetof(HubReportBlock, source) == 144);
static_assert(offsetof(HubReportBlock, logFile) == 272);
static_assert(offsetof(HubReportBlock, ports) == 464);
static_assert(offsetof(HubReportBlock, tcpPort) == 848);
static_assert(offsetof(HubReportBlock, listening) == 864);
static_assert(offsetof(HubReportBlock, clientCount) == 868);
static_assert(offsetof(HubReportBlock, refused) == 872);
static_assert(offsetof(HubReportBlock, datagramsDropped) == 912);
static_assert(offsetof(HubReportBlock, tcpAddress) == 920);
static_assert(offsetof(HubReportBlock, udpTarget) == 984);
static_assert(offsetof(HubReportBlock, ntpUnit) == 1112);
static_assert(offsetof(HubReportBlock, timeAttached) == 1120);
static_assert(offsetof(HubReportBlock, samples) == 1128);
static_assert(offsetof(HubReportBlock, lastOffsetNs) == 1136);
static_assert(offsetof(HubReportBlock, ppsEdges) == 1160);
static_assert(offsetof(HubReportBlock, clients) == 1168);
static_assert(sizeof(HubReportBlock) == 12432);

} // namespace tavro
