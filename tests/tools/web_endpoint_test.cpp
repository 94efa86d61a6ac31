#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "metrics_exposition.h"
#include "request_routing.h"
#include "site_status.h"
#include "units_api.h"

namespace {

using Clock = std::chrono::system_clock;

// A snapshot of a few members: two numbers, an alarm that is active and a state that is not.
const std::string kSnapshot =
    "{\"A路进线-电压\": 230.25, \"环境湿度\": 41.5, \"A路进线总开关状态\": \"告警\", "
    "\"B路进线总开关状态\": \"正常\", \"更新时间\": \"2026-1-2 3:04:05\"}";

// A site of one line with two units: the first with a completed round (0.3 s, its snapshot
// kept) and a failed one (12 s), the second with none yet. Its data id is the highest the host
// gives.
struct TwoUnits {
    SiteStatus status;
    TwoUnits() {
        status.keep_snapshots();
        const std::size_t line = status.add_line("line 1 (tcp:10.0.0.7:502) \"east\\hall\"");
        status.add_unit(line, 3, 101, "line 1 unit 3 (data id 101)");
        status.add_unit(line, 4, 4294967295u, "line 1 unit 4 (data id 4294967295)");
        status.round_ended(
            0, {true, false, 0.3, LinkFailure::none, "", std::make_shared<const std::string>(kSnapshot)});
        status.round_ended(0, {false, false, 12, LinkFailure::timeout, "no reply", nullptr});
        LinkCounters counters;
        counters.requests = 124;
        counters.failures = 1;
        counters.retries = 2;
        counters.busy_retries = 3;
        counters.reconnects = 4;
        status.line_counters(line, counters);
    }
};

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(WebRouting, OnlyReadsOfServedPathsReachAHandler) {
    int calls = 0;
    const std::vector<WebHandler> handlers = {[&calls](const std::string& path) -> std::optional<WebReply> {
                                                  ++calls;
                                                  if (path == "/fails") throw std::runtime_error("broken");
                                                  if (path == "/a" || path == "/..a" || path == "/a/b..")
                                                      return WebReply{200, "text/plain", path};
                                                  return std::nullopt;
                                              },
                                              [](const std::string& path) -> std::optional<WebReply> {
                                                  if (path == "/b")
                                                      return WebReply{200, "text/plain", "second"};
                                                  return std::nullopt;
                                              }};
    const struct {
        const char* method;
        const char* path;
        int status;
        const char* body;  // the start of the reply's body
    } rows[] = {
        {"GET", "/a", 200, "/a"},
        {"HEAD", "/a", 200, "/a"},
        {"GET", "/b", 200, "second"},  // the second handler, after the first declined
        {"GET", "/..a", 200, "/..a"},  // a name that begins with two dots is no parent
        {"GET", "/a/b..", 200, "/a/b.."},
        {"GET", "/c", 404, "not found"},
        {"GET", "/..", 404, "not found"},
        {"GET", "/b/..", 404, "not found"},
        {"GET", "/../a", 404, "not found"},
        {"GET", "/x/../a", 404, "not found"},  // would be /a once cleaned: refused as sent
        {"GET", "a", 404, "not found"},
        {"GET", "", 404, "not found"},
        {"POST", "/a", 405, "read-only"},
        {"PUT", "/a", 405, "read-only"},
        {"DELETE", "/a", 405, "read-only"},
        {"get", "/a", 405, "read-only"},
        {"GET", "/fails", 500, "internal error: broken"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + row.path);
        const WebReply reply = route_request(row.method, row.path, handlers);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.body.rfind(row.body, 0), 0u) << reply.body;
    }
    EXPECT_EQ(calls, 7) << "handlers see GET and HEAD of paths without a parent segment only";
    EXPECT_TRUE(reply_without_body("HEAD"));
    EXPECT_FALSE(reply_without_body("GET"));
}

