#include "web/Dashboard.h"

#include "web/EmbeddedFiles.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace tavro::web {
namespace {

// The page's files come from this dashboard only; nothing may frame it.
constexpr char pageHeaders[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; connect-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'\r\n"
    "X-Frame-Options: DENY\r\n";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// An IPv4 address in dotted form: a name cannot be made to look like one.
bool IsIpv4Literal(std::string_view text) {
    int parts = 0;
    size_t digits = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 3) {
                return false;
            }
        } else if (c == '.' && digits > 0) {
            ++parts;
            digits = 0;
        } else {
            return false;
        }
    }
    return digits > 0 && parts == 3;
}

bool IsIpv6Literal(std::string_view text) {
    if (text.size() < 4 || text.front() != '[' || text.back() != ']') {
        return false;
    }
    for (const char c : text.substr(1, text.size() - 2)) {
        const bool hex = (c >= '0' && c <= '9') || (Lower(c) >= 'a' && Lower(c) <= 'f');
        if (!hex && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

bool SameSecret(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size() || expected.empty()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    }
    return difference == 0;
}

HttpResponse Json(std::string body) {
    HttpResponse response;
    response.contentType = "application/json";
    response.body = std::move(body);
    return response;
}

} // namespace

Dashboard::Dashboard(StatusSource& source, DashboardOptions options)
    : source_(source), options_(std::move(options)) {}

bool Dashboard::HostAllowed(const std::string& host) const {
    std::string_view name = host;
    std::string_view port = "80";
    const size_t colon = name.rfind(':');
    if (colon != std::string_view::npos && name.find(']', colon) == std::string_view::npos) {
        port = name.substr(colon + 1);
        name = name.substr(0, colon);
    }
    if (port != std::to_string(options_.port) || name.empty()) {
        return false;
    }
    if (IsIpv4Literal(name) || IsIpv6Literal(name)) {
        return true;
    }
    for (const std::string& allowed : options_.hostNames) {
        if (SameText(name, allowed)) {
            return true;
        }
    }
    return false;
}

const std::string& Dashboard::Current(int64_t nowMs) {
    if (snapshot_.empty() || nowMs - snapshotAt_ >= feedPeriodMs) {
        snapshot_ = source_.Snapshot();
        snapshotAt_ = nowMs;
        ++snapshots_;
    }
    return snapshot_;
}

HttpResponse Dashboard::Feed() {
    HttpResponse response;
    response.stream = true;
    response.contentType = "text/event-stream";
    // The page's EventSource connects again a second after the dashboard went away.
    response.body = "retry: 1000\n\ndata: " + Current(now_) + "\n\n";
    return response;
}

void Dashboard::Tick(HttpServer& server, int64_t nowMs) {
    now_ = nowMs;
    if (server.StreamCount() == 0) {
        return; // nobody looks: the hub is not asked
    }
    if (nowMs - snapshotAt_ < feedPeriodMs) {
        return;
    }
    const std::string& snapshot = Current(nowMs);
    if (snapshot == sent_ && nowMs - sentAt_ < feedHeartbeatMs) {
        return;
    }
    server.Broadcast("data: " + snapshot + "\n\n", nowMs);
    sent_ = snapshot;
    sentAt_ = nowMs;
}

HttpResponse Dashboard::Handle(const HttpRequest& request) {
    if (!HostAllowed(request.host)) {
        return Refusal(403, "this dashboard does not answer to the host \"" + request.host +
                                "\"; open it by its address (http://127.0.0.1:" +
                                std::to_string(options_.port) +
                                "/), or start it with --allow-host NAME");
    }
    const bool get = request.method == "GET";
    if (request.path == "/events") {
        return get ? Feed() : Refusal(405, "the live feed is read with GET");
    }
    if (request.path == "/api/status") {
        return get ? Json(Current(now_)) : Refusal(405, "the status is read with GET");
    }
    if (request.path == "/api/settings") {
        return SettingsAnswer(request);
    }
    if (const EmbeddedFile* file = FindEmbeddedFile(request.path)) {
        if (!get) {
            return Refusal(405, "the page's files are read with GET");
        }
        HttpResponse response;
        response.contentType = file->contentType;
        response.headers = pageHeaders;
        response.body.assign(reinterpret_cast<const char*>(file->data), file->size);
        return response;
    }
    return Refusal(404, "no such page here; the dashboard is at /");
}

std::string Dashboard::WriteRefusal(const HttpRequest& request) const {
    if (!options_.changesAllowed) {
        return "changes are off; start the dashboard with --allow-changes to allow them";
    }
    // A browser names the page that sends a write; only this dashboard's own page may.
    if (request.origin != "http://" + request.host ||
        (!request.fetchSite.empty() && request.fetchSite != "same-origin")) {
        return "only the dashboard's own page may change settings";
    }
    if (!SameSecret(request.token, options_.token)) {
        return "the page does not have this start's token; open it with the address the "
               "dashboard printed when it started";
    }
    return "";
}

HttpResponse Dashboard::SettingsAnswer(const HttpRequest& request) {
    if (request.method == "GET") {
        return Json(
            "{\"changesAllowed\":" + std::string(options_.changesAllowed ? "true" : "false") +
            ",\"settings\":" + source_.Settings() + "}");
    }
    if (request.method != "POST") {
        return Refusal(405, "settings are read with GET and changed with POST");
    }
    if (const std::string why = WriteRefusal(request); !why.empty()) {
        return Refusal(403, why);
    }
    if (request.contentType.substr(0, 16) != "application/json") {
        return Refusal(415, "a change is sent as application/json");
    }
    const nlohmann::json change = nlohmann::json::parse(request.body, nullptr, false);
    if (change.is_discarded() || !change.is_object() || !change.contains("name") ||
        !change.contains("value") || !change["name"].is_string() || !change["value"].is_string()) {
        return Refusal(400, "a change is {\"name\": \"...\", \"value\": \"...\"}");
    }
    std::string message;
    const bool done = source_.ChangeSetting(change["name"].get<std::string>(),
                                            change["value"].get<std::string>(), message);
    // A refused value is an answer, not a failed request: the page shows why.
    nlohmann::json answer = {{"ok", done}, {"message", message}};
    return Json(answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

} // namespace tavro::web
