#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device_harness.h"

namespace {

using Rule = TestDevice::ThresholdRule;

// Completes a round and returns its diagnostic lines.
std::string complete_round(DeviceHarness& h) {
    h.calls.clear();
    h.clock.advance(1);
    h.log.take();
    h.device.RoundDone();
    return h.log.take();
}

// --- Comparison rules --------------------------------------------------------------------------

struct ComparisonDevice : DeviceHarness {
    ComparisonDevice() {
        device.b_mode_ = 3;
        device.alarm_configuration().alarm_rules_["电流_1"] = "AL01,upper";
        device.alarm_levels_["AL01"] = 2;
        device.alarm_thresholds_["AL01"] = 10.0f;
        device.alarm_configuration().alarm_texts_["AL01"] = "NM01;ID01;3;";
        device.alarm_configuration().alarm_names_["AL01"] = "电流过高";
    }
    void set_comparison(const std::string& word) {
        device.alarm_configuration().alarm_rules_["电流_1"] = "AL01," + word;
    }
};

TEST(ComparisonRules, RealMemberComparesByNumberAndLogsTheRule) {
    ComparisonDevice h;
    h.device.json_["电流"] = 12.5;
    EXPECT_EQ(complete_round(h),
              "dataName:电流 alarmId:AL01 alarmComp:upper level:2 realvalue:12.5 vs 10\n"
              "rvSize is 1\n");
    auto reports = h.calls.named("CheckThresholdBool");
    ASSERT_EQ(reports.size(), 1u);
    Json::Value expected(Json::arrayValue);
    for (const Json::Value& arg :
         {Json::Value(2), Json::Value("AL01"), Json::Value("AL01"), Json::Value("电流过高"),
          Json::Value("NM01;ID01;3;12.5"), Json::Value(true), Json::Value(1)}) {
        expected.append(arg);
    }
    EXPECT_EQ(reports[0].args, expected);

    h.device.json_["电流"] = 7.0;
    complete_round(h);
    reports = h.calls.named("CheckThresholdBool");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].args[5].asBool());
    EXPECT_EQ(reports[0].args[4].asString(), "NM01;ID01;3;7.0");
}

TEST(ComparisonRules, EachWordComparesItsWay) {
    struct Case {
        const char* word;
        double value;
        bool state;
    } const cases[] = {
        {"upper", 10.0, false}, {"upper", 10.5, true},  {"lower", 9.5, true},      {"lower", 10.0, false},
        {"equal", 10.0, true},  {"equal", 10.5, false}, {"notequal", 10.0, false}, {"notequal", 9.5, true},
    };
    for (const auto& c : cases) {
        ComparisonDevice h;
        h.set_comparison(c.word);
        h.device.json_["电流"] = c.value;
        complete_round(h);
        const auto reports = h.calls.named("CheckThresholdBool");
        ASSERT_EQ(reports.size(), 1u) << c.word << " " << c.value;
        EXPECT_EQ(reports[0].args[5].asBool(), c.state) << c.word << " " << c.value;
    }
}

TEST(ComparisonRules, OtherKindsOrderByKindNotByValue) {
    // Text orders above every number and an integer below every real, whatever they say.
    struct Case {
        Json::Value member;
        const char* word;
        bool state;
    } const cases[] = {
        {Json::Value("1"), "upper", true},  {Json::Value("正常"), "lower", false},
        {Json::Value(50), "upper", false},  {Json::Value(50), "lower", true},
        {Json::Value(10), "equal", false},  {Json::Value(10), "notequal", true},
        {Json::Value(true), "upper", true},
    };
    for (const auto& c : cases) {
        ComparisonDevice h;
        h.set_comparison(c.word);
        h.device.json_["电流"] = c.member;
        complete_round(h);
        const auto reports = h.calls.named("CheckThresholdBool");
        ASSERT_EQ(reports.size(), 1u) << c.member << c.word;
        EXPECT_EQ(reports[0].args[5].asBool(), c.state) << c.member << c.word;
    }
}

TEST(ComparisonRules, TextMemberIsWrittenAsTheJsonLibraryStreamsIt) {
    ComparisonDevice h;
    h.device.json_["电流"] = "正常";
    const std::string out = complete_round(h);
    EXPECT_NE(out.find(" realvalue:\"\\u6b63\\u5e38\" vs 10\n"), std::string::npos) << out;
    EXPECT_EQ(h.calls.named("CheckThresholdBool").at(0).args[4].asString(), "NM01;ID01;3;\"\\u6b63\\u5e38\"");
}

TEST(ComparisonRules, LevelZeroOnlyLogs) {
    ComparisonDevice h;
    h.device.alarm_levels_["AL01"] = 0;
    h.device.json_["电流"] = 12.5;
    EXPECT_EQ(complete_round(h),
              "dataName:电流 alarmId:AL01 alarmComp:upper level:0 realvalue:12.5 vs 10\n"
              "rvSize is 0\n");
    EXPECT_TRUE(h.calls.named("CheckThresholdBool").empty());
}

