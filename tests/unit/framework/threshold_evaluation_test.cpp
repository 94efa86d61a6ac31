#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "catalogue/signal_catalogue.h"
#include "device_harness.h"
#include "framework/value_text.h"

namespace {

using Rule = TestDevice::ThresholdRule;
using Setting = SMDVDevice::BAOSetting;

// The CheckThresholdBool reports of one completed round, under the threshold-group profile.
std::vector<HostCall> round_reports(DeviceHarness& h) {
    h.calls.clear();
    h.clock.advance(1);
    h.device.RoundDone();
    return h.calls.named("CheckThresholdBool");
}

struct Step {
    double value;
    bool active;
    const char* message;
};

// Feeds `steps` to the one rule of `group` over successive rounds and checks every report.
void expect_sequence(DeviceHarness& h, TestDevice::ThresholdGroup& group, const std::string& name,
                     const std::vector<Step>& steps) {
    h.device.b_mode_ = 5;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        h.device.json_[name] = steps[i].value;
        const auto reports = round_reports(h);
        ASSERT_EQ(reports.size(), 1u) << "round " << i;
        EXPECT_EQ(reports[0].args[5].asBool(), steps[i].active) << "round " << i;
        EXPECT_EQ(reports[0].args[4].asString(), steps[i].message) << "round " << i;
        EXPECT_EQ(std::get<3>(group.at(name)), steps[i].active) << "round " << i;
    }
}

TEST(ValueText, NineSignificantDigitsOfTheFloat) {
    EXPECT_EQ(framework::value_text(56.5f), "56.5");
    EXPECT_EQ(framework::value_text(55.0f), "55");
    EXPECT_EQ(framework::value_text(-0.5f), "-0.5");
    EXPECT_EQ(framework::value_text(0.1f), "0.100000001");
    EXPECT_EQ(framework::value_text(123.45f), "123.449997");
    EXPECT_EQ(framework::value_text(123456789.0f), "123456792");
    EXPECT_EQ(framework::value_text(1234567890.0f), "1.23456794e+09");
    EXPECT_EQ(framework::value_text(1.5e-5f), "1.49999996e-05");
}

TEST(ThresholdGroups, UpperRuleRaisesAtThresholdAndClearsAtRecovery) {
    DeviceHarness h;
    h.device.alarm_configuration().up_thresholds_["温度"] = Rule{"T001", 55.0f, 50.0f, false, 2};
    expect_sequence(h, h.device.alarm_configuration().up_thresholds_, "温度",
                    {{54, false, ""},
                     {55, true, "当前值55高于阈值:55"},
                     {53, true, "当前值53高于阈值:55"},
                     {50, false, ""},
                     {49, false, ""},
                     {56, true, "当前值56高于阈值:55"}});
}

TEST(ThresholdGroups, LowerRuleRaisesAtThresholdAndClearsAtRecovery) {
    DeviceHarness h;
    h.device.alarm_configuration().low_thresholds_["湿度"] = Rule{"H003", 10.0f, 12.0f, false, 1};
    expect_sequence(h, h.device.alarm_configuration().low_thresholds_, "湿度",
                    {{11, false, ""},
                     {10, true, "当前值10低于阈值:10"},
                     {11, true, "当前值11低于阈值:10"},
                     {12, false, ""}});
}

TEST(ThresholdGroups, RecoveryBeyondThresholdAlternatesOnASteadyValue) {
    DeviceHarness h;
    h.device.alarm_configuration().up_thresholds_["温度"] = Rule{"T001", 50.0f, 60.0f, false, 2};
    expect_sequence(h, h.device.alarm_configuration().up_thresholds_, "温度",
                    {{55, true, "当前值55高于阈值:50"},
                     {55, false, ""},
                     {55, true, "当前值55高于阈值:50"},
                     {55, false, ""}});
}

