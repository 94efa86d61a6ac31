#include <gtest/gtest.h>

#include <sstream>

#include "catalogue/register_map.h"
#include "catalogue/signal_catalogue.h"
#include "device_harness.h"
#include "live_view.h"

namespace {

// A unit with line A loaded, feeder 5 over its upper limit, feeder 144 opened and feeder 2
// carrying current with nothing wrong.
ViewFrame fixed_scenario_frame() {
    DeviceHarness h;
    h.set_s32(4, 22987);       // line A voltage 229.87
    h.set_s32(6, 4000);        // line A current 40.00
    h.set_s32(8, 9200);        // line A power 9.2
    h.set_s32(10, 1234567);    // line A energy 123.4567
    h.set_s32(16, 4500);       // line A load ratio 45.00
    h.set_s32(32 + 2, 23010);  // feeder 2 voltage
    h.set_s32(32 + 8, 1250);   // feeder 2 current 12.50
    h.set_s32(32 + 20, 287);   // feeder 2 power 2.87
    h.set_s32(32 + 32, 3125);  // feeder 2 load ratio 31.25
    h.unit.set(7433, 0x0010);  // feeder 5 over upper limit
    h.unit.set(7464, 0x8000);  // feeder 144 opened
    h.unit.set(4246, 3);       // feeder 144 switch state opened
    h.unit.set(4098, 1);       // system total alarm
    h.unit.set(4247, 235);     // 23.5 °C
    h.unit.set(4248, 450);     // 45.0 %RH
    h.run_round();
    ViewFrame frame;
    frame.round = 3;
    frame.profile = 1;
    frame.snapshot = h.device.json_.root();
    frame.reports = {{"0418101001", "active", "系统总告警状态"},
                     {"0418102001", "clear", "出线支路05电流越上线"}};
    return frame;
}

TEST(LiveView, RendersTheFixedScenario) {
    const std::string expected =
        "px46tr_k  round 3  profile 1  2026-12-07T15:03:21\n"
        "round completed\n"
        "Line     Voltage    Current      Power        Energy   Load%\n"
        "A        229.87      40.00      9.200       123.457   45.00\n"
        "B          0.00       0.00      0.000         0.000    0.00\n"
        "Ambient 23.5 °C  45.0 %RH\n"
        "Feeders: 2 not normal, 1 carrying current, 141 idle\n"
        "  No  Voltage  Current    Power   Load%  Switch  Alarms\n"
        "   5     0.00     0.00     0.00    0.00  正常    越上线\n"
        " 144     0.00     0.00     0.00    0.00  分闸    分闸\n"
        "   2   230.10    12.50     2.87   31.25  正常\n"
        "Active alarms: 3\n"
        "  系统总告警状态\n"
        "  出线支路05电流越上线\n"
        "  出线支路144开关分闸\n"
        "Reports this round: 2\n"
        "  0418101001              active        系统总告警状态\n"
        "  0418102001              clear         出线支路05电流越上线\n";
    EXPECT_EQ(render_view(fixed_scenario_frame()), expected);
}

TEST(LiveView, NoLineIsWiderThanEightyColumns) {
    ViewFrame frame = fixed_scenario_frame();
    frame.reports.push_back(
        {std::string(40, 'x'), "value 123456789.12", "出线支路144电流越上上线出线支路144电流越上上线"});
    std::istringstream lines(render_view(frame));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(display_width(line), 80u) << line;
    }
}

