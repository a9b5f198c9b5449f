// tavro-web (TavroWeb.exe on Windows): the dashboard. Serves the page and its live feed on one
// address and port, and looks at the hub only while a page is open.
#include "platform/ErrorCodes.h"
#include "platform/EventWait.h"
#include "platform/Network.h"
#include "platform/Timing.h"
#include "web/Dashboard.h"
#include "web/HttpServer.h"
#include "web/StatusSource.h"
#include "web/WebOptions.h"

#include <cstdio>
#include <random>

namespace {

using namespace tavro;

int64_t NowMs() {
    return static_cast<int64_t>(platform::SystemTiming().Microseconds() / 1000u);
}

// 128 bits from the system's source of randomness, as 32 hexadecimal digits.
std::string NewToken() {
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        token += part;
    }
    return token;
}

} // namespace

int main(int argc, char** argv) {
    web::WebOptions options;
    std::string message;
    const int parsed = web::ParseWebOptions(argc - 1, argv + 1, options, message);
    if (parsed != web::optionsOk) {
        std::fputs(message.c_str(), parsed == web::optionsHelp ? stdout : stderr);
        return parsed == web::optionsHelp ? 0 : 2;
    }
    platform::Network* network = platform::SystemNetwork();
    if (network == nullptr) {
        std::fprintf(stderr, "%s: the system's network functions did not start\n",
                     web::programName);
        return 1;
    }
    platform::CatchStopRequests();
    std::unique_ptr<web::StatusSource> source = web::MakeStatusSource();
    web::DashboardOptions dashboard;
    dashboard.hostNames = options.hostNames;
    dashboard.changesAllowed = options.allowChanges;
    if (options.allowChanges) {
        dashboard.token = NewToken();
    }
    web::Dashboard handler(*source, dashboard);
    web::HttpServer server(*network, handler);
    const uint32_t result = server.Listen(options.address.c_str(), options.port);
    if (result != error::success) {
        std::fprintf(stderr, "%s: cannot serve on %s port %u: %s\n", web::programName,
                     options.address.c_str(), options.port, web::ListenErrorText(result).c_str());
        return 1;
    }
    handler.SetPort(server.Port());
    const std::string url = web::PageUrl(options.address, server.Port());
    if (!platform::IsLoopbackAddress(options.address.c_str())) {
        std::fprintf(stderr,
                     "%s: warning: the dashboard is open to other computers (address %s); "
                     "127.0.0.1 keeps it to this one\n",
                     web::programName, options.address.c_str());
    }
    if (options.allowChanges) {
        std::fprintf(stderr, "%s: settings may be changed from the page opened as %s#token=%s\n",
                     web::programName, url.c_str(), dashboard.token.c_str());
    }
    std::fprintf(stdout, "%s: dashboard on %s\n", web::programName, url.c_str());
    std::fflush(stdout);
    platform::WaitEntry waits[64];
    bool acceptFailing = false; // said once, and once when it is over
    while (!platform::StopRequested()) {
        const uint32_t count = server.CollectWaits(waits, 64);
        // With nobody connected only a connection (or a stop) can bring work: a long wait.
        const uint32_t wait = server.ConnectionCount() > 0 ? web::feedPeriodMs / 2 : 1000;
        platform::WaitForAny(waits, count, wait);
        const int64_t now = NowMs();
        server.Service(now);
        handler.Tick(server, now);
        if ((server.AcceptError() != 0) != acceptFailing) {
            acceptFailing = !acceptFailing;
            if (acceptFailing) {
                std::fprintf(stderr, "%s: cannot take connections (error %u); trying again\n",
                             web::programName, static_cast<unsigned>(server.AcceptError()));
            } else {
                std::fprintf(stderr, "%s: takes connections again\n", web::programName);
            }
        }
    }
    std::fprintf(stderr, "%s: stopped\n", web::programName);
    return 0;
}
