// The 268-byte status block the hub publishes in the shared mapping "TavroGPS".
// Every reader on the machine depends on these offsets; they must never move.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/SystemTime.h"

namespace tavro {

inline constexpr char statusBlockName[] = "TavroGPS";
inline constexpr uint32_t statusBlockSize = 268;

enum class StreamState : uint8_t {
    Detached = 0,
    PortClosed = 1,
    PortOpen = 2,
    NmeaStream = 3,
    SirfStream = 4,
};

// Value 4 is never produced; readers give values outside this set no text of their own.
enum class FixState : uint8_t {
    NoData = 0,
    NoFix = 1,
    Fix2D = 2,
    Fix3D = 3,
    Invalid = 5,
};

// Bits of GpsSharedStatus::replyFlags, one per decoded MTK reply.
inline constexpr uint8_t replyFixInterval = 1; // $PMTK500
inline constexpr uint8_t replyNmeaRates = 2;   // $PMTK514
inline constexpr uint8_t replyEpoStatus = 4;   // $PMTK707

struct SatelliteEntry {
    int16_t prn;
    int16_t elevation; // degrees
    int16_t azimuth;   // degrees
    int16_t snr;       // dB-Hz
};

struct GpsSharedStatus {
    uint8_t streamState; // StreamState
    uint8_t fixValid;
    uint8_t comPort;
    uint8_t relayHeld;
    uint8_t refCount;
    uint8_t replyFlags;
    int16_t fixInterval; // milliseconds
    int32_t rmcCount;
    // Bit k set: satellites entry k is used in the fix. Written while the receiver reports
    // more than one constellation, where usedPrns cannot name every used satellite (see
    // SatelliteIds.h); 0 otherwise, and then usedPrns tells which satellites are used.
    uint16_t usedEntries;
    uint8_t reserved14[2];
    uint32_t baudRate;
    SystemTime utcTime;
    float latitude;  // degrees, north positive
    float longitude; // degrees, east positive
    int32_t fixQuality;
    float altitude; // metres
    float geoidSeparation;
    float dgpsAge; // seconds
    int32_t dgpsStation;
    float pdop;
    float hdop;
    float vdop;
    uint8_t satsUsed;
    uint8_t selectionMode; // 1 automatic, 2 manual, 0 other
    uint8_t fixState;      // FixState
    uint8_t satsInView;
    uint8_t usedPrns[12];          // ids of SatelliteIds.h that fit 8 bits
    SatelliteEntry satellites[12]; // prn: an id of SatelliteIds.h
    float speedKnots;
    float course; // degrees true
    float depthFeet;
    float depthMetres;
    uint8_t reserved204[8];
    // Bytes 216-219 of this array also hold the signature (see signatureOffset).
    uint8_t nmeaRates[19];
    uint8_t reserved231;
    int32_t epoStatus[9];
};

// The signature "TVRO" is stored at bytes 216-219 when a block is created. That range lies
// inside nmeaRates (entries 4-7), and a decoded $PMTK514 reply overwrites it: the rates are
// what readers use, so they win, and the signature is neither restored nor moved (peers
// outside this system may look for it at 216 on a fresh block).
inline constexpr size_t signatureOffset = 216;
inline constexpr char statusSignature[4] = {'T', 'V', 'R', 'O'};

static_assert(sizeof(SatelliteEntry) == 8);
static_assert(offsetof(SatelliteEntry, prn) == 0);
static_assert(offsetof(SatelliteEntry, elevation) == 2);
static_assert(offsetof(SatelliteEntry, azimuth) == 4);
static_assert(offsetof(SatelliteEntry, snr) == 6);

static_assert(sizeof(GpsSharedStatus) == statusBlockSize);
static_assert(offsetof(GpsSharedStatus, streamState) == 0);
static_assert(offsetof(GpsSharedStatus, fixValid) == 1);
static_assert(offsetof(GpsSharedStatus, comPort) == 2);
static_assert(offsetof(GpsSharedStatus, relayHeld) == 3);
static_assert(offsetof(GpsSharedStatus, refCount) == 4);
static_assert(offsetof(GpsSharedStatus, replyFlags) == 5);
static_assert(offsetof(GpsSharedStatus, fixInterval) == 6);
static_assert(offsetof(GpsSharedStatus, rmcCount) == 8);
static_assert(offsetof(GpsSharedStatus, usedEntries) == 12);
static_assert(offsetof(GpsSharedStatus, reserved14) == 14);
static_assert(offsetof(GpsSharedStatus, baudRate) == 16);
static_assert(offsetof(GpsSharedStatus, utcTime) == 20);
static_assert(offsetof(GpsSharedStatus, latitude) == 36);
static_assert(offsetof(GpsSharedStatus, longitude) == 40);
static_assert(offsetof(GpsSharedStatus, fixQuality) == 44);
static_assert(offsetof(GpsSharedStatus, altitude) == 48);
static_assert(offsetof(GpsSharedStatus, geoidSeparation) == 52);
static_assert(offsetof(GpsSharedStatus, dgpsAge) == 56);
static_assert(offsetof(GpsSharedStatus, dgpsStation) == 60);
static_assert(offsetof(GpsSharedStatus, pdop) == 64);
static_assert(offsetof(GpsSharedStatus, hdop) == 68);
static_assert(offsetof(GpsSharedStatus, vdop) == 72);
static_assert(offsetof(GpsSharedStatus, satsUsed) == 76);
static_assert(offsetof(GpsSharedStatus, selectionMode) == 77);
static_assert(offsetof(GpsSharedStatus, fixState) == 78);
static_assert(offsetof(GpsSharedStatus, satsInView) == 79);
static_assert(offsetof(GpsSharedStatus, usedPrns) == 80);
static_assert(offsetof(GpsSharedStatus, satellites) == 92);
static_assert(offsetof(GpsSharedStatus, speedKnots) == 188);
static_assert(offsetof(GpsSharedStatus, course) == 192);
static_assert(offsetof(GpsSharedStatus, depthFeet) == 196);
static_assert(offsetof(GpsSharedStatus, depthMetres) == 200);
static_assert(offsetof(GpsSharedStatus, reserved204) == 204);
static_assert(offsetof(GpsSharedStatus, nmeaRates) == 212);
static_assert(signatureOffset == offsetof(GpsSharedStatus, nmeaRates) + 4);
static_assert(offsetof(GpsSharedStatus, reserved231) == 231);
static_assert(offsetof(GpsSharedStatus, epoStatus) == 232);
static_assert(sizeof(float) == 4, "block floats are IEEE single precision");

} // namespace tavro
