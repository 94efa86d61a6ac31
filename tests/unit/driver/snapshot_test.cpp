#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue/record_fields.h"
#include "catalogue/signal_catalogue.h"
#include "device_harness.h"

namespace {

using namespace px46tr_k;
using boost::posix_time::time_from_string;

constexpr char kEntries[] = "AlertArray";

// The value a member must have, read from the simulated unit's registers through the catalogue's
// own description of its source (not through the record offsets the writers use). The divisors are
// the catalogue's too: SnapshotNumbers checks them against literal values.
Json::Value expected_value(const SignalInfo& s, const SimulatedUnit& unit) {
    unsigned int raw = 0;
    switch (s.source.kind) {
        case SignalSource::Kind::register16:
            raw = unit.get(s.source.first_register);
            if (s.coding == Coding::number) return static_cast<double>(scale(raw, s.divisor));
            break;
        case SignalSource::Kind::register_pair: {
            const std::uint32_t pair = (static_cast<std::uint32_t>(unit.get(s.source.first_register)) << 16) |
                                       unit.get(s.source.first_register + 1);
            return static_cast<double>(scale(static_cast<std::int32_t>(pair), s.divisor, s.second_divisor));
        }
        case SignalSource::Kind::flag:
            raw = (unit.get(s.source.first_register) >> s.source.bit) & 1u;
            break;
        case SignalSource::Kind::none:
        case SignalSource::Kind::round_stamp:
            break;
    }
    return status_word(s.coding, raw);
}

// Registers 0 to 7465 filled with a fixed pseudo-random pattern.
void fill_registers(SimulatedUnit& unit, std::uint32_t seed) {
    std::uint32_t x = seed;
    for (int reg = 0; reg <= 7465; ++reg) {
        x = x * 1664525u + 1013904223u;
        unit.set(reg, static_cast<std::uint16_t>(x >> 16));
    }
}

std::set<std::string> member_names(const Json::Value& object) {
    const auto names = object.getMemberNames();
    return std::set<std::string>(names.begin(), names.end());
}

// --- What a build writes ---------------------------------------------------------------------

TEST(SnapshotCatalogue, ARoundWritesEveryCatalogueMemberAndTheirEntries) {
    DeviceHarness h;
    h.run_round();
    const Json::Value& json = h.device.json_.root();
    ASSERT_TRUE(json.isObject());
    EXPECT_EQ(json.size(), 1489u) << "1488 members and AlertArray";
    std::set<std::string> expected_members{kEntries};
    std::set<std::string> expected_entries;
    for (const auto& s : snapshot_signals()) {
        expected_members.insert(s.name);
        if (s.entry == Entry::boolean) expected_entries.insert(s.name);
    }
    EXPECT_EQ(member_names(json), expected_members);
    EXPECT_EQ(member_names(json[kEntries]), expected_entries)
        << "all-zero registers raise no alarm-only entry";
    EXPECT_EQ(json[kEntries].size(), 457u);
    for (const auto& name : expected_entries) EXPECT_TRUE(json[kEntries][name].isBool()) << name;
}

TEST(SnapshotCatalogue, EveryMemberMatchesItsSourceRegister) {
    for (const std::uint32_t seed : {1u, 0xdeadbeefu}) {
        DeviceHarness h;
        fill_registers(h.unit, seed);
        h.run_round();
        const Json::Value& json = h.device.json_.root();
        for (const auto& s : snapshot_signals()) {
            if (s.coding == Coding::time_text) continue;
            const Json::Value want = expected_value(s, h.unit);
            EXPECT_EQ(json[s.name], want) << s.name;
            if (s.coding == Coding::number) {
                EXPECT_TRUE(json[s.name].isDouble()) << s.name;
            }
            if (s.entry == Entry::boolean) {
                EXPECT_EQ(json[kEntries][s.name], Json::Value(want.asString() == kAlarm)) << s.name;
            }
        }
    }
}

TEST(SnapshotCatalogue, BuildsOnlyUnderProfilesThatEvaluateRules) {
    for (const int mode : {1, 2, 3, 4, 5}) {
        DeviceHarness h;
        h.device.b_mode_ = mode;
        h.run_round();
        EXPECT_EQ(h.device.json_.root().isObject(), mode == 1 || mode == 3 || mode == 5) << mode;
    }
}

// --- Numbers -----------------------------------------------------------------------------------

// One row for each divisor the catalogue declares, with its value written out: the catalogue and
// the build share their divisors, so only a literal catches a wrong one.
TEST(SnapshotNumbers, SinglePrecisionQuotientsWidenedAfterwards) {
    struct Case {
        int reg;
        bool pair;  // a signed 32-bit pair, else one unsigned register
        std::int64_t raw;
        const char* member;
        double value;
    } const cases[] = {
        {0, false, 0xFFFF, "系统硬件编码", 65535.0},
        {1, false, 106, "系统软件版本号", 106.0},
        {2, false, 2023, "系统序列号1", 2023.0},
        {3, false, 1187, "系统序列号2", 1187.0},
        {4, true, 22987, "A路进线-电压", 229.8699951171875},
        {4 + 2, true, 0x0FA0, "A路路进线-电流", 40.0},
        {4 + 4, true, -2147483647 - 1, "A路进线-有功功率", -2147483.75},  // most negative
        {18 + 6, true, 1234567, "B路进线-有功电能", 123.45670318603516},  // /10 then /1000
        {4 + 12, true, 5401, "A路进线-电流负载比", 54.009998321533203},
        {32, true, 12345, "出线支路01电压", 123.44999694824219},
        {32 + 2, true, -100, "出线支路02电压", -1.0},  // 0xFFFF, 0xFF9C
        {32 + 6, true, 65536, "出线支路01电流", 655.3599853515625},
        {4247, false, 65526, "环境温度", 6552.60009765625},
        {4248, false, 657, "环境湿度", 65.699996948242188},
    };
    DeviceHarness h;
    for (const auto& c : cases) {
        if (c.pair) {
            h.set_s32(c.reg, static_cast<std::int32_t>(c.raw));
        } else {
            h.unit.set(c.reg, static_cast<std::uint16_t>(c.raw));
        }
    }
    h.run_round();
    const Json::Value& json = h.device.json_.root();
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(json[c.member].asDouble(), c.value) << c.member;
        EXPECT_TRUE(json[c.member].isDouble()) << c.member << ": numbers are JSON reals";
    }
}