// The arguments of a CheckThresholdBool report, in the host signature's order.
Json::Value report_args(int level, const std::string& signal, const std::string& alarm_id,
                        const std::string& value, const std::string& message, bool state) {
    Json::Value args(Json::arrayValue);
    for (const Json::Value& arg :
         {Json::Value(level), Json::Value(signal), Json::Value(alarm_id), Json::Value(value),
          Json::Value(message), Json::Value(state), Json::Value(1)}) {
        args.append(arg);
    }
    return args;
}

TEST(ThresholdGroups, ReportCarriesLevelSignalIdentifierValueTextAndSerialOne) {
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.device.alarm_configuration().up2_thresholds_["温度"] = Rule{"T002", 0.05f, 0.0f, false, 4};
    h.device.alarm_configuration().low2_thresholds_["湿度"] = Rule{"H004", 10.0f, 12.0f, false, 3};
    h.device.json_["温度"] = static_cast<double>(0.1f);
    h.device.json_["湿度"] = 20.0;
    const auto reports = round_reports(h);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].args,
              report_args(4, "温度", "T002", "0.100000001", "当前值0.100000001高于阈值:0.0500000007", true));
    EXPECT_EQ(reports[1].args, report_args(3, "湿度", "H004", "20", "", false))
        << "an inactive rule is reported too, with an empty message";
}

TEST(ThresholdGroups, ComparesInSinglePrecision) {
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.device.alarm_configuration().up_thresholds_["温度"] = Rule{"T001", 55.0f, 50.0f, false, 2};
    h.device.alarm_configuration().low_thresholds_["湿度"] = Rule{"H003", 10.0f, 12.0f, true, 2};
    // Below 55 and above 10 as doubles, but 55 and 10 as floats: both reach their limits.
    h.device.json_["温度"] = 54.9999999;
    h.device.json_["湿度"] = 11.9999999;
    const auto reports = round_reports(h);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].args[5].asBool()) << "reaches the threshold";
    EXPECT_EQ(reports[0].args[3].asString(), "55");
    EXPECT_FALSE(reports[1].args[5].asBool()) << "reaches the recovery threshold";
}

TEST(ThresholdGroups, MembersWithoutANumberAreSkippedAndKeepTheirState) {
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.device.alarm_configuration().up_thresholds_["温度"] = Rule{"T001", 55.0f, 50.0f, true, 2};
    h.device.alarm_configuration().up_thresholds_["露点"] =
        Rule{"T002", 55.0f, 50.0f, false, 2};  // never a member
    for (const Json::Value& value :
         {Json::Value("正常"), Json::Value("60"), Json::Value(Json::nullValue), Json::Value(true),
          Json::Value(Json::arrayValue), Json::Value(Json::objectValue)}) {
        h.device.json_["温度"] = value;
        EXPECT_TRUE(round_reports(h).empty()) << value.toStyledString();
        EXPECT_TRUE(std::get<3>(h.device.alarm_configuration().up_thresholds_.at("温度")));
    }
    EXPECT_FALSE(h.device.json_.root().isMember("露点")) << "a missing member is not added";
    h.device.json_["温度"] = 12;  // an integer member is a number as well
    const auto reports = round_reports(h);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].args[5].asBool()) << "recovered at 12";
}

TEST(ThresholdGroups, NumbersOfARealRoundAreReadBackAsTheirFloats) {
    // The snapshot holds the float widened to double (ambient temperature 1 / 10, line A voltage
    // 12345 / 100); the report writes the float again with nine digits.
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.unit.set(4247, 1);
    h.set_s32(4, 12345);
    h.device.alarm_configuration().up_thresholds_["环境温度"] = Rule{"E001", 0.05f, 0.0f, false, 2};
    h.device.alarm_configuration().low_thresholds_["A路进线-电压"] = Rule{"V003", 200.0f, 210.0f, false, 1};
    h.run_round();
    ASSERT_DOUBLE_EQ(h.device.json_["A路进线-电压"].asDouble(), 123.44999694824219);
    const auto reports = h.calls.named("CheckThresholdBool");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].args, report_args(2, "环境温度", "E001", "0.100000001",
                                           "当前值0.100000001高于阈值:0.0500000007", true));
    EXPECT_EQ(reports[1].args,
              report_args(1, "A路进线-电压", "V003", "123.449997", "当前值123.449997低于阈值:200", true));
}

