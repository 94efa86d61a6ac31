#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <json/reader.h>

#include "configuration_check.h"
#include "temp_work_dir.h"

#ifndef PX46_EXAMPLES_DIR
#error "the tests need the examples folder"
#endif

namespace {

const std::string kExamples = PX46_EXAMPLES_DIR;

Json::Value json_file(const std::string& path) {
    std::ifstream in(path);
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(builder, in, &value, &errors)) << errors;
    return value;
}

struct CheckResult {
    int problems;
    std::string report;
};

CheckResult run_check(const ConfigurationCheckRequest& request) {
    std::ostringstream report;
    const int problems = check_configuration(request, report);
    return {problems, report.str()};
}

ConfigurationCheckRequest profile(int b_mode, Json::Value settings = Json::Value(Json::objectValue)) {
    ConfigurationCheckRequest request;
    request.settings = std::move(settings);
    request.has_profile = true;
    request.profile = b_mode;
    return request;
}

TEST(ConfigurationCheck, ShippedExamplesAreClean) {
    {
        TempWorkDir dir;
        dir.copy(kExamples + "/unicom.yaml", "ini/1.yaml");
        const auto result = run_check(ConfigurationCheckRequest{});
        EXPECT_EQ(result.problems, 0) << result.report;
        EXPECT_NE(result.report.find("file: ./ini/1.yaml\nprofile: 1 (unicom)\n"), std::string::npos)
            << result.report;
    }
    {
        TempWorkDir dir;
        dir.copy(kExamples + "/unicom.ini", "ini/px46tr_k.ini");
        const auto result = run_check(ConfigurationCheckRequest{});
        EXPECT_EQ(result.problems, 0) << result.report;
    }
    {
        TempWorkDir dir;
        dir.copy(kExamples + "/mobile.ini", "ini/mobile/px46tr_k.ini");
        const auto result = run_check(profile(3, json_file(kExamples + "/mobile_settings.json")));
        EXPECT_EQ(result.problems, 0) << result.report;
        EXPECT_NE(result.report.find("file: ./ini/mobile/px46tr_k.ini"), std::string::npos);
    }
    {
        TempWorkDir dir;
        ConfigurationCheckRequest request;
        request.settings = json_file(kExamples + "/threshold_groups_settings.json");
        const auto result = run_check(request);
        EXPECT_EQ(result.problems, 0) << result.report;
        EXPECT_NE(result.report.find("profile: 5"), std::string::npos) << result.report;
    }
}

TEST(ConfigurationCheck, UnicomNamesThatMatchNothing) {
    TempWorkDir dir;
    dir.write("ini/1.yaml",
              "AI:\n"
              "  A路进线-电压: \"0406101001,x\"\n"
              "  A路进线-电流: \"0406102001,x\"\n"       // the member is 'A路路进线-电流'
              "  A路进线总开关状态: \"0406103001,x\"\n"  // a status word, not a number
              "  环境温度: \"04061,x\"\n"                // identifier too short
              "ALARM:\n"
              "  系统总告警状态: \"0417001001\"\n"
              "  出线支路05开关告警: \"0417001002\"\n"     // switch alarms are never reported
              "  出线支路5电流越上线: \"0417001003\"\n");  // feeder numbers print as 05
    const auto result = run_check(ConfigurationCheckRequest{});
    EXPECT_EQ(result.problems, 5) << result.report;
    for (const char* key : {"AI A路进线-电流", "AI A路进线总开关状态", "AI 环境温度",
                            "ALARM 出线支路05开关告警", "ALARM 出线支路5电流越上线"}) {
        EXPECT_NE(result.report.find("problem: ./ini/1.yaml: " + std::string(key) + ":"), std::string::npos)
            << key << "\n"
            << result.report;
    }
    // Misspelt names get the nearest catalogue names; a status word has no numeric neighbour.
    EXPECT_NE(result.report.find("has this name; nearest: A路路进线-电流"), std::string::npos)
        << result.report;
    EXPECT_NE(result.report.find("has this name; nearest: 出线支路05电流越上线"), std::string::npos)
        << result.report;
    EXPECT_EQ(result.report.find("AI A路进线总开关状态: no numeric snapshot member has this name;"),
              std::string::npos);
}

TEST(ConfigurationCheck, MobileRulesWithUnknownSignalOrComparison) {
    TempWorkDir dir;
    dir.write("ini/mobile/1.ini",
              "[ALARM]\n"
              "环境温度_1=0418001001,upper\n"
              "环境温度_2=0418001002,above\n"
              "机柜温度_1=0418001003,lower\n"
              "环境湿度=0418001004\n");
    const auto result = run_check(profile(3));
    EXPECT_EQ(result.problems, 3) << result.report;
    EXPECT_NE(result.report.find("ALARM 环境温度_2: comparison 'above'"), std::string::npos) << result.report;
    EXPECT_NE(result.report.find("ALARM 机柜温度_1: no snapshot member"), std::string::npos);
    EXPECT_NE(result.report.find("ALARM 环境湿度: comparison '0418001004'"), std::string::npos);
}

TEST(ConfigurationCheck, ThresholdGroupsThatFlapOrMatchNothing) {
    TempWorkDir dir;
    Json::Value settings;
    settings["appSetting"]["b_mode"] = 5;
    Json::Value& t = settings["thresholdSetting"];
    t["a"]["ID"] = "0418001";
    t["a"]["SignalName"] = "环境温度";
    t["a"]["UpValue"] = "50";
    t["a"]["UpReconverValue"] = "60";  // above the threshold: flaps
    t["a"]["UpAlarmLevel"] = "2";
    t["a"]["LowValue"] = "10";
    t["a"]["LowReconverValue"] = "12";  // fine
    t["a"]["LowAlarmLevel"] = "2";
    t["b"]["ID"] = "0418002";
    t["b"]["SignalName"] = "系统总告警状态";  // a status word
    t["b"]["Low2Value"] = "10";
    t["b"]["Low2ReconverValue"] = "8";  // below a lower threshold: flaps
    t["b"]["Low2AlarmLevel"] = "2";
    ConfigurationCheckRequest request;
    request.settings = settings;
    request.settings_path = "site.json";
    const auto result = run_check(request);
    EXPECT_EQ(result.problems, 3) << result.report;
    EXPECT_NE(
        result.report.find(
            "problem: site.json: thresholdSetting 0418001001 (Up): recovery 60 lies above threshold 50"),
        std::string::npos)
        << result.report;
    EXPECT_NE(result.report.find("thresholdSetting 0418002004 (Low2): no numeric snapshot member"),
              std::string::npos)
        << result.report;
    EXPECT_NE(result.report.find("thresholdSetting 0418002004 (Low2): recovery 8 lies below"),
              std::string::npos);
}

TEST(ConfigurationCheck, MalformedFileGivesTheLibrarysMessage) {
    TempWorkDir dir;
    dir.write("ini/1.yaml", "AI: [unclosed\n");
    const auto result = run_check(ConfigurationCheckRequest{});
    EXPECT_EQ(result.problems, 1) << result.report;
    EXPECT_NE(result.report.find("problem: ./ini/1.yaml: load: yaml-cpp: error at line"), std::string::npos)
        << result.report;
}

TEST(ConfigurationCheck, NoFileIsNotAProblem) {
    TempWorkDir dir;
    const auto result = run_check(ConfigurationCheckRequest{});
    EXPECT_EQ(result.problems, 0);
    EXPECT_NE(result.report.find("file: none found"), std::string::npos);
}

}  // namespace