// --- Codings and entries -------------------------------------------------------------------------

TEST(SnapshotCodings, StateRegistersTakeTheirOwnCoding) {
    DeviceHarness h;
    h.unit.set(4096, 2);  // line A surge-protector switch: idle
    h.unit.set(4097, 3);  // surge code has no "opened"
    h.unit.set(4098, 2);  // total code: only 1 is an alarm
    h.unit.set(4099, 3);  // switch code: opened
    h.unit.set(4100, 3);
    h.unit.set(4101, 0xFFFF);
    h.unit.set(4102 + 5, 7);    // feeder 5 switch state
    h.unit.set(4102 + 144, 3);  // feeder 144 switch state
    h.run_round();
    const Json::Value& json = h.device.json_.root();
    EXPECT_EQ(json["A路进线防雷器开关状态"], "空闲");
    EXPECT_EQ(json["B路进线防雷器开关状态"], "无效值");
    EXPECT_EQ(json["系统总告警状态"], "正常");
    EXPECT_EQ(json[kEntries]["系统总告警状态"], false);
    EXPECT_EQ(json["A路进线总开关状态"], "分闸");
    EXPECT_EQ(json["A路进线防雷器状态"], "无效值");
    EXPECT_EQ(json["B路进线总开关状态"], "无效值");
    EXPECT_EQ(json["出线支路05开关状态"], "无效值");
    EXPECT_EQ(json["出线支路144开关状态"], "分闸");
    EXPECT_EQ(json["出线支路04开关状态"], "正常");
    EXPECT_FALSE(json[kEntries].isMember("出线支路05开关状态")) << "switch states have no entry";
}

TEST(SnapshotEntries, AlarmOnlyEntriesAreWrittenAsOneAndStay) {
    DeviceHarness h;
    h.unit.set(4099, 1);  // line A main switch: alarm
    h.unit.set(4098, 1);  // system total alarm
    h.run_round();
    const Json::Value& json = h.device.json_.root();
    EXPECT_EQ(json["A路进线总开关状态"], "告警");
    ASSERT_TRUE(json[kEntries]["A路进线总开关状态"].isInt());
    EXPECT_EQ(json[kEntries]["A路进线总开关状态"].asInt(), 1);
    EXPECT_EQ(json[kEntries]["系统总告警状态"], true);
    EXPECT_FALSE(json[kEntries].isMember("B路进线总开关状态"));

    h.unit.set(4099, 0);
    h.unit.set(4098, 0);
    h.clock.advance(1);
    h.run_round();
    EXPECT_EQ(json["A路进线总开关状态"], "正常");
    EXPECT_EQ(json[kEntries]["A路进线总开关状态"], 1) << "an alarm-only entry is never cleared";
    EXPECT_EQ(json[kEntries]["系统总告警状态"], false) << "a boolean entry follows its flag";
}

