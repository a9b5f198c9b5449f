// The dashboard's answers: which hosts it answers to, and what a write needs.
#include "web/Dashboard.h"

#include <gtest/gtest.h>

namespace tavro::web {
namespace {

class RecordingSource final : public StatusSource {
public:
    std::string Snapshot() override {
        ++snapshots;
        return "{\"hub\":\"running\"}";
    }
    bool ChangeSetting(const std::string& name, const std::string& value,
                       std::string& message) override {
        changes.push_back(name + "=" + value);
        message = "stored";
        return name != "Bad";
    }
    int snapshots = 0;
    std::vector<std::string> changes;
};

DashboardOptions Options(bool changes) {
    DashboardOptions options;
    options.port = 10111;
    options.hostNames = {"localhost", "boat.local"};
    options.changesAllowed = changes;
    options.token = "0123456789abcdef";
    return options;
}

TEST(Dashboard, AnswersOnlyToItsOwnHostAndPort) {
    RecordingSource source;
    const Dashboard dashboard(source, Options(false));
    for (const char* host : {"127.0.0.1:10111", "192.168.1.4:10111", "[::1]:10111",
                             "localhost:10111", "BOAT.local:10111"}) {
        EXPECT_TRUE(dashboard.HostAllowed(host)) << host;
    }
    for (const char* host : {"evil.example:10111", "127.0.0.1:8080", "127.0.0.1", "",
                             "localhost.evil.example:10111", "1.2.3.4.evil:10111", "[::1]"}) {
        EXPECT_FALSE(dashboard.HostAllowed(host)) << host;
    }
}

HttpRequest Write(const char* origin, const char* token, const char* body) {
    HttpRequest request;
    request.method = "POST";
    request.path = "/api/settings";
    request.host = "127.0.0.1:10111";
    request.origin = origin;
    request.token = token;
    request.contentType = "application/json";
    request.body = body;
    return request;
}

TEST(Dashboard, WritesNeedTheSettingTheOriginAndTheToken) {
    RecordingSource source;
    const char* change = R"({"name":"TCP Port","value":"10110"})";
    const char* own = "http://127.0.0.1:10111";
    EXPECT_EQ(
        Dashboard(source, Options(false)).Handle(Write(own, "0123456789abcdef", change)).status,
        403);
    Dashboard dashboard(source, Options(true));
    EXPECT_EQ(dashboard.Handle(Write("http://evil.example", "0123456789abcdef", change)).status,
              403);
    EXPECT_EQ(dashboard.Handle(Write(own, "0123456789abcdeX", change)).status, 403);
    EXPECT_EQ(dashboard.Handle(Write(own, "", change)).status, 403);
    EXPECT_EQ(dashboard.Handle(Write(own, "0123456789abcdef", "{\"name\":1}")).status, 400);
    EXPECT_TRUE(source.changes.empty());
    EXPECT_NE(dashboard.Handle(Write(own, "0123456789abcdef", change)).body.find("\"ok\":true"),
              std::string::npos);
    const HttpResponse refused =
        dashboard.Handle(Write(own, "0123456789abcdef", R"({"name":"Bad","value":"1"})"));
    EXPECT_EQ(refused.status, 200);
    EXPECT_NE(refused.body.find("\"ok\":false"), std::string::npos);
    EXPECT_EQ(source.changes, (std::vector<std::string>{"TCP Port=10110", "Bad=1"}));
}

TEST(Dashboard, ServesThePageAndRefusesTheRest) {
    RecordingSource source;
    Dashboard dashboard(source, Options(false));
    HttpRequest request;
    request.method = "GET";
    request.host = "localhost:10111";
    request.path = "/";
    const HttpResponse page = dashboard.Handle(request);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>Tavro</title>"), std::string::npos);
    EXPECT_NE(page.headers.find("Content-Security-Policy"), std::string::npos);
    request.path = "/../etc/passwd";
    EXPECT_EQ(dashboard.Handle(request).status, 404);
    request.path = "/events";
    request.method = "DELETE";
    EXPECT_EQ(dashboard.Handle(request).status, 405);
    request.host = "evil.example:10111";
    request.method = "GET";
    EXPECT_EQ(dashboard.Handle(request).status, 403);
}

} // namespace
} // namespace tavro::web