TEST(ComparisonRules, KeyWithoutUnderscoreAndValueWithoutCommaAreUsedWhole) {
    DeviceHarness h;
    h.device.b_mode_ = 3;
    h.device.alarm_configuration().alarm_rules_["电压"] = "AL02";
    h.device.alarm_levels_["AL02"] = 1;
    h.device.alarm_thresholds_["AL02"] = 0.25f;
    h.device.json_["电压"] = 1.5;
    EXPECT_EQ(complete_round(h),
              "dataName:电压 alarmId:AL02 alarmComp:AL02 level:1 realvalue:1.5 vs 0.25\n"
              "rvSize is 0\n");
    EXPECT_TRUE(h.calls.named("CheckThresholdBool").empty()) << "AL02 is no comparison word";
}

TEST(ComparisonRules, MissingEntriesAreAddedAsDefaults) {
    DeviceHarness h;
    h.device.b_mode_ = 3;
    h.device.alarm_configuration().alarm_rules_["电压_a_b"] = "AL03,upper,x";
    EXPECT_EQ(complete_round(h),
              "dataName:电压 alarmId:AL03 alarmComp:upper,x level:0 realvalue:null vs 0\n"
              "rvSize is 0\n");
    EXPECT_TRUE(h.device.json_.root().isMember("电压"));
    EXPECT_TRUE(h.device.json_["电压"].isNull());
    EXPECT_EQ(h.device.alarm_levels_.count("AL03"), 1u);
    EXPECT_EQ(h.device.alarm_thresholds_.count("AL03"), 1u);
}

TEST(ComparisonRules, MissingTextAndNameReadEmpty) {
    DeviceHarness h;
    h.device.b_mode_ = 3;
    h.device.alarm_configuration().alarm_rules_["电压_1"] = "AL04,lower";
    h.device.alarm_levels_["AL04"] = 3;
    h.device.alarm_thresholds_["AL04"] = 100.0f;
    h.device.json_["电压"] = 99.5;
    complete_round(h);
    const auto reports = h.calls.named("CheckThresholdBool");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].args[3].asString(), "");
    EXPECT_EQ(reports[0].args[4].asString(), "99.5");
    EXPECT_TRUE(reports[0].args[5].asBool());
}

// --- Analogue signals --------------------------------------------------------------------------
// Member names that the snapshot build does not produce, so a rebuild leaves them as set here.

struct AnalogueDevice : DeviceHarness {
    AnalogueDevice() {
        device.b_mode_ = 1;
        device.alarm_configuration().ai_signals_["模拟量1"] = {"AI0123456789", "0418001"};
        SMDVDevice::BAOSetting model;
        model.abs_enabled = true;
        model.abs_band = 2;
        model.last_value = 10;
        device.bao_settings_["AI0623451789"] = model;
    }
};

TEST(AnalogueSignals, ThresholdCheckThenReportUnderTheTemplateIdentifier) {
    AnalogueDevice h;
    h.device.json_["模拟量1"] = 12.5;
    complete_round(h);
    EXPECT_EQ(h.calls.names_without_requests(),
              (std::vector<std::string>{"SendSP", "Reset", "CheckThreshold", "CheckAOReport",
                                        "DoBatchCheckThreshold", "SaveDeviceHistory"}));
    const auto check = h.calls.named("CheckThreshold").at(0).args;
    EXPECT_EQ(check[0].asString(), "AI0623451789");
    EXPECT_EQ(check[1].asString(), "0418001");
    EXPECT_EQ(check[2].asDouble(), 12.5);
    EXPECT_EQ(check[3].asInt(), 1);
    const auto report = h.calls.named("CheckAOReport").at(0).args;
    EXPECT_EQ(report[0].asString(), "AI0123456789");
    EXPECT_EQ(report[1].asDouble(), 12.5);
    EXPECT_EQ(h.device.bao_settings_.at("AI0123456789").last_value, 12.5f);
    EXPECT_EQ(h.device.bao_settings_.at("AI0623451789").last_value, 10.0f);
}

TEST(AnalogueSignals, MissingMemberBecomesNullWithoutACall) {
    AnalogueDevice h;
    complete_round(h);
    EXPECT_TRUE(h.device.json_.root().isMember("模拟量1"));
    EXPECT_TRUE(h.device.json_["模拟量1"].isNull());
    EXPECT_TRUE(h.calls.named("CheckThreshold").empty());
    EXPECT_TRUE(h.calls.named("CheckAOReport").empty());
}

TEST(AnalogueSignals, BooleansReadAsNumbers) {
    AnalogueDevice h;
    h.device.json_["模拟量1"] = true;
    complete_round(h);
    ASSERT_EQ(h.calls.named("CheckThreshold").size(), 1u);
    EXPECT_EQ(h.calls.named("CheckThreshold")[0].args[2].asDouble(), 1.0);
}