TEST(MetricsExposition, LabelValuesEscapeWhatTheFormatReserves) {
    const struct {
        std::string value;
        std::string escaped;
    } rows[] = {
        {"plain", "plain"},
        {"a\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"two\nlines", "two\\nlines"},
        {"A路进线-电压", "A路进线-电压"},
        {"tab\tstays", "tab\tstays"},
    };
    for (const auto& row : rows) EXPECT_EQ(escape_label_value(row.value), row.escaped) << row.value;
}

TEST(MetricsExposition, EveryFamilyOfAUnitAndItsLine) {
    TwoUnits site;
    const std::string text = metrics_text(site.status, Clock::now());
    const std::string first =
        "line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\",unit=\"3\",data_id=\"101\"";
    const std::string second =
        "line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\",unit=\"4\",data_id=\"4294967295\"";
    const std::string lines[] = {
        "# TYPE px46tr_k_signal gauge",
        "px46tr_k_signal{" + first + ",signal=\"A路进线-电压\"} 230.25",
        "px46tr_k_signal{" + first + ",signal=\"环境湿度\"} 41.5",
        "# TYPE px46tr_k_alarm_active gauge",
        "px46tr_k_alarm_active{" + first + ",alarm=\"A路进线总开关状态\"} 1",
        "px46tr_k_alarm_active{" + first + ",alarm=\"B路进线总开关状态\"} 0",
        "# TYPE px46tr_k_rounds_total counter",
        "px46tr_k_rounds_total{" + first + ",result=\"completed\"} 1",
        "px46tr_k_rounds_total{" + first + ",result=\"failed\"} 1",
        "px46tr_k_rounds_total{" + second + ",result=\"completed\"} 0",
        "# TYPE px46tr_k_round_duration_seconds histogram",
        "px46tr_k_round_duration_seconds_bucket{" + first + ",le=\"0.25\"} 0",
        "px46tr_k_round_duration_seconds_bucket{" + first + ",le=\"0.5\"} 1",
        "px46tr_k_round_duration_seconds_bucket{" + first + ",le=\"10\"} 1",
        "px46tr_k_round_duration_seconds_bucket{" + first + ",le=\"30\"} 2",
        "px46tr_k_round_duration_seconds_bucket{" + first + ",le=\"+Inf\"} 2",
        "px46tr_k_round_duration_seconds_sum{" + first + "} 12.3",
        "px46tr_k_round_duration_seconds_count{" + first + "} 2",
        "px46tr_k_round_duration_seconds_bucket{" + second + ",le=\"+Inf\"} 0",
        "# TYPE px46tr_k_data_age_seconds gauge",
        "px46tr_k_link_requests_total{line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\"} 124",
        "px46tr_k_link_failures_total{line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\"} 1",
        "px46tr_k_link_retries_total{line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\"} 2",
        "px46tr_k_link_busy_retries_total{line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\"} 3",
        "px46tr_k_link_reconnects_total{line=\"line 1 (tcp:10.0.0.7:502) \\\"east\\\\hall\\\"\"} 4",
    };
    for (const auto& line : lines) EXPECT_TRUE(has_line(text, line)) << line << "\n" << text;
    EXPECT_NE(text.find("px46tr_k_data_age_seconds{" + first + "} "), std::string::npos);
    EXPECT_EQ(text.find("px46tr_k_data_age_seconds{" + second + "}"), std::string::npos)
        << "no age before the first completed round";
    EXPECT_EQ(text.find("更新时间"), std::string::npos) << "the round stamp is text, not a signal";
    EXPECT_EQ(text.find("signal{" + second), std::string::npos) << "no snapshot, no signals";
}

TEST(UnitsApi, ListsEveryUnitAndServesItsSnapshotAsWritten) {
    TwoUnits site;
    const WebHandler handler = units_api_handler(site.status);
    const auto list = handler("/api/units");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->status, 200);
    EXPECT_EQ(list->content_type, "application/json; charset=utf-8");
    Json::Value units;
    Json::CharReaderBuilder builder;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    ASSERT_TRUE(reader->parse(list->body.data(), list->body.data() + list->body.size(), &units, &errors))
        << list->body;
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0]["line"].asString(), "line 1 (tcp:10.0.0.7:502) \"east\\hall\"");
    EXPECT_EQ(units[0]["unit"].asInt(), 3);
    EXPECT_EQ(units[0]["data_id"].asUInt(), 101u);
    EXPECT_EQ(units[0]["state"].asString(), "failed");
    EXPECT_GE(units[0]["data_age_seconds"].asDouble(), 0);
    EXPECT_EQ(units[0]["active_alarms"].asInt(), 1);
    EXPECT_EQ(units[0]["active_alarm_names"][0].asString(), "A路进线总开关状态");
    EXPECT_EQ(units[0]["rounds_completed"].asInt(), 1);
    EXPECT_EQ(units[0]["rounds_failed"].asInt(), 1);
    EXPECT_EQ(units[0]["last_error"].asString(), "no reply");
    EXPECT_EQ(units[1]["data_id"].asUInt(), 4294967295u);
    EXPECT_EQ(units[1]["state"].asString(), "waiting");
    EXPECT_TRUE(units[1]["data_age_seconds"].isNull());
    EXPECT_EQ(units[1]["active_alarms"].asInt(), 0);

    const struct {
        const char* path;
        int status;  // 0: not this handler's path
        std::string body;
    } rows[] = {
        {"/api/units/101/snapshot", 200, kSnapshot},
        {"/api/units/4294967295/snapshot", 404, "no snapshot of data id 4294967295 yet"},
        {"/api/units/102/snapshot", 404, "no unit with data id 102"},
        {"/api/units/4294967296/snapshot", 0, ""},
        {"/api/units/-1/snapshot", 0, ""},
        {"/api/units/101", 0, ""},
        {"/api/units/101/snapshot/x", 0, ""},
        {"/api/units/", 0, ""},
        {"/api", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const auto reply = handler(row.path);
        ASSERT_EQ(reply.has_value(), row.status != 0);
        if (!reply) continue;
        EXPECT_EQ(reply->status, row.status);
        EXPECT_EQ(reply->body.rfind(row.body, 0), 0u) << reply->body;
    }
}

}  // namespace
