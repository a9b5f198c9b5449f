// gps-sim's command line.
#pragma once

#include "tools/gps-sim/FixSnapshot.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::gpssim {

struct Options {
    uint32_t comNumber = 0;
    uint32_t baud = 4800;
    std::string replayPath;
    bool once = false; // --once
    uint32_t fixIntervalMs = 1000;
    int32_t emitDelayMs = -1; // --emit-delay; -1: fixes leave within the 10 ms loop
    bool garbage = true;
    uint64_t seed = 1;
    double startLatitude = 48.1173;
    double startLongitude = 11.5167;
    FixMode fix = FixMode::Fix3D;
    uint32_t systems = gpsOnly; // SystemBit()s of --constellations
    bool quiet = false;
    std::string logPath;
    bool force = false;
    bool help = false;
    bool version = false;
};

// Parses argv[1..]. False with a message in `error` for a bad command line.
bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

// The text --help prints.
std::string HelpText();

} // namespace tavro::gpssim
