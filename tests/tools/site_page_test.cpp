#include <gtest/gtest.h>

#include <memory>

#include <json/reader.h>
#include <json/writer.h>

#include "device_harness.h"
#include "site_page.h"
#include "temp_work_dir.h"

namespace {

// A site of two units on one line: 101 has had no round yet; 102 completed one with line A
// loaded, feeder 2 carrying current, feeder 5 over its upper limit and feeder 144 opened.
struct PageSite {
    explicit PageSite(const std::string& chart_file = "/nonexistent/chart.min.js") {
        const std::size_t line = status.add_line("line 1 (tcp:127.0.0.1:1502)");
        status.add_unit(line, 1, 101, "line 1 unit 1 (data id 101)");
        status.add_unit(line, 2, 102, "line 1 unit 2 (data id 102)");
        page = std::make_unique<SitePage>(status, 2, PageFiles(PX46_PAGE_DIR, chart_file));
        DeviceHarness h;
        h.set_s32(4, 22987);       // line A voltage 229.87
        h.set_s32(6, 4000);        // line A current 40.00
        h.set_s32(32 + 2, 23010);  // feeder 2 voltage
        h.set_s32(32 + 8, 1250);   // feeder 2 current 12.50
        h.unit.set(7433, 0x0010);  // feeder 5 over upper limit
        h.unit.set(7464, 0x8000);  // feeder 144 opened
        h.unit.set(4246, 3);       // feeder 144 switch state opened
        h.unit.set(4098, 1);       // system total alarm
        h.run_round();
        snapshot = h.device.json_.root();
        status.round_ended(1, {true, false, 0.2, LinkFailure::none, "",
                               std::make_shared<const std::string>(Json::FastWriter().write(snapshot))});
    }
    SiteStatus status;
    std::unique_ptr<SitePage> page;
    Json::Value snapshot;
};

Json::Value parsed(const std::optional<WebReply>& reply) {
    Json::Value value;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reply &&
                reader->parse(reply->body.data(), reply->body.data() + reply->body.size(), &value, &errors))
        << errors;
    return value;
}

// Every path the page serves, and paths next to them that it must not take: another unit, a data
// id written another way, the server's own paths, the page's template, `..`, and files outside
// the list.
TEST(SitePage, ServesItsFixedListOfPathsOnly) {
    TempWorkDir work;
    work.write("chart.min.js", "/* the chart library */");
    const PageSite site((work.path() / "chart.min.js").string());
    const SitePage& page = *site.page;
    EXPECT_TRUE(page.files().missing().empty());
    struct Row {
        const char* path;
        const char* type;  // nullptr: not the page's
    };
    const char* html = "text/html; charset=utf-8";
    const char* script = "text/javascript; charset=utf-8";
    const char* json = "application/json; charset=utf-8";
    const Row rows[] = {
        {"/", html},
        {"/units/102", html},
        {"/units/101", html},
        {"/api/units/102/view", json},
        {"/api/units/101/trend", json},
        {"/assets/site.js", script},
        {"/assets/unit.js", script},
        {"/assets/page.css", "text/css; charset=utf-8"},
        {"/assets/chart.min.js", script},
        {"/units/103", nullptr},
        {"/units/0102", nullptr},
        {"/units/+102", nullptr},
        {"/units/102/", nullptr},
        {"/units/4294967398", nullptr},
        {"/units/", nullptr},
        {"/api/units", nullptr},
        {"/api/units/102", nullptr},
        {"/api/units/102/snapshot", nullptr},
        {"/api/units/103/view", nullptr},
        {"/api/units/102/view/", nullptr},
        {"/assets/../site.js", nullptr},
        {"/assets/", nullptr},
        {"/assets/unit.html", nullptr},
        {"/unit.html", nullptr},
        {"/index.html", nullptr},
        {"/etc/passwd", nullptr},
        {"", nullptr},
    };
    for (const Row& row : rows) {
        const auto reply = page.reply(row.path);
        ASSERT_EQ(reply.has_value(), row.type != nullptr) << row.path;
        if (!reply) continue;
        EXPECT_EQ(reply->status, 200) << row.path;
        EXPECT_EQ(reply->content_type, row.type) << row.path;
        EXPECT_FALSE(reply->body.empty()) << row.path;
    }
    EXPECT_EQ(page.reply("/assets/chart.min.js")->body, "/* the chart library */");
    // The unit page carries its data id, and no mark is left unfilled.
    const std::string unit_page = page.reply("/units/102")->body;
    EXPECT_NE(unit_page.find("data-id=\"102\""), std::string::npos);
    EXPECT_EQ(unit_page.find("@DATA_ID@"), std::string::npos);
    // Without the chart library the page still serves the rest, and says what it lacks.
    const PageSite bare_site;
    const SitePage& bare = *bare_site.page;
    ASSERT_EQ(bare.files().missing().size(), 1u);
    EXPECT_NE(bare.files().missing()[0].find("/nonexistent/chart.min.js"), std::string::npos);
    EXPECT_FALSE(bare.reply("/assets/chart.min.js"));
    EXPECT_TRUE(bare.reply("/assets/unit.js"));
}