TEST(ThresholdGroups, HostKeepsSeveralRulesOfOneSignalApart) {
    // An upper and a lower rule on the same signal: only real changes reach the batch check.
    DeviceHarness h;
    h.device.b_mode_ = 5;
    h.device.alarm_configuration().up_thresholds_["温度"] = Rule{"T001", 55.0f, 50.0f, false, 2};
    h.device.alarm_configuration().low_thresholds_["温度"] = Rule{"T003", 10.0f, 12.0f, false, 2};
    h.device.json_["温度"] = 5.0;
    round_reports(h);
    EXPECT_EQ(h.calls.named("DoBatchCheckThreshold").at(0).args[0].asUInt(), 1u);
    round_reports(h);
    EXPECT_EQ(h.calls.named("DoBatchCheckThreshold").at(0).args[0].asUInt(), 0u)
        << "a steady value changes nothing";
}

// --- Analogue report decision ------------------------------------------------------------------

Setting band_setting(bool absolute, float band, float last_value) {
    Setting s;
    (absolute ? s.abs_enabled : s.pct_enabled) = true;
    (absolute ? s.abs_band : s.pct_band) = band;
    s.last_value = last_value;
    return s;
}

struct BandCase {
    bool absolute;
    float band;
    float last_value;
    float value;
    bool due;
};

TEST(AnalogueReport, BandEdgesAreNotDue) {
    const BandCase cases[] = {
        {true, 2, 10, 12, false},
        {true, 2, 10, 12.5f, true},
        {true, 2, 10, 8, false},
        {true, 2, 10, 7.9f, true},
        {false, 10, 200, 220, false},
        {false, 10, 200, 220.5f, true},
        {false, 10, 200, 180, false},
        {false, 10, 200, 179, true},
        {false, 10, 0, 0, false},
        {false, 10, 0, 0.001f, true},
        {false, 10, 0, -0.001f, true},
        // Below a negative last value the band is the mirror image.
        {false, 10, -200, -200, false},
        {false, 10, -200, -220, false},
        {false, 10, -200, -220.5f, true},
        {false, 10, -200, -179, true},
        // Around 3 the bounds are 3 x 110 / 100 = 3.29999995 and 3 x 90 / 100 = 2.70000005 as
        // floats, taken in that order; 3 x (110 / 100) would give 3.30000019 and 2.69999981.
        {false, 10, 3, 3.3f, false},
        {false, 10, 3, std::nextafter(3.3f, 4.0f), true},
        {false, 10, 3, 2.7f, false},
        {false, 10, 3, std::nextafter(2.7f, 0.0f), true},
    };
    for (const auto& c : cases) {
        DeviceHarness h;
        h.device.bao_settings_["AI0123456789"] = band_setting(c.absolute, c.band, c.last_value);
        const std::string what =
            std::string(c.absolute ? "absolute " : "percent ") + framework::value_text(c.band) + " around " +
            framework::value_text(c.last_value) + ", value " + framework::value_text(c.value);
        EXPECT_EQ(h.device.CheckAOReport("AI0623451789", "AI0123456789", c.value), c.due) << what;
        EXPECT_EQ(h.calls.named("CheckAOReport").size(), c.due ? 1u : 0u) << what;
        EXPECT_EQ(h.device.bao_settings_.at("AI0123456789").last_value, c.due ? c.value : c.last_value)
            << what;
    }
}