TEST(AnalogueSignals, UnreadableMembersAndShortIdentifiersAreSkipped) {
    for (const Json::Value& value :
         {Json::Value("正常"), Json::Value(Json::arrayValue), Json::Value(Json::objectValue)}) {
        AnalogueDevice h;
        h.device.json_["模拟量1"] = value;
        complete_round(h);
        EXPECT_TRUE(h.calls.named("CheckThreshold").empty()) << value;
        EXPECT_TRUE(h.calls.named("CheckAOReport").empty()) << value;
    }
    // 9 bytes are the shortest identifier with a template identifier.
    const std::pair<const char*, const char*> identifiers[] = {{"AI012345", ""}, {"AI0123456", "AI0623451"}};
    for (const auto& [id, template_id] : identifiers) {
        AnalogueDevice h;
        h.device.alarm_configuration().ai_signals_["模拟量1"] = {id, "0418001"};
        h.device.json_["模拟量1"] = 50.0;
        complete_round(h);
        const auto checks = h.calls.named("CheckThreshold");
        EXPECT_EQ(checks.empty() ? "" : checks.at(0).args[0].asString(), template_id) << id;
    }
}

// --- Threshold groups ---------------------------------------------------------------------------

TEST(ThresholdGroupOrder, UpThenUp2ThenLowThenLow2EachByName) {
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.device.alarm_configuration().up_thresholds_["b"] = Rule{"B001", 1, 0, false, 1};
    h.device.alarm_configuration().up_thresholds_["a"] = Rule{"A001", 1, 0, false, 1};
    h.device.alarm_configuration().up2_thresholds_["a"] = Rule{"A002", 1, 0, false, 1};
    h.device.alarm_configuration().low_thresholds_["c"] = Rule{"C003", 1, 2, false, 1};
    h.device.alarm_configuration().low2_thresholds_["a"] = Rule{"A004", 1, 2, false, 1};
    for (const char* name : {"a", "b", "c"}) h.device.json_[name] = 1.0;
    complete_round(h);
    std::vector<std::string> order;
    for (const auto& report : h.calls.named("CheckThresholdBool")) {
        order.push_back(report.args[2].asString());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"A001", "B001", "A002", "C003", "A004"}));
}

TEST(ProfileRules, OnlyTheActiveProfileIsEvaluated) {
    DeviceHarness h;
    h.device.alarm_configuration().up_thresholds_["a"] = Rule{"A001", 1, 0, false, 1};
    h.device.alarm_configuration().alarm_rules_["a_1"] = "AL01,upper";
    h.device.alarm_levels_["AL01"] = 1;
    h.device.json_["a"] = 5.0;
    for (int mode : {1, 2, 0}) {
        h.device.b_mode_ = mode;
        complete_round(h);
        EXPECT_TRUE(h.calls.named("CheckThresholdBool").empty()) << "profile " << mode;
    }
}

// The rules read the snapshot while they report, so the reports are made with the snapshot mutex
// held: a snapshot requested on another thread meanwhile waits for the evaluation to end.
TEST(ProfileRules, ReportsAreMadeWithTheSnapshotMutexHeld) {
    struct SnapshotMutexProbe : HostCallObserver {
        explicit SnapshotMutexProbe(TestDevice& d) : device(d) {}
        void on_host_call(const HostCall& call) override {
            if (call.name != "CheckThreshold" && call.name != "CheckAOReport" &&
                call.name != "CheckThresholdBool")
                return;
            reports.push_back(call.name);
            std::thread([this] {
                if (device.json_mutex_.try_lock()) {
                    device.json_mutex_.unlock();
                    ++free;
                }
            }).join();
        }
        TestDevice& device;
        std::vector<std::string> reports;
        int free = 0;
    };
    const std::pair<int, std::vector<std::string>> cases[] = {
        {1, {"CheckThreshold", "CheckAOReport"}}, {3, {"CheckThresholdBool"}}, {5, {"CheckThresholdBool"}}};
    for (const auto& [mode, expected] : cases) {
        AnalogueDevice h;  // an analogue signal, a comparison rule and an upper threshold
        h.device.alarm_configuration().alarm_rules_["a_1"] = "AL01,upper";
        h.device.alarm_levels_["AL01"] = 1;
        h.device.alarm_configuration().up_thresholds_["a"] = Rule{"A001", 1, 0, false, 1};
        h.device.json_["模拟量1"] = 12.5;
        h.device.json_["a"] = 5.0;
        h.device.b_mode_ = mode;
        SnapshotMutexProbe probe(h.device);
        h.device.set_observer(&probe);
        complete_round(h);
        EXPECT_EQ(probe.reports, expected) << "profile " << mode;
        EXPECT_EQ(probe.free, 0) << "profile " << mode;
    }
}

}  // namespace
