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
    int warnings;
    std::string report;
};

CheckResult run_check(const ConfigurationCheckRequest& request) {
    std::ostringstream report;
    const ConfigurationCheckResult found = check_configuration(request, report);
    return {found.problems, found.warnings, report.str()};
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

TEST(ConfigurationCheck, ProfilesAndFilesThatConfigureNothing) {
    const std::string unicom_file =
        "AI:\n  环境温度: \"0406101001,x\"\nALARM:\n  系统总告警状态: \"0417001001\"\n";
    struct Case {
        std::string file;  // empty: no configuration file
        std::string settings_json;
        int b_mode;  // -1: as the settings say
        int problems;
        int warnings;
        std::string line;
    } cases[] = {
        {"", "{}", -1, 1, 0,
         "problem: ini: file: none of ./ini/1.yaml, ./ini/1.ini, ./ini/px46tr_k.yaml, ./ini/px46tr_k.ini, "
         "./ini/unicom/1.yaml, ./ini/unicom/1.ini, ./ini/unicom/px46tr_k.yaml, ./ini/unicom/px46tr_k.ini "
         "exists: under profile 1 (unicom) no alarm is reported\n"},
        {"", "{}", 3, 1, 0, "exists: under profile 3 (mobile) no alarm is reported\n"},
        {"", "{}", 7, 1, 0,
         "profile: 7 (no such profile)\ntables: AI 0, ALARM 0, alarm texts 0, alarm names 0, thresholds up 0 "
         "up2 0 "
         "low 0 low2 0\nproblem: settings: profile 7: names no profile: nothing is configured and no alarm "
         "is "
         "reported; the profiles are 1 (unicom), 2 (telecom), 3 (mobile), 5 (threshold groups)\n"},
        {"", R"({"appSetting": {"b_mode": 9}})", -1, 1, 0, "problem: settings: profile 9: names no profile"},
        {"", R"({"appSetting": {"b_mode": "three"}})", -1, 2, 0,
         "problem: settings: appSetting b_mode: \"three\" is not a number; the device reads it as 0\n"},
        {"", R"({"appSetting": {"b_mode": "3"}})", -1, 1, 0, "under profile 3 (mobile)"},
        {"", "{}", 2, 0, 1, "warning: settings: profile 2 (telecom): configures no alarm table"},
        {unicom_file, "{}", 5, 0, 2,
         "warning: ./ini/1.yaml: AI: section not read under profile 5 (threshold groups): its entries are "
         "unused\nwarning: ./ini/1.yaml: ALARM: section not read"},
        {"ALARM:\n  环境温度_1: \"0418001001,upper\"\nAI:\n  x: y\n", "{}", 3, 0, 1,
         "warning: ./ini/1.yaml: AI: section not read under profile 3 (mobile)"},
        {unicom_file, "{}", -1, 0, 0, "clean\n"},
    };
    for (const Case& c : cases) {
        TempWorkDir dir;
        if (!c.file.empty()) dir.write("ini/1.yaml", c.file);
        ConfigurationCheckRequest request;
        if (c.b_mode >= 0) request = profile(c.b_mode);
        std::istringstream text(c.settings_json);
        Json::CharReaderBuilder builder;
        std::string errors;
        ASSERT_TRUE(Json::parseFromStream(builder, text, &request.settings, &errors)) << errors;
        const auto result = run_check(request);
        EXPECT_EQ(result.problems, c.problems) << result.report;
        EXPECT_EQ(result.warnings, c.warnings) << result.report;
        EXPECT_NE(result.report.find(c.line), std::string::npos) << c.line << "\n" << result.report;
    }
}

}  // namespace
