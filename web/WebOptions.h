// The dashboard's command line: --port, --address, --allow-host, --allow-changes.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::web {

extern const char programName[]; // "tavro-web", "TavroWeb"

// One above the NMEA-over-TCP port 10110 that the hub's network output uses, so the two are
// remembered together; unprivileged, below every system's ephemeral range, and clear of the
// ports that development servers and proxies take (3000, 5000, 8000, 8080, 8888).
inline constexpr uint16_t defaultPort = 10111;

struct WebOptions {
    uint16_t port = defaultPort;
    std::string address = "127.0.0.1";
    std::vector<std::string> hostNames = {"localhost"};
    bool allowChanges = false;
};

inline constexpr int optionsOk = 0;
inline constexpr int optionsHelp = 1;  // `message` holds the help
inline constexpr int optionsUsage = 2; // `message` says what is wrong

int ParseWebOptions(int argc, char** argv, WebOptions& options, std::string& message);

// "http://127.0.0.1:10111/", "http://[::1]:10111/".
std::string PageUrl(const std::string& address, uint16_t port);

// Why the dashboard could not listen, in words.
std::string ListenErrorText(uint32_t code);

} // namespace tavro::web