// --- Flag positions ------------------------------------------------------------------------------

// The per-feeder flag members that say "告警" after one round.
std::set<std::string> raised_feeder_flags(const Json::Value& json) {
    std::set<std::string> raised;
    for (const auto& s : snapshot_signals()) {
        if (s.source.kind == SignalSource::Kind::flag && json[s.name] == kAlarm) raised.insert(s.name);
    }
    return raised;
}

TEST(SnapshotFlags, EachBitRaisesExactlyItsFeedersMember) {
    struct Case {
        int reg;
        std::uint16_t value;
        const char* member;
        bool has_entry;
    };
    const Case cases[] = {
        {7433, 1u << 4, "出线支路05电流越上线", true},  // flag 148
        {7424 + 204 / 16, 1u << (204 % 16), "出线支路61电流越上线", true},
        {7424 + 348 / 16, 1u << (348 % 16), "出线支路61电流越上上线", true},
        {7450, 1u << 15, "出线支路144电流越上上线", true},  // flag 431
        {7424, 1u << 0, "出线支路01开关告警", false},
        {7432, 1u << 15, "出线支路144开关告警", false},  // flag 143
        {7464, 1u << 15, "出线支路144开关分闸", true},
        {7456, 1u << 0, "出线支路01开关分闸", true},
    };
    for (const auto& c : cases) {
        DeviceHarness h;
        h.unit.set(c.reg, c.value);
        h.run_round();
        const Json::Value& json = h.device.json_.root();
        EXPECT_EQ(raised_feeder_flags(json), std::set<std::string>{c.member}) << c.member;
        EXPECT_EQ(json[kEntries].isMember(c.member), c.has_entry) << c.member;
        if (c.has_entry) {
            EXPECT_EQ(json[kEntries][c.member], true) << c.member;
        }
    }
}

TEST(SnapshotFlags, UnusedSwitchOpenedFlagsRaiseNothing) {
    DeviceHarness h;
    h.unit.set(7465, 0xFFFF);  // flags 144 to 159 of the switch-opened block
    h.run_round();
    EXPECT_TRUE(raised_feeder_flags(h.device.json_.root()).empty());
}

TEST(SnapshotFlags, IncomingLineAlarmsTakeOnlyTheirFiveRegisters) {
    DeviceHarness h;
    h.unit.set(7451, 0x8000);
    h.unit.set(7455, 2);
    h.unit.set(7456, 0xFFFF);  // the switch-opened bits that follow are no incoming-line alarm
    h.unit.set(7457, 0xFFFF);
    h.run_round();
    const Json::Value& json = h.device.json_.root();
    for (int m = 0; m < kInlineAlarmCount; ++m) {
        const bool raised = m == 0 || m == 4;
        EXPECT_EQ(json[kInlineAlarmNames[m]], raised ? kAlarm : kNormal) << kInlineAlarmNames[m];
        EXPECT_EQ(json[kEntries][kInlineAlarmNames[m]], raised) << kInlineAlarmNames[m];
    }
}

// --- When a build happens ------------------------------------------------------------------------

TEST(SnapshotRebuild, NothingChangesUntilTheNextRoundTime) {
    DeviceHarness h;
    h.set_s32(4, 22000);
    h.run_round();
    EXPECT_DOUBLE_EQ(h.device.json_["A路进线-电压"].asDouble(), 220.0);

    h.device.round_record().data_.inline_a[3] = 0x10;  // changed in the record, no new round
    h.device.GenJsonData();
    EXPECT_DOUBLE_EQ(h.device.json_["A路进线-电压"].asDouble(), 220.0);

    h.set_s32(4, 23000);
    h.run_round();  // completes within the same second
    EXPECT_DOUBLE_EQ(h.device.json_["A路进线-电压"].asDouble(), 220.0);

    h.clock.advance(1);
    h.run_round();
    EXPECT_DOUBLE_EQ(h.device.json_["A路进线-电压"].asDouble(), 230.0);
}