TEST(LiveView, ShortScreenKeepsTheHeaderAndTheFeedersThatAreNotNormal) {
    DeviceHarness h;
    for (int n = 1; n <= 40; ++n) {
        h.set_s32(px46tr_k::register_at(px46tr_k::feeder_field_offset(n, 12)), n == 20 ? 900 : 500);
    }
    h.unit.set(4102 + 33, 3);       // feeder 33 opened
    h.unit.set(7424 + 9, 1u << 6);  // flag 150: feeder 7 over its upper limit
    h.run_round();
    ViewFrame frame;
    frame.round = 12;
    frame.snapshot = h.device.json_.root();
    frame.completed = false;
    frame.stop_cause =
        "at step 12 of 62 (read 4096+7 on tcp:10.0.0.7:502 unit 1: no reply from unit 1 within 1 s)";
    for (int i = 0; i < 30; ++i) frame.reports.push_back({"0418101001", "active", "系统总告警状态"});
    frame.screen_rows = 24;
    const std::string view = render_view(frame);
    std::istringstream lines(view);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    EXPECT_LT(all.size(), 24u) << view;
    EXPECT_EQ(all.at(0).rfind("px46tr_k  round", 0), 0u) << view;
    EXPECT_NE(view.find("ROUND NOT COMPLETED at step 12"), std::string::npos) << view;
    EXPECT_NE(view.find("Feeders: 2 not normal, 38 carrying current, 104 idle\n"), std::string::npos) << view;
    EXPECT_NE(view.find("\n  20     0.00     9.00"), std::string::npos) << "the most loaded next\n" << view;
    EXPECT_NE(view.find(" more reports\n"), std::string::npos) << view;
    EXPECT_NE(view.find("   7     0.00     5.00     0.00    0.00  正常    越上线\n"), std::string::npos)
        << view;
    EXPECT_NE(view.find("  33     0.00     5.00     0.00    0.00  分闸\n"), std::string::npos) << view;
    EXPECT_NE(view.find(" more feeders"), std::string::npos) << view;
    frame.screen_rows = 0;
    EXPECT_NE(render_view(frame).find("  40     0.00     5.00"), std::string::npos)
        << "no limit off a terminal";
}

TEST(LiveView, DisplayWidthCountsChineseAsTwo) {
    EXPECT_EQ(display_width("abc"), 3u);
    EXPECT_EQ(display_width("分闸"), 4u);
    EXPECT_EQ(display_width("出线支路05"), 10u);
    EXPECT_EQ(display_width("°C"), 2u);
}

TEST(LiveView, ReportsNameTheIdentifierUnderEachProfile) {
    const std::string id = "ID1", alarm = "系统总告警状态", signal = "环境温度", rule = "T001";
    ViewReportKeeper unit_keeper(1);
    unit_keeper.on_check_threshold_bool({2, id, id, alarm, alarm, true, 1});
    unit_keeper.on_send_sp({5156, nullptr, 0, false});
    const auto unit = unit_keeper.take();
    ASSERT_EQ(unit.size(), 1u);
    EXPECT_EQ(unit[0].identifier, "ID1");
    EXPECT_EQ(unit[0].state, "active");
    EXPECT_EQ(unit[0].name, "系统总告警状态");
    EXPECT_TRUE(unit_keeper.take().empty()) << "a round's reports are shown once";

    ViewReportKeeper group_keeper(5);
    group_keeper.on_check_threshold_bool({2, signal, rule, "36", "当前值36高于阈值:35", false, 1});
    group_keeper.on_check_ao_report({"AI0123456789", 229.87f});
    const auto group = group_keeper.take();
    ASSERT_EQ(group.size(), 2u);
    EXPECT_EQ(group[0].identifier, "T001");
    EXPECT_EQ(group[0].state, "clear");
    EXPECT_EQ(group[0].name, "环境温度");
    EXPECT_EQ(group[1].state, "value 229.87");
}

TEST(LiveView, WithoutSnapshotSaysWhy) {
    ViewFrame frame;
    frame.round = 1;
    frame.profile = 2;
    EXPECT_NE(render_view(frame).find("no snapshot (the profile builds none)"), std::string::npos);
    // A link that is down: the failed step, not the profile, and the age of the data kept.
    frame.completed = false;
    frame.stop_cause = "at step 1 of 62 (read 0+32 on tcp:127.0.0.1:15999 unit 1: cannot connect)";
    const std::string dead = render_view(frame);
    EXPECT_EQ(dead.find("no snapshot"), std::string::npos) << dead;
    EXPECT_NE(dead.find("ROUND NOT COMPLETED at step 1 of 62 (read 0+32 on tcp:127.0.0.1:15999 unit 1:\n"
                        "  cannot connect); no data: no round has completed yet\n"),
              std::string::npos)
        << dead;
    frame.now = 1000;
    frame.data_time = 960;
    frame.snapshot = fixed_scenario_frame().snapshot;
    EXPECT_NE(render_view(frame).find(", 40 s old\n"), std::string::npos) << render_view(frame);
}

}  // namespace
