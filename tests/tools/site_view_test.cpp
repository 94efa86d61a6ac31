#include <gtest/gtest.h>

#include <json/writer.h>

#include <sstream>

#include "catalogue/register_map.h"
#include "device_harness.h"
#include "site_view.h"
#include "site_view_frame.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A unit with the system alarm, 20 feeder alarms and 40 feeders carrying current: more than a
// site's view has rows for.
Json::Value busy_snapshot() {
    DeviceHarness h;
    for (int n = 1; n <= 40; ++n) h.set_s32(px46tr_k::register_at(px46tr_k::feeder_field_offset(n, 12)), 500);
    for (int reg = 7424; reg < 7434; ++reg) h.unit.set(reg, 0x0101);  // feeders over their limits
    h.unit.set(4098, 1);                                              // system total alarm
    h.run_round();
    return h.device.json_.root();
}

SiteViewUnit unit_row(std::size_t line, int unit, unsigned data_id, const char* state) {
    SiteViewUnit u;
    u.line = line;
    u.unit = unit;
    u.data_id = data_id;
    u.state = state;
    return u;
}

TEST(SiteView, RendersUnitsAndLineCounters) {
    SiteViewFrame frame;
    frame.now = 100000;
    frame.lines.resize(2);
    frame.lines[0].requests = 186;
    frame.lines[0].failures = 2;
    frame.lines[0].retries = 2;
    frame.lines[0].reconnects = 1;
    frame.units = {unit_row(0, 1, 101, "completed"), unit_row(0, 2, 4294967295u, "back-off"),
                   unit_row(1, 247, 201, "waiting")};
    frame.units[0].data_time = frame.now - 3;
    frame.units[0].active_alarms = 12;
    frame.units[1].data_time = frame.now - 7300;
    frame.units[1].last_failure =
        "read 0+4 on tcp:127.0.0.1:1502 unit 2: no reply from unit 2 within 1 s, check the unit id";
    frame.detail.title = "line 1 unit 2 (data id 4294967295)";
    frame.detail.round = 5;
    frame.detail.completed = false;
    frame.detail.stop_cause = "(" + frame.units[1].last_failure + ")";
    frame.detail.show_reports = false;
    const std::string view = render_site_view(frame);
    const auto lines = lines_of(view);
    ASSERT_GE(lines.size(), 8u) << view;
    EXPECT_EQ(lines[0], fit_to_width("Line Unit    Data id  State        Age Alarms  Last failure", 72) +
                            local_clock_text(frame.now));
    const std::vector<std::string> expected = {
        "   1    1        101  completed    3 s     12",
        "   1    2 4294967295  back-off     2 h      0  no reply from unit 2 within 1 s,",
        "   2  247        201  waiting        -      0",
        "line 1  requests 186  failures 2  retries 2  busy retries 0  reconnects 1",
        "line 2  requests 0  failures 0  retries 0  busy retries 0  reconnects 0",
        "line 1 unit 2 (data id 4294967295)  round 5  profile 1  -",
        "ROUND NOT COMPLETED (read 0+4 on tcp:127.0.0.1:1502 unit 2: no reply from unit 2"};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines.at(i + 1), expected[i]) << view;
    EXPECT_EQ(view.find("Reports this round"), std::string::npos) << "a site keeps no reports\n" << view;
}

TEST(SiteView, EightUnitsOnTwoLinesFitEightyByTwentyFour) {
    SiteViewFrame frame;
    frame.now = 100000;
    frame.lines.resize(2);
    frame.lines[0].requests = 123456789;
    frame.lines[0].busy_retries = 123456789;
    for (int i = 0; i < 8; ++i) {
        SiteViewUnit u = unit_row(static_cast<std::size_t>(i / 4), 1 + i % 4, 4000000000u + i, "failed");
        u.last_failure =
            "write 4096+7 on rtu:/dev/ttyUSB0 9600 8N1 unit 3: 出线支路144开关分闸出线支路144开关分闸";
        u.active_alarms = 1400;
        u.data_time = frame.now - 5;
        frame.units.push_back(u);
    }
    frame.detail.title = "line 2 unit 4 (data id 4000000007)";
    frame.detail.round = 3;
    frame.detail.snapshot = busy_snapshot();
    frame.detail.data_time = frame.now - 5;
    frame.detail.now = frame.now;
    frame.detail.show_reports = false;
    frame.screen_rows = 24;
    const std::string view = render_site_view(frame);
    const auto lines = lines_of(view);
    EXPECT_LE(lines.size(), 24u) << view;
    for (const auto& line : lines) EXPECT_LE(display_width(line), 80u) << line;
    for (const auto& u : frame.units)
        EXPECT_NE(view.find(std::to_string(u.data_id)), std::string::npos) << view;
    EXPECT_NE(view.find("\nline 2 unit 4 (data id 4000000007)  round 3"), std::string::npos) << view;
    EXPECT_NE(view.find("\nActive alarms: "), std::string::npos) << view;
    EXPECT_NE(view.find(" more alarms\n"), std::string::npos) << "the detail is cut to the rows left\n"
                                                              << view;
}