TEST(SnapshotRebuild, NoBuildBeforeTheFirstRound) {
    DeviceHarness h;
    h.device.GenJsonData();
    EXPECT_TRUE(h.device.json_.root().isNull());
}

TEST(SnapshotRebuild, CachedRecordIsBuiltAndOtherMembersSurvive) {
    DeviceHarness h;
    h.run_round();
    h.device.json_["规则信号"] = 5;  // added by a rule look-up, not by a build
    auto record = h.device.record();
    record[4] = 0x2a;  // hardware code 42
    h.clock.advance(1);
    ASSERT_TRUE(h.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
    EXPECT_DOUBLE_EQ(h.device.json_["系统硬件编码"].asDouble(), 42.0);
    EXPECT_EQ(h.device.json_["规则信号"], 5);
}

// The text request 801 hands out.
std::string snapshot_text(TestDevice& device) {
    std::vector<char> out(1 << 20);
    int length = 0;
    EXPECT_EQ(device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()), length), 0);
    return std::string(out.data(), static_cast<std::size_t>(length));
}

// Later builds assign in place what the first one inserted: round after round of random images,
// with alarm-only entries appearing on the way and a rule look-up adding a member, the text is
// that of a fresh device loaded with the same alarm-only history and then the same record.
TEST(SnapshotRebuild, EachRoundsTextIsAFreshDevicesForTheSameRecordAndHistory) {
    DeviceHarness h;
    h.device.alarm_configuration().ai_signals_["规则信号"] = {"0406101001",
                                                              "规则信号"};  // no build writes it
    std::vector<std::uint8_t> history(kRecordSize, 0);  // the alarm-only codes 1 seen so far
    for (std::uint32_t round = 1; round <= 30; ++round) {
        fill_registers(h.unit, round);
        for (int reg = 4096; reg <= 4102; ++reg)
            h.unit.set(reg, static_cast<std::uint16_t>(h.unit.get(reg) % 4));
        h.clock.advance(5);
        h.run_round();
        const std::vector<std::uint8_t> record = h.device.record();
        for (const FixedSignal& s : kInlineStateSignals) {
            if (s.entry == Entry::alarm_only && read_u16(&record[s.record_offset]) == 1) {
                write_u16(&history[s.record_offset], 1);
            }
        }

        DeviceHarness fresh;
        fresh.device.alarm_configuration().ai_signals_ = h.device.alarm_configuration().ai_signals_;
        fresh.clock.set(h.clock.local_now() - boost::posix_time::seconds(1));
        ASSERT_TRUE(fresh.device.LoadFromCache(history.data(), static_cast<int>(kRecordSize)));
        fresh.clock.set(h.clock.local_now());
        ASSERT_TRUE(fresh.device.LoadFromCache(record.data(), static_cast<int>(kRecordSize)));
        ASSERT_EQ(snapshot_text(h.device), snapshot_text(fresh.device)) << "round " << round;
    }
    EXPECT_TRUE(h.device.json_.root()["规则信号"].isNull());
    EXPECT_EQ(h.device.json_.root()[kAlertArray].size(), 457u + 6u) << "every alarm-only entry appeared";
}

// The address request 803 hands out, as the host takes it: not const.
Json::Value* snapshot_address(TestDevice& device) {
    Json::Value* tree = nullptr;
    int length = 0;
    EXPECT_EQ(device.DeviceIoControl(803, nullptr, 0, &tree, sizeof tree, length), 0);
    return tree;
}

