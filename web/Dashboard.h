// The dashboard's answers: the page and its files, the live feed, one snapshot as JSON; every
// request checked for a Host this dashboard answers to (a page of another site that a DNS
// trick points at this address names its own host), writes also for their origin and the
// token of this start.
#pragma once

#include "web/HttpServer.h"
#include "web/StatusSource.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro::web {

struct DashboardOptions {
    uint16_t port = 0;
    // Host names besides IP literals that requests may carry ("localhost", this machine's
    // name, --allow-host).
    std::vector<std::string> hostNames;
    bool changesAllowed = false;
    std::string token; // of this start; required with every write
};

// How often the feed looks at the hub while a page is open.
inline constexpr int64_t feedPeriodMs = 200;
// A feed that has not changed is sent again after this long, so that a page can tell a
// dashboard that went away from a quiet one.
inline constexpr int64_t feedHeartbeatMs = 5000;

class Dashboard final : public RequestHandler {
public:
    Dashboard(StatusSource& source, DashboardOptions options);

    HttpResponse Handle(const HttpRequest& request) override;

    // Looks at the hub (at most once per feedPeriodMs, and only while a feed is open) and
    // sends the feeds what changed.
    void Tick(HttpServer& server, int64_t nowMs);

    // The port the server listens on (known once it does).
    void SetPort(uint16_t port) { options_.port = port; }

    // Whether `host` (a Host header) names this dashboard.
    bool HostAllowed(const std::string& host) const;

    uint64_t Snapshots() const { return snapshots_; }

private:
    const std::string& Current(int64_t nowMs);
    HttpResponse Feed();
    HttpResponse SettingsAnswer(const HttpRequest& request);
    // Why a write may not be done ("" when it may): changes off, another origin, no token.
    std::string WriteRefusal(const HttpRequest& request) const;

    StatusSource& source_;
    DashboardOptions options_;
    std::string snapshot_;
    int64_t snapshotAt_ = 0;
    std::string sent_;
    int64_t sentAt_ = 0;
    int64_t now_ = 0;
    uint64_t snapshots_ = 0;
};

} // namespace tavro::web
