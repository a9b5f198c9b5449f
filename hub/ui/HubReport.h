// SPDX-License-Identifier: Apache-2.0
// What a running hub tells those who show it, beyond the status block: its input port with the
// reason it is closed, its virtual ports with their programs and traffic, the network output,
// the time export, the options in effect. The POSIX hub answers its command socket's status
// query with it (hub/posix/status/HubReport.h, as text), the Windows hub a report request
// (common/HubReportBlock.h); either way readers hold it as HubReport, so that one piece of
// code words and shows it for both editions (ReportJson.h).
#pragma once

#include "common/DriverExchangeBlock.h"
#include "common/GpsSharedStatus.h"
#include "hub/decode/GnssState.h"
#include "hub/decode/PreciseFix.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro {

struct VirtualPortReport {
    uint32_t comNumber = 0; // 0: the port is not used
    // What programs open: the pseudo-terminal (POSIX), \\.\COM<n> (Windows); "" when the port
    // was not made.
    std::string terminal;
    // POSIX: 1 while some program has it open, else 0; Windows: the driver's open count.
    uint32_t programs = 0;
    bool hasCounters = false; // the counts below are known
    uint64_t bytesRelayed = 0;
    uint64_t bytesDropped = 0; // not delivered to a program that did not read in time
    uint64_t bytesWritten = 0; // from its programs, taken for the receiver
    uint64_t bytesRefused = 0; // from its programs, dropped ("Read Only (2-8)", an echo)
};

// A client of the network output's TCP server.
struct NetworkClientReport {
    std::string address; // "192.0.2.7:50412", "[::1]:50412"
    uint64_t bytesSent = 0;
    uint64_t bytesDropped = 0;     // not sent: the client did not keep up
    uint64_t sentencesLimited = 0; // not written to the receiver: over the write rate
};

// The network output: its TCP server and UDP sender.
struct NetworkReport {
    uint32_t tcpPort = 0; // "TCP Port" (0: no server)
    std::string tcpAddress;
    bool listening = false;
    bool openToNetwork = false; // listening where other computers may connect
    uint32_t listenError = 0;   // Win32 code of a failed open, 0 when none
    bool tcpWrite = false;
    uint64_t refused = 0;     // connections closed at once: the clients were many enough
    uint32_t clientLimit = 0; // clients served at once ("TCP Clients")
    std::string udpTarget;
    bool udpSending = false;
    uint32_t udpError = 0;
    uint64_t datagramsSent = 0;
    uint64_t datagramsDropped = 0;
    std::vector<NetworkClientReport> clients;
    uint64_t stalled = 0;     // clients disconnected for taking nothing
    uint64_t rateLimited = 0; // sentences not written: over a client's write rate
    uint64_t displaced = 0;   // clients that made way for a newer connection at the limit
};

// The time export ("NTP Unit") and the pulse-per-second ("PPS").
struct TimeReport {
    uint32_t unit = 0xFFFFFFFF; // "NTP Unit"; 0xFFFFFFFF: off
    bool attached = false;      // the unit's segment is held
    uint32_t attachError = 0;   // Win32 code of a failed attach, 0 when none
    uint64_t samples = 0;
    long lastOffsetNs = 0; // the last sample's receive minus clock time
    uint64_t refused = 0;  // samples refused because the receiver jumped in time
    uint64_t unmeasured = 0;
    bool pps = false; // "PPS"
    uint64_t ppsEdges = 0;
    bool ppsUnavailable = false; // the line reports no carrier changes
};

// How fresh the fix is (see FixFreshness.h), as the hub saw it when it answered.
inline constexpr uint64_t unknownAge = UINT64_MAX; // nothing arrived since the hub started
struct FreshnessReport {
    bool current = false;            // the input is open and its last valid fix is current
    uint64_t fixAgeMs = unknownAge;  // since the last valid fix arrived
    uint32_t fixIntervalMs = 0;      // the receiver's, as measured; 0 until known
    uint64_t dataAgeMs = unknownAge; // since the input's last frame arrived
    bool reported = false;           // a fix report, valid or not, arrived since the start
};

// More than any receiver lists: nine GSV messages of four for each talker's view.
inline constexpr int maxSkySatellites = 128;

struct HubReport {
    std::string version;
    long pid = 0;
    std::string directory; // the COM directory

    uint32_t inputPort = 0; // "Port"
    uint32_t baud = 0;      // the speed the port is (or will be) opened at
    bool inputOpen = false;
    uint32_t lastOpenError = 0;  // Win32 code of the last failed open, 0 after a good one
    long lastOpenOsError = 0;    // the system's own error behind it (errno), 0 when none
    std::string inputDevice;     // what COM<Port> names, "" without a link
    bool inputPresent = false;   // that device exists
    bool inputAccessible = true; // this user may open it for reading and writing
    std::string inputGroup;      // the device's group, for the fix of a denied open
    bool searching = false;      // a GPS search runs
    // A network "Source" in place of the serial port ("" = none): its URL, its state
    // ("resolving", "connecting", "connected", "listening", "reconnecting", "closed"), the
    // next try's distance (reconnecting), the last failure (Win32 code, 0 = none), the bytes
    // received and the connections made again after a drop.
    std::string source;
    std::string sourceState;
    uint32_t sourceNextTryMs = 0;
    uint32_t sourceError = 0;
    long sourceOsError = 0; // the errno behind sourceError, 0 when none
    uint64_t sourceBytes = 0;
    uint32_t sourceReconnects = 0;
    uint32_t checksumErrors = 0;
    // Bytes the hub had to drop since it started, by cause (see DropCause): received bytes
    // emptied by a re-open for a speed change, by another re-open, by a close; bytes for the
    // receiver that it did not take.
    uint64_t droppedSpeedChange = 0;
    uint64_t droppedReopen = 0;
    uint64_t droppedClosed = 0;
    uint64_t droppedUnwritten = 0;

    uint32_t optionFlags = 0; // "Sync"
    bool logging = false;
    std::string logFile;        // the open log file, "" when none
    uint64_t logNotWritten = 0; // received bytes the log could not take
    uint32_t logError = 0;      // why, the last time (Win32 code)

    // The virtual ports are up (Windows: "Enable Ports", the driver's control device open).
    bool portsEnabled = true;
    // The virtual ports: the port set's last open result (Win32 code) and the COM number
    // that made it fail.
    uint32_t portsResult = 0;
    uint32_t portsConflict = 0;
    VirtualPortReport ports[virtualPortCount];

    bool clockSettable = true; // the hub may set the system clock (Auto Time Sync)

    NetworkReport network;
    TimeReport time;

    // The fix at full precision ("fix.*": the values the receiver has given).
    PreciseFix fix;
    FreshnessReport freshness;

    // Every satellite in view ("sky.N": prn,elevation,azimuth,snr,used), empty where only the
    // status block's twelve are known.
    std::vector<SkySatellite> sky;
};

// What a reader found: the status block as it is now and, from a hub that answered, its report.
struct StatusFacts {
    bool running = false;    // a hub is there (listens, holds its lock, has its window)
    bool responding = true;  // and answered in time (false: stopped or hung)
    int pid = 0;             // of the hub that is there, when known
    bool hasReport = false;  // and answered with `report`
    GpsSharedStatus block{}; // all zero when there is none
    // A block exists, but no whole copy of it could be taken (its hub stopped in the middle
    // of a write): `block` is then all zero, and its fields are not shown.
    bool blockTorn = false;
    HubReport report;
    std::string directory; // the COM directory looked in (POSIX)
};

} // namespace tavro