// A host edits the tree it got through 803, then a rule looks up a new name in a round of the
// same second (no build) and a round with another record follows: the build finds the tree not
// the one it built, builds it anew, and the snapshot is that of a device never edited, loaded with
// the same records: the alarm-only entries the first record raised included, though the second
// raises none.
TEST(SnapshotRebuild, ATreeEditedByTheHostIsBuiltAnew) {
    const std::pair<const char*, void (*)(Json::Value&)> edits[] = {
        {"remove a member", [](Json::Value& t) { t.removeMember("环境温度"); }},
        {"remove an entry", [](Json::Value& t) { t[kEntries].removeMember("出线支路05电流越上线"); }},
        {"remove an alarm-only entry", [](Json::Value& t) { t[kEntries].removeMember("A路进线总开关状态"); }},
        {"clear an alarm-only entry", [](Json::Value& t) { t[kEntries]["A路进线总开关状态"] = 0; }},
        {"rename an entry",
         [](Json::Value& t) {
             Json::Value entry;
             t[kEntries].removeMember("出线支路05电流越上线", &entry);
             t[kEntries]["出线支路05电流越上线!"] = entry;
         }},
        {"empty the tree", [](Json::Value& t) { t = Json::Value(Json::objectValue); }},
        {"clear the tree", [](Json::Value& t) { t.clear(); }},
        {"replace the tree", [](Json::Value& t) { t = Json::Value(Json::arrayValue); }},
        {"replace the tree by a number", [](Json::Value& t) { t = 5; }},
        {"remove one, add another",
         [](Json::Value& t) {
             t.removeMember("环境温度");
             t["环境温度0"] = 1;  // in the removed member's place in the member order
         }},
        {"remove a member, insert it again",
         [](Json::Value& t) {
             Json::Value member;
             t.removeMember("环境温度", &member);
             t["环境温度"] = member;  // a node of its own under a name of its own
         }},
        {"entries replaced by a copy", [](Json::Value& t) { t[kEntries] = Json::Value(t[kEntries]); }},
        {"entries replaced by a number", [](Json::Value& t) { t[kEntries] = 5; }},
        {"the time replaced by an object",
         [](Json::Value& t) {
             t["更新时间"] = Json::Value(Json::objectValue);
             t["更新时间"]["x"] = "y";
         }},
    };
    auto fill = [](DeviceHarness& h, std::uint32_t seed, std::uint16_t states) {
        fill_registers(h.unit, seed);
        for (int reg = 4096; reg <= 4102; ++reg) h.unit.set(reg, states);  // 1: every alarm-only entry
    };
    for (const auto& [edit, apply] : edits) {
        DeviceHarness h;
        fill(h, 1, 1);
        h.run_round();
        const std::vector<std::uint8_t> first = h.device.record();
        apply(*snapshot_address(h.device));
        h.device.alarm_configuration().ai_signals_["规则信号"] = {"0406101001", "规则信号"};
        h.run_round();
        fill(h, 2, 0);
        h.clock.advance(1);
        h.run_round();

        DeviceHarness fresh;
        fresh.device.alarm_configuration().ai_signals_ = h.device.alarm_configuration().ai_signals_;
        fresh.clock.set(h.clock.local_now() - boost::posix_time::seconds(1));
        ASSERT_TRUE(fresh.device.LoadFromCache(first.data(), static_cast<int>(first.size())));
        fresh.clock.set(h.clock.local_now());
        const std::vector<std::uint8_t> record = h.device.record();
        ASSERT_TRUE(fresh.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
        EXPECT_EQ(fresh.device.json_.root()[kEntries].size(), 457u + 6u);
        EXPECT_TRUE(h.device.json_.root() == fresh.device.json_.root()) << edit;
    }
}

// Rounds of one device, each replacing the time before it: a longer one, one that is a prefix of
// the one before (an older record loaded after a newer one), one of the same length.
TEST(SnapshotTime, UpdateTimeIsPlainDecimals) {
    const std::pair<const char*, const char*> steps[] = {
        {"2026-12-07 15:03:21", "2026-12-7 15:3:21"}, {"2026-03-07 09:05:00", "2026-3-7 9:5:0"},
        {"2026-12-07 15:04:22", "2026-12-7 15:4:22"}, {"2026-12-07 15:04:02", "2026-12-7 15:4:2"},
        {"2026-12-07 15:04:03", "2026-12-7 15:4:3"},
    };
    DeviceHarness h;
    for (const auto& [when, text] : steps) {
        h.clock.set(time_from_string(when));
        h.run_round();
        EXPECT_EQ(h.device.json_["更新时间"], text);
    }
}

// A plain copy of the tree is the host's own: a later round or the device's end leaves its time.
TEST(SnapshotTime, ACopyKeepsItsRoundsTime) {
    auto h = std::make_unique<DeviceHarness>();
    h->clock.set(time_from_string("2026-12-07 15:03:21"));
    h->run_round();
    const Json::Value copy = *snapshot_address(h->device);
    h->clock.advance(61);
    h->run_round();
    EXPECT_EQ(h->device.json_["更新时间"], "2026-12-7 15:4:22");
    EXPECT_EQ(copy["更新时间"], "2026-12-7 15:3:21");
    h.reset();
    EXPECT_EQ(copy["更新时间"], "2026-12-7 15:3:21");
}

}  // namespace