TEST(SitePage, UnitDataHoldsTheSnapshotsLinesFeedersAndAlarms) {
    const PageSite site;
    const SitePage& page = *site.page;
    const Json::Value view = parsed(page.reply("/api/units/102/view"));
    EXPECT_EQ(view["data_id"].asUInt(), 102u);
    EXPECT_EQ(view["state"].asString(), "completed");
    EXPECT_TRUE(view["data_age_seconds"].isNumeric());
    ASSERT_EQ(view["lines"].size(), 2u);
    EXPECT_EQ(view["lines"][0]["line"].asString(), "A");
    EXPECT_EQ(view["lines"][0]["voltage"].asDouble(), site.snapshot["A路进线-电压"].asDouble());
    EXPECT_EQ(view["lines"][0]["current"].asDouble(), site.snapshot["A路路进线-电流"].asDouble());
    EXPECT_EQ(view["lines"][1]["line"].asString(), "B");
    // Those not normal first, in feeder order, then those carrying current.
    const Json::Value& rows = view["feeders"]["rows"];
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]["feeder"].asInt(), 5);
    EXPECT_EQ(rows[0]["alarms"][0].asString(), "越上线");
    EXPECT_EQ(rows[1]["feeder"].asInt(), 144);
    EXPECT_EQ(rows[1]["switch"].asString(), "分闸");
    EXPECT_EQ(rows[2]["feeder"].asInt(), 2);
    EXPECT_TRUE(rows[2]["normal"].asBool());
    EXPECT_EQ(view["feeders"]["not_normal"].asInt(), 2);
    EXPECT_EQ(view["feeders"]["idle"].asInt(), 141);
    bool total_alarm = false;
    for (const auto& name : view["alarms"]) total_alarm = total_alarm || name.asString() == "系统总告警状态";
    EXPECT_TRUE(total_alarm) << view["alarms"];

    // A unit without a round yet: its state, no age, no values.
    const Json::Value waiting = parsed(page.reply("/api/units/101/view"));
    EXPECT_EQ(waiting["state"].asString(), "waiting");
    EXPECT_TRUE(waiting["data_age_seconds"].isNull());
    EXPECT_FALSE(waiting["has_snapshot"].asBool());
    EXPECT_TRUE(waiting["lines"][0]["voltage"].isNull());
    EXPECT_EQ(waiting["feeders"]["rows"].size(), 0u);
}

TEST(SitePage, TrendDataHoldsTheRingsPointsPerSeries) {
    const PageSite site;
    const SitePage& page = *site.page;
    const Json::Value trend = parsed(page.reply("/api/units/102/trend"));
    ASSERT_EQ(trend["time_ms"].size(), 1u);
    EXPECT_EQ(trend["spacing_seconds"].asDouble(), 5.0);
    EXPECT_EQ(trend["capacity"].asUInt(), 720u);
    ASSERT_EQ(trend["series"].size(), kTrendSeriesCount);
    EXPECT_EQ(trend["series"][0]["member"].asString(), "A路进线-电压");
    EXPECT_EQ(trend["values"]["voltage_a"][0].asDouble(), site.snapshot["A路进线-电压"].asDouble());
    EXPECT_LE(trend["time_ms"][0].asInt64(), trend["now_ms"].asInt64());
    EXPECT_EQ(parsed(page.reply("/api/units/101/trend"))["time_ms"].size(), 0u);
}

}  // namespace
