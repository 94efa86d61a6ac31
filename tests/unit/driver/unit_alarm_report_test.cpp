#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/signal_catalogue.h"
#include "device_harness.h"
#include "temp_work_dir.h"

namespace {

struct Report {
    std::string id;
    std::string name;
    bool active;
    unsigned serial;
    bool operator==(const Report& o) const {
        return id == o.id && name == o.name && active == o.active && serial == o.serial;
    }
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "{" << r.id << ", " << r.name << ", " << r.active << ", " << r.serial << "}";
}

// The CheckThresholdBool calls of the harness, checked for their fixed shape: level 2, the
// identifier twice, the name twice.
std::vector<Report> reports(const DeviceHarness& h) {
    std::vector<Report> out;
    for (const auto& call : h.calls.named("CheckThresholdBool")) {
        const Json::Value& a = call.args;
        EXPECT_EQ(a[0].asInt(), 2);
        EXPECT_EQ(a[1], a[2]);
        EXPECT_EQ(a[3], a[4]);
        out.push_back(Report{a[1].asString(), a[3].asString(), a[5].asBool(), a[6].asUInt()});
    }
    return out;
}

void set_flag(DeviceHarness& h, int first_register, int flag) {
    const int reg = first_register + flag / 16;
    h.unit.set(reg, static_cast<std::uint16_t>(h.unit.get(reg) | (1u << (flag % 16))));
}

constexpr int kFeederAlarmBits = 7424;
constexpr int kFeederOpenBits = 7456;

TEST(UnitAlarms, EveryAlarmInReportOrderWithItsStateAndTheNextSerial) {
    DeviceHarness h;
    const auto& alarms = px46tr_k::reportable_alarms();
    ASSERT_EQ(alarms.size(), 457u);
    for (std::size_t i = 0; i < alarms.size(); ++i)
        h.device.alarm_configuration().alarm_rules_[alarms[i].name] = "ID" + std::to_string(i);
    std::mt19937 random(7);
    for (int reg = 4096; reg <= 4102; ++reg) h.unit.set(reg, static_cast<std::uint16_t>(random() % 3));
    for (int reg = 7424; reg <= 7465; ++reg) h.unit.set(reg, static_cast<std::uint16_t>(random()));
    h.run_round();
    const auto got = reports(h);
    ASSERT_EQ(got.size(), 457u);
    for (std::size_t i = 0; i < alarms.size(); ++i) {
        EXPECT_EQ(got[i], (Report{"ID" + std::to_string(i), alarms[i].name,
                                  px46tr_k::alarm_active(alarms[i], h.device.round_record().data_),
                                  static_cast<unsigned>(i + 1)}));
    }
    EXPECT_EQ(got[0].name, "系统总告警状态");
    EXPECT_EQ(got[1].name, "出线支路01电流越上线");
    EXPECT_EQ(got[145].name, "出线支路01电流越上上线");
    EXPECT_EQ(got[289].name, "A路进线总开关开关告警");
    EXPECT_EQ(got[312].name, "进线电压欠压");
    EXPECT_EQ(got[313].name, "出线支路01开关分闸");
    EXPECT_EQ(got[456].name, "出线支路144开关分闸");
    EXPECT_EQ(h.device.check_seq_, 458);
}

TEST(UnitAlarms, OnlyConfiguredAlarmsTakeSerials) {
    DeviceHarness h;
    h.device.alarm_configuration().alarm_rules_["出线支路01开关分闸"] = "S1";
    h.device.alarm_configuration().alarm_rules_["出线支路02开关分闸"] = "S2";
    h.device.alarm_configuration().alarm_rules_["出线支路03开关分闸"] =
        "";  // an empty identifier is not configured
    h.unit.set(kFeederOpenBits, 0x0006);
    h.run_round();
    EXPECT_EQ(reports(h), (std::vector<Report>{{"S1", "出线支路01开关分闸", false, 1},
                                               {"S2", "出线支路02开关分闸", true, 2}}));
    h.calls.clear();
    h.run_round();
    EXPECT_EQ(reports(h).size(), 2u) << "reported in every round, changed or not";
}

TEST(UnitAlarms, NothingWithoutConfiguration) {
    DeviceHarness h;
    for (int reg = 7424; reg <= 7465; ++reg) h.unit.set(reg, 0xffff);
    h.unit.set(4098, 1);
    h.run_round();
    EXPECT_TRUE(reports(h).empty());
}

TEST(UnitAlarms, OtherProfilesReportNothing) {
    for (int mode : {0, 2, 3, 5}) {
        DeviceHarness h;
        h.device.b_mode_ = mode;
        h.device.alarm_configuration().alarm_rules_["系统总告警状态"] = "T";
        h.device.alarm_configuration().alarm_rules_["出线支路01开关分闸"] = "S1";
        h.unit.set(4098, 1);
        h.device.RunCheckThreshold();
        const std::uint8_t set = 1;
        EXPECT_EQ(h.device._px46tr_k_FeederSwitchOpenAlert_alert(&set, "出线支路", 1), 1);
        EXPECT_TRUE(reports(h).empty()) << mode;
        EXPECT_EQ(h.device.check_seq_, 0) << mode;
    }
}

TEST(UnitAlarms, SystemTotalAlarmIsActiveOnlyAtOne) {
    DeviceHarness h;
    h.device.alarm_configuration().alarm_rules_["系统总告警状态"] = "T";
    std::vector<bool> states;
    for (std::uint16_t value : {0, 1, 2, 0x0101}) {
        h.calls.clear();
        h.unit.set(4098, value);
        h.run_round();
        const auto got = reports(h);
        ASSERT_EQ(got.size(), 1u);
        states.push_back(got[0].active);
    }
    EXPECT_EQ(states, (std::vector<bool>{false, true, false, false}));
}

TEST(UnitAlarms, IncomingLineFlagsAreActiveWhenNonZero) {
    DeviceHarness h;
    h.device.alarm_configuration().alarm_rules_["A路进线总开关开关告警"] = "L1";
    h.device.alarm_configuration().alarm_rules_["进线总开关开关告警"] = "L5";
    h.device.alarm_configuration().alarm_rules_["进线防雷器失效告警"] = "L6";
    h.device.alarm_configuration().alarm_rules_["进线电压欠压"] = "L24";
    h.unit.set(7451, 0x8000);
    h.unit.set(7455, 0);
    h.unit.set(7456, 0xffff);  // the next polled register belongs to the feeder switches
    h.run_round();
    EXPECT_EQ(reports(h), (std::vector<Report>{{"L1", "A路进线总开关开关告警", true, 1},
                                               {"L5", "进线总开关开关告警", false, 2},
                                               {"L6", "进线防雷器失效告警", false, 3},
                                               {"L24", "进线电压欠压", false, 4}}));
}

TEST(UnitAlarms, FeederFlagPositions) {
    DeviceHarness h;
    for (int n : {4, 5, 6})
        h.device.alarm_configuration()
            .alarm_rules_[px46tr_k::compose_name("%s%02d电流越上线", "出线支路", n)] =
            "H" + std::to_string(n);
    h.device.alarm_configuration().alarm_rules_["出线支路143电流越上上线"] = "HH143";
    h.device.alarm_configuration().alarm_rules_["出线支路144电流越上上线"] = "HH144";
    h.device.alarm_configuration().alarm_rules_["出线支路144开关分闸"] = "O144";
    h.unit.set(7433, 1u << 4);   // flag 148: feeder 5 over upper
    h.unit.set(7450, 1u << 15);  // flag 431: feeder 144 over upper-upper
    h.unit.set(7464, 1u << 15);  // flag 143: feeder 144 switch opened
    h.unit.set(7465, 0xffff);    // flags 144 to 159 name no feeder
    h.run_round();
    EXPECT_EQ(reports(h), (std::vector<Report>{{"H4", "出线支路04电流越上线", false, 1},
                                               {"H5", "出线支路05电流越上线", true, 2},
                                               {"H6", "出线支路06电流越上线", false, 3},
                                               {"HH143", "出线支路143电流越上上线", false, 4},
                                               {"HH144", "出线支路144电流越上上线", true, 5},
                                               {"O144", "出线支路144开关分闸", true, 6}}));
}

TEST(UnitAlarms, FeederSwitchAlarmIsNeverReported) {
    DeviceHarness h;
    h.device.alarm_configuration().alarm_rules_["出线支路01开关告警"] = "SW1";
    h.device.alarm_configuration().alarm_rules_["出线支路120开关告警"] = "SW120";
    for (int k = 0; k < 144; ++k) set_flag(h, kFeederAlarmBits, k);
    h.run_round();
    EXPECT_TRUE(reports(h).empty());
}

TEST(UnitAlarms, FeederMembersReportOneFlagEach) {
    DeviceHarness h;
    h.device.alarm_configuration().alarm_rules_["出线支路09电流越上线"] = "H9";
    h.device.alarm_configuration().alarm_rules_["出线支路100电流越上上线"] = "HH100";
    h.device.check_seq_ = 65535;
    const std::uint8_t flags[] = {0, 1};
    EXPECT_EQ(h.device._px46tr_k_FeederCurrentHAlert_alert(&flags[1], "出线支路", 9), 1);
    EXPECT_EQ(h.device._px46tr_k_FeederCurrentHHAlert_alert(&flags[0], "出线支路", 100), 1);
    EXPECT_EQ(h.device._px46tr_k_FeederSwitchOpenAlert_alert(&flags[1], "出线支路", 9), 1);
    EXPECT_EQ(reports(h), (std::vector<Report>{{"H9", "出线支路09电流越上线", true, 65535},
                                               {"HH100", "出线支路100电流越上上线", false, 0}}));
    EXPECT_EQ(h.device.check_seq_, 1) << "the serial wraps";
}

TEST(UnitAlarms, ConfiguredFromTheShippedExampleFile) {
    TempWorkDir dir;
    dir.copy(PX46_EXAMPLES_DIR "/unicom.yaml", "ini/1.yaml");
    DeviceHarness h;
    h.device.InitSetting(Json::Value(Json::objectValue));
    h.unit.set(4098, 1);
    set_flag(h, kFeederOpenBits, 1);  // feeder 2 opened
    h.run_round();
    const auto got = reports(h);
    ASSERT_EQ(got.size(), 8u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].serial, i + 1);
        EXPECT_EQ(got[i].id, h.device.alarm_configuration().alarm_rules_.at(got[i].name));
    }
    EXPECT_EQ(got.front(), (Report{"0417001001", "系统总告警状态", true, 1}));
    EXPECT_EQ(got.back(), (Report{"0417005002", "出线支路02开关分闸", true, 8}));
}

// A host may hold a lock of its own around request 801 and inside its report operations: the
// reports must not be made with the snapshot mutex held, or the two threads wait on each other.
TEST(UnitAlarms, ReportsAreMadeWithoutTheSnapshotMutexHeld) {
    struct SnapshotMutexProbe : HostCallObserver {
        explicit SnapshotMutexProbe(TestDevice& d) : device(d) {}
        void on_host_call(const HostCall& call) override {
            if (call.name != "CheckThresholdBool") return;
            ++reports;
            std::thread([this] {
                if (device.json_mutex_.try_lock()) {
                    device.json_mutex_.unlock();
                } else {
                    ++held;
                }
            }).join();
        }
        TestDevice& device;
        int reports = 0;
        int held = 0;
    };
    DeviceHarness h;
    SnapshotMutexProbe probe(h.device);
    h.device.set_observer(&probe);
    h.device.alarm_configuration().alarm_rules_["系统总告警状态"] = "T";
    h.run_round();
    EXPECT_EQ(probe.reports, 1);
    EXPECT_EQ(probe.held, 0);
}

}  // namespace
