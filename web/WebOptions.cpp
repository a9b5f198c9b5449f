#include "web/WebOptions.h"

#include "platform/ErrorCodes.h"

#include <charconv>
#include <cstring>

namespace tavro::web {

#ifdef _WIN32
const char programName[] = "TavroWeb";
#else
const char programName[] = "tavro-web";
#endif

namespace {

std::string Help() {
    return std::string("usage: ") + programName +
           " [--port N] [--address A] [--allow-host NAME]... [--allow-changes]\n"
           "Serves the Tavro dashboard: the sky, the fix, the virtual ports and the network\n"
           "clients of the hub on this computer, live, in a web browser.\n"
           "  --port N          the port to serve on (default " +
           std::to_string(defaultPort) +
           ")\n"
           "  --address A       the address to serve on (default 127.0.0.1, this computer\n"
           "                    only; 0.0.0.0 or :: serves every interface: a warning)\n"
           "  --allow-host NAME a name the page may be opened by, besides addresses and\n"
           "                    localhost (for example this computer's name on the network)\n"
           "  --allow-changes   the page may change the hub's settings; it needs the token\n"
           "                    printed at start, which changes with every start\n"
           "  --version         the release\n";
}

} // namespace

int ParseWebOptions(int argc, char** argv, WebOptions& options, std::string& message) {
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
            message = Help();
            return optionsHelp;
        }
        if (std::strcmp(option, "--version") == 0) {
            message = std::string(programName) + " " + TAVRO_VERSION + "\n";
            return optionsHelp;
        }
        if (std::strcmp(option, "--allow-changes") == 0) {
            options.allowChanges = true;
        } else if (std::strcmp(option, "--port") == 0 && hasValue) {
            const char* text = argv[++i];
            const char* end = text + std::strlen(text);
            unsigned port = 0;
            const auto result = std::from_chars(text, end, port);
            if (result.ec != std::errc() || result.ptr != end || port > 65535) {
                message =
                    std::string(programName) + ": --port takes 0 to 65535, not \"" + text + "\"\n";
                return optionsUsage;
            }
            options.port = static_cast<uint16_t>(port);
        } else if (std::strcmp(option, "--address") == 0 && hasValue) {
            options.address = argv[++i];
            if (options.address == "localhost") {
                options.address = "127.0.0.1";
            }
            // Brackets are for URLs; the listener takes the address alone.
            if (options.address.size() > 2 && options.address.front() == '[' &&
                options.address.back() == ']') {
                options.address = options.address.substr(1, options.address.size() - 2);
            }
        } else if (std::strcmp(option, "--allow-host") == 0 && hasValue) {
            options.hostNames.push_back(argv[++i]);
        } else {
            message = std::string(programName) + ": unknown option or missing value: " + option +
                      "\n" + Help();
            return optionsUsage;
        }
    }
    return optionsOk;
}

std::string PageUrl(const std::string& address, uint16_t port) {
    // Every interface is reached, from this computer, through its loopback address.
    std::string host = address == "0.0.0.0" ? "127.0.0.1" : address == "::" ? "::1" : address;
    if (host.find(':') != std::string::npos) {
        host = "[" + host + "]";
    }
    return "http://" + host + ":" + std::to_string(port) + "/";
}

std::string ListenErrorText(uint32_t code) {
    switch (code) {
    case error::addressInUse:
        return "another program serves that port (--port N chooses another)";
    case error::addressNotAvailable:
        return "no interface of this computer has that address";
    case error::socketAccessDenied:
        return "not allowed here (ports below 1024 need privileges)";
    case error::invalidParameter:
        return "that is no numeric IPv4 or IPv6 address";
    default:
        return "error " + std::to_string(code);
    }
}

} // namespace tavro::web