TEST(AnalogueReport, ReportUpdatesLastValueAndTimeAndTellsTheHost) {
    DeviceHarness h;
    h.device.bao_settings_["AI0123456789"] = band_setting(true, 2, 10);
    ASSERT_TRUE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 13.0f));
    const Setting& s = h.device.bao_settings_.at("AI0123456789");
    EXPECT_EQ(s.last_value, 13.0f);
    EXPECT_EQ(s.last_time, static_cast<std::uint32_t>(h.clock.epoch_now()));
    const auto reports = h.calls.named("CheckAOReport");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].args[0].asString(), "AI0123456789");
    EXPECT_EQ(reports[0].args[1].asDouble(), 13.0);
    EXPECT_FALSE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 14.0f))
        << "judged against the new last value";
}

TEST(AnalogueReport, FirstUseCopiesTheTemplateSettingWhole) {
    DeviceHarness h;
    Setting model = band_setting(true, 2, 10);
    model.last_time = 1234;
    h.device.bao_settings_["AI0623451789"] = model;
    EXPECT_FALSE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 11.0f));
    ASSERT_EQ(h.device.bao_settings_.count("AI0123456789"), 1u) << "created even when not due";
    EXPECT_EQ(h.device.bao_settings_.at("AI0123456789").last_time, 1234u);
    EXPECT_TRUE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 12.5f));
    EXPECT_EQ(h.device.bao_settings_.at("AI0123456789").last_value, 12.5f);
    EXPECT_EQ(h.device.bao_settings_.at("AI0623451789").last_value, 10.0f)
        << "the template's entry is left alone";
    h.device.bao_settings_["AI0623451789"].abs_band = 100;
    EXPECT_TRUE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 15.0f))
        << "later template changes do not reach the signal's own entry";
}

TEST(AnalogueReport, WithoutAnySettingNothingIsReportedOrCreated) {
    DeviceHarness h;
    EXPECT_FALSE(h.device.CheckAOReport("AI0623451789", "AI0123456789", 1e9f));
    EXPECT_TRUE(h.device.bao_settings_.empty());
    EXPECT_TRUE(h.calls.calls.empty());
}

TEST(AnalogueReport, AllFlagsOffNeverReports) {
    DeviceHarness h;
    Setting off;
    off.abs_band = 0;
    off.period_minutes = 0;
    off.last_value = 10;
    h.device.bao_settings_["AI0123456789"] = off;
    for (float value : {10.0f, -1e9f, 1e9f}) {
        EXPECT_FALSE(h.device.CheckAOReport("AI0623451789", "AI0123456789", value));
    }
    EXPECT_TRUE(h.calls.named("CheckAOReport").empty());
}

// A clock whose epoch seconds move on by one at every reading.
class TickingClock : public framework::Clock {
public:
    explicit TickingClock(std::time_t start) : now_(start) {}
    std::time_t epoch_now() const override { return now_++; }

private:
    mutable std::time_t now_;
};

TEST(AnalogueReport, PeriodIsJudgedToTheSecondAndStampedWithASecondReading) {
    // Floats are 128 apart at this size: as floats, t0 is 1792000000 and t0 + 2 is 1792000128.
    const std::time_t t0 = 1792000063;
    struct PeriodCase {
        std::time_t now;
        bool due;
    } const cases[] = {
        {t0 + 2, false},
        {t0 + 60, false},  // on the edge
        {t0 + 61, true},
    };
    for (const auto& c : cases) {
        DeviceHarness h;
        TickingClock clock(c.now);
        h.device.set_clock(clock);
        Setting s;
        s.period_enabled = true;
        s.period_minutes = 1;
        s.last_time = static_cast<std::uint32_t>(t0);
        s.last_value = 5;
        h.device.bao_settings_["AI0123456789"] = s;
        EXPECT_EQ(h.device.CheckAOReport("AI0623451789", "AI0123456789", 5.0f), c.due)
            << c.now - t0 << " s after the last report";
        if (c.due) {
            EXPECT_EQ(h.device.bao_settings_.at("AI0123456789").last_time,
                      static_cast<std::uint32_t>(c.now + 1))
                << "the time is read again for the update";
        }
    }
}

}  // namespace
