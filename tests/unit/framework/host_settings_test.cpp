#include <gtest/gtest.h>

#include <json/reader.h>

#include "device_harness.h"

namespace {

Json::Value parse(const std::string& text) {
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors)) << errors;
    return root;
}

TEST(HostSettings, LevelsAndThresholdsFromNumbersOrTexts) {
    DeviceHarness h;
    h.device.SMDVDevice::InitSetting(parse(R"({"thresholdSetting": {
        "AL01": {"AlarmLevel": "3", "Threshold": 10.5},
        "AL02": {"AlarmLevel": 2.7, "Threshold": "12.25x"},
        "AL03": {"AlarmLevel": "x", "SignalName": "电流"},
        "AL04": 5,
        "AL05": {"AlarmLevel": null, "Threshold": [1]}}})"));
    EXPECT_EQ(h.device.alarm_levels_, (std::map<std::string, int>{{"AL01", 3}, {"AL02", 2}, {"AL03", 0}}));
    EXPECT_EQ(h.device.alarm_thresholds_, (std::map<std::string, float>{{"AL01", 10.5f}, {"AL02", 12.25f}}));
}

TEST(HostSettings, ReportSettingsTurnOnTheFlagsOfTheirKeys) {
    DeviceHarness h;
    h.device.bao_settings_["AI0123456789"].last_value = 99;
    h.device.SMDVDevice::InitSetting(parse(R"({"aoReportSetting": {
        "AI0123456789": {"absBand": 2},
        "AI0623451789": {"pctBand": 10.5, "periodMinutes": 15},
        "AI0000000000": {"absBand": "2"},
        "AI1111111111": true}})"));
    ASSERT_EQ(h.device.bao_settings_.size(), 3u);
    const auto& own = h.device.bao_settings_.at("AI0123456789");
    EXPECT_TRUE(own.abs_enabled);
    EXPECT_EQ(own.abs_band, 2.0f);
    EXPECT_FALSE(own.pct_enabled);
    EXPECT_FALSE(own.period_enabled);
    EXPECT_EQ(own.last_value, 0.0f) << "a configured setting starts afresh";
    const auto& model = h.device.bao_settings_.at("AI0623451789");
    EXPECT_FALSE(model.abs_enabled);
    EXPECT_TRUE(model.pct_enabled);
    EXPECT_EQ(model.pct_band, 10.5f);
    EXPECT_TRUE(model.period_enabled);
    EXPECT_EQ(model.period_minutes, 15.0f);
    EXPECT_EQ(model.last_time, 0u);
    EXPECT_FALSE(h.device.bao_settings_.at("AI0000000000").abs_enabled) << "a band must be a number";
}

TEST(HostSettings, SettingsOfOtherShapesChangeNothing) {
    for (const char* text : {"[1, 2]", "null", R"({"thresholdSetting": [1], "aoReportSetting": 3})"}) {
        DeviceHarness h;
        EXPECT_TRUE(h.device.SMDVDevice::InitSetting(parse(text)));
        EXPECT_TRUE(h.device.alarm_levels_.empty()) << text;
        EXPECT_TRUE(h.device.bao_settings_.empty()) << text;
    }
}

}  // namespace