TEST(SiteView, ShortScreenListsTheUnitsThatCallForALookFirst) {
    SiteViewFrame frame;
    frame.lines.resize(1);
    for (int i = 0; i < 20; ++i) frame.units.push_back(unit_row(0, i + 1, 100u + i, "completed"));
    frame.units[17].state = "back-off";
    frame.units[17].attention = true;
    frame.screen_rows = 24;
    const std::string view = render_site_view(frame);
    EXPECT_LE(lines_of(view).size(), 24u) << view;
    EXPECT_NE(view.find("        117  back-off"), std::string::npos) << view;
    EXPECT_NE(view.find("        100  completed"), std::string::npos) << view;
    EXPECT_EQ(view.find("        119  completed"), std::string::npos) << view;
    EXPECT_NE(view.find("  ... 11 more units (a taller window shows them)\n"), std::string::npos) << view;
}

// A status of three units on one line, the second in back-off after a completed round.
struct FollowedSite {
    FollowedSite() {
        status.keep_snapshots();
        const std::size_t line = status.add_line("line 1 (tcp:127.0.0.1:1502)");
        for (int u = 1; u <= 3; ++u) {
            status.add_unit(
                line, u, 100u + static_cast<unsigned>(u),
                "line 1 unit " + std::to_string(u) + " (data id " + std::to_string(100 + u) + ")");
        }
        const auto quiet = std::make_shared<const std::string>("{}");
        for (std::size_t u = 0; u < 3; ++u)
            status.round_ended(u, {true, false, 0.1, LinkFailure::none, "", quiet});
        status.round_ended(
            1, {false, true, 2.0, LinkFailure::timeout,
                "read 0+4 on tcp:127.0.0.1:1502 unit 2: no reply from unit 2 within 1 s", nullptr});
    }
    SiteStatus status;
};

TEST(SiteViewFrame, DetailIsTheAskedUnitElseTheFirstThatCallsForALook) {
    FollowedSite site;
    const std::map<unsigned int, int> profiles = {{102, 3}};
    auto frame = site_view_frame(site.status, std::nullopt, profiles, 1000);
    ASSERT_EQ(frame.units.size(), 3u);
    EXPECT_EQ(frame.units[1].state, "back-off");
    EXPECT_TRUE(frame.units[1].attention);
    EXPECT_EQ(frame.detail.title, "line 1 unit 2 (data id 102)");
    EXPECT_EQ(frame.detail.profile, 3);
    EXPECT_EQ(frame.detail.round, 2);
    EXPECT_FALSE(frame.detail.completed);
    EXPECT_TRUE(frame.detail.data_time.has_value()) << "the data of its completed round";
    EXPECT_TRUE(frame.detail.snapshot.isObject()) << "the snapshot of its completed round";

    // Polled again, it keeps the detail: the outcome of its last round, not the round on the wire.
    site.status.round_started(1);
    frame = site_view_frame(site.status, std::nullopt, profiles, 1000);
    EXPECT_EQ(frame.units[1].state, "polling");
    EXPECT_EQ(frame.detail.title, "line 1 unit 2 (data id 102)");

    frame = site_view_frame(site.status, 103u, profiles, 1000);
    EXPECT_EQ(frame.detail.title, "line 1 unit 3 (data id 103)");
    EXPECT_TRUE(frame.detail.completed);
    EXPECT_EQ(frame.detail.profile, 1) << "a unit without a profile runs the default";

    // A unit with active alarms calls for a look too, after one whose rounds fail.
    const Json::Value alarmed = busy_snapshot();
    site.status.round_ended(
        0, {true, false, 0.1, LinkFailure::none, "",
            std::make_shared<const std::string>(Json::writeString(Json::StreamWriterBuilder(), alarmed))});
    frame = site_view_frame(site.status, std::nullopt, profiles, 1000);
    EXPECT_EQ(frame.units[0].active_alarms, active_alarms(alarmed).size());
    EXPECT_GT(frame.units[0].active_alarms, 0u);
    EXPECT_TRUE(frame.units[0].attention);
    EXPECT_EQ(frame.detail.title, "line 1 unit 2 (data id 102)");
    site.status.round_ended(1, {true, false, 0.1, LinkFailure::none, "", nullptr});
    frame = site_view_frame(site.status, std::nullopt, profiles, 1000);
    EXPECT_EQ(frame.detail.title, "line 1 unit 1 (data id 101)");
}

TEST(SiteViewFrame, WithNothingToLookAtTheFirstUnitBeforeAnyRound) {
    SiteStatus status;
    status.add_line("line 1 (tcp:127.0.0.1:1502)");
    status.add_unit(0, 7, 700, "line 1 unit 7 (data id 700)");
    status.add_unit(0, 8, 800, "line 1 unit 8 (data id 800)");
    const auto frame = site_view_frame(status, std::nullopt, {}, 1000);
    EXPECT_EQ(frame.detail.title, "line 1 unit 7 (data id 700)");
    const std::string view = render_site_view(frame);
    EXPECT_NE(view.find("line 1 unit 7 (data id 700)  round 0  profile 1  -\nno round has ended yet\n"),
              std::string::npos)
        << view;
    EXPECT_EQ(view.find("no snapshot"), std::string::npos) << view;
}

}  // namespace
