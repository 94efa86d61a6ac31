#include <gtest/gtest.h>

#include <set>

#include "catalogue/signal_catalogue.h"

namespace {

using namespace px46tr_k;

TEST(SignalCatalogue, HoldsEveryMemberOnceInBuildOrder) {
    const auto& signals = snapshot_signals();
    ASSERT_EQ(signals.size(), 1488u);
    std::set<std::string> names;
    for (const auto& s : signals) EXPECT_TRUE(names.insert(s.name).second) << s.name;
    EXPECT_EQ(signals.front().name, "系统硬件编码");
    EXPECT_EQ(signals[4].name, "A路进线-电压");
    EXPECT_EQ(signals[5].name, "A路路进线-电流") << "the line current keeps its doubled 路";
    EXPECT_EQ(signals[14].name, "出线支路01电压");
    EXPECT_EQ(signals[15].name, "出线支路02电压");
    EXPECT_EQ(signals[17].name, "出线支路01电流");
    EXPECT_EQ(signals.back().name, "更新时间");
    EXPECT_EQ(names.count("出线支路05开关分闸"), 1u);
    EXPECT_EQ(names.count("出线支路99电流越上上线"), 1u);
    EXPECT_EQ(names.count("出线支路100开关状态"), 1u);
    EXPECT_EQ(names.count("出线支路144电流负载比"), 1u);
}

TEST(SignalCatalogue, SourcesPointAtTheUnitsRegisters) {
    std::map<std::string, SignalInfo> by_name;
    for (const auto& s : snapshot_signals()) by_name.emplace(s.name, s);
    EXPECT_EQ(by_name.at("出线支路144电压").source.first_register, 1724 + 4);
    EXPECT_EQ(by_name.at("出线支路144电压").source.record_offset, 3460u);
    EXPECT_EQ(by_name.at("出线支路144开关状态").source.first_register, 4246);
    EXPECT_EQ(by_name.at("B路进线-有功电能").source.first_register, 24);
    EXPECT_EQ(by_name.at("环境湿度").source.first_register, 4248);
    const auto& high61 = by_name.at("出线支路61电流越上线").source;
    EXPECT_EQ(high61.flag_index, 204);
    EXPECT_EQ(high61.first_register, 7424 + 204 / 16);
    EXPECT_EQ(high61.bit, 204 % 16);
    EXPECT_EQ(by_name.at("出线支路61电流越上上线").source.flag_index, 348);
    const auto& open144 = by_name.at("出线支路144开关分闸").source;
    EXPECT_EQ(open144.first_register, 7464);
    EXPECT_EQ(open144.bit, 15);
    EXPECT_EQ(by_name.at("进线总开关开关告警").source.first_register, 7455);
    EXPECT_EQ(by_name.at("进线防雷器失效告警").source.kind, SignalSource::Kind::none);
}

TEST(SignalCatalogue, EntriesAreBooleanForFourHundredFiftySevenMembers) {
    int booleans = 0;
    int alarm_only = 0;
    for (const auto& s : snapshot_signals()) {
        booleans += s.entry == Entry::boolean;
        alarm_only += s.entry == Entry::alarm_only;
    }
    EXPECT_EQ(booleans, 457);
    EXPECT_EQ(alarm_only, 6);
}

TEST(StatusCodings, WordsFollowEachCoding) {
    EXPECT_STREQ(status_word(Coding::switch_code, 3), "分闸");
    EXPECT_STREQ(status_word(Coding::switch_code, 7), "无效值");
    EXPECT_STREQ(status_word(Coding::surge_code, 2), "空闲");
    EXPECT_STREQ(status_word(Coding::surge_code, 3), "无效值");
    EXPECT_STREQ(status_word(Coding::total_code, 2), "正常");
    EXPECT_STREQ(status_word(Coding::total_code, 1), "告警");
    EXPECT_STREQ(status_word(Coding::flag, 0x8000), "告警");
    EXPECT_STREQ(status_word(Coding::flag, 0), "正常");
}

TEST(ReportableAlarms, OrderAndFlagPositions) {
    const auto& alarms = reportable_alarms();
    ASSERT_EQ(alarms.size(), 457u);
    EXPECT_EQ(alarms[0].name, "系统总告警状态");
    EXPECT_EQ(alarms[5].name, "出线支路05电流越上线");
    EXPECT_EQ(alarms[5].source.flag_index, 148);
    EXPECT_EQ(alarms[144 + 144].name, "出线支路144电流越上上线");
    EXPECT_EQ(alarms[288].source.flag_index, 431);
    EXPECT_EQ(alarms[289].name, "A路进线总开关开关告警");
    EXPECT_EQ(alarms[312].name, "进线电压欠压");
    EXPECT_EQ(alarms.back().name, "出线支路144开关分闸");
    EXPECT_EQ(alarms.back().source.first_register, 7464);
    for (const auto& a : alarms) {
        const bool feeder_switch_alarm =
            a.name.rfind("出线支路", 0) == 0 && a.name.find("开关告警") != std::string::npos;
        EXPECT_FALSE(feeder_switch_alarm) << a.name << " is never reported";
    }
}

TEST(ReportableAlarms, ActivityFollowsTheRecord) {
    PX46TR_K_Data_t record{};
    const auto& alarms = reportable_alarms();
    auto* bytes = reinterpret_cast<std::uint8_t*>(&record);
    bytes[3528] = 2;
    EXPECT_FALSE(alarm_active(alarms[0], record)) << "total alarm 2 is not active";
    bytes[3528] = 1;
    EXPECT_TRUE(alarm_active(alarms[0], record));
    bytes[3885] = 0x80;  // register 7451 = 0x8000
    EXPECT_TRUE(alarm_active(alarms[289], record));
    bytes[3830 + 2 * 9] = 0x10;  // register 7433 bit 4: flag 148, feeder 5 over upper
    EXPECT_TRUE(alarm_active(alarms[5], record));
    EXPECT_FALSE(alarm_active(alarms[4], record));
}

}  // namespace
