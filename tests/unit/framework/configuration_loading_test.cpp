#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <yaml-cpp/exceptions.h>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/ini_parser.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recording_observer.h"
#include "recording_sink.h"
#include "temp_work_dir.h"
#include "test_device.h"

namespace {

Json::Value json(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    if (!reader.parse(text, value)) throw std::runtime_error("bad JSON in test: " + text);
    return value;
}

Json::Value mode_settings(const Json::Value& mode) {
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = mode;
    return settings;
}

// A device with data identifier 77 in a fresh working directory.
struct ConfiguredDevice {
    ConfiguredDevice() {
        device.set_observer(&calls);
        device.set_diagnostic_sink(log);
        device.Init(std::weak_ptr<SMDController>(), 77, Json::Value(Json::objectValue));
    }

    // InitSetting with its diagnostic lines kept; an exception is kept, not thrown.
    struct Run {
        std::string out;
        bool result = false;
        std::exception_ptr error;
    };
    Run init(const Json::Value& settings) {
        Run run;
        log.take();
        try {
            run.result = device.InitSetting(settings);
        } catch (...) {
            run.error = std::current_exception();
        }
        run.out = log.take();
        return run;
    }
    std::size_t host_init_calls() const { return calls.named("InitSetting").size(); }

    TempWorkDir dir;
    RecordingObserver calls;
    RecordingSink log;
    TestDevice device;
};

// The output from the line after "parse ini/yaml filename:..." on.
std::string after_file_name(const std::string& out) {
    const auto at = out.find("parse ini/yaml filename:");
    if (at == std::string::npos) return "<no file name line>";
    return out.substr(out.find('\n', at) + 1);
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

template <typename Exception>
bool threw(const ConfiguredDevice::Run& run) {
    if (!run.error) return false;
    try {
        std::rethrow_exception(run.error);
    } catch (const Exception&) {
        return true;
    } catch (...) {
        return false;
    }
}

// --- Lookup ------------------------------------------------------------------------------------

TEST(ConfigurationLookup, NothingFoundTriesAllEightThenStillHandsSettingsToHost) {
    ConfiguredDevice d;
    const Json::Value settings = json(R"({"other": 1})");
    const auto run = d.init(settings);
    EXPECT_EQ(run.out,
              "test ini/yaml:./ini/77.yaml\n"
              "test ini/yaml:./ini/77.ini\n"
              "test ini/yaml:./ini/px46tr_k.yaml\n"
              "test ini/yaml:./ini/px46tr_k.ini\n"
              "test ini/yaml:./ini/unicom/77.yaml\n"
              "test ini/yaml:./ini/unicom/77.ini\n"
              "test ini/yaml:./ini/unicom/px46tr_k.yaml\n"
              "test ini/yaml:./ini/unicom/px46tr_k.ini\n"
              "data_id:77 model:px46tr_k b ini not found\n"
              "parse ini/yaml filename:\n");
    EXPECT_TRUE(run.result);
    ASSERT_EQ(d.host_init_calls(), 1u);
    EXPECT_EQ(d.calls.named("InitSetting")[0].args[0], settings);
    EXPECT_EQ(d.device.round_record().data_.data_id, 77u);
}

TEST(ConfigurationLookup, LastCandidateUnderMobileIsFoundAndReadAsIni) {
    ConfiguredDevice d;
    d.dir.write("ini/mobile/px46tr_k.ini", "[ALARM]\n环境温度_high=0418001001,upper\n");
    const auto run = d.init(mode_settings("3"));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(run.out,
              "InitSetting 77 b_mode_:3\n"
              "test ini/yaml:./ini/77.yaml\n"
              "test ini/yaml:./ini/77.ini\n"
              "test ini/yaml:./ini/px46tr_k.yaml\n"
              "test ini/yaml:./ini/px46tr_k.ini\n"
              "test ini/yaml:./ini/mobile/77.yaml\n"
              "test ini/yaml:./ini/mobile/77.ini\n"
              "test ini/yaml:./ini/mobile/px46tr_k.yaml\n"
              "test ini/yaml:./ini/mobile/px46tr_k.ini\n"
              "parse ini/yaml filename:./ini/mobile/px46tr_k.ini\n"
              "AI 77\n"
              "here 1\n");
    EXPECT_EQ(d.device.alarm_configuration().alarm_rules_,
              (std::map<std::string, std::string>{{"环境温度_high", "0418001001,upper"}}));
}

TEST(ConfigurationLookup, EachCandidateBeatsEveryLaterOne) {
    const std::vector<std::string> candidates = {
        "ini/77.yaml",         "ini/77.ini",         "ini/px46tr_k.yaml",         "ini/px46tr_k.ini",
        "ini/telecom/77.yaml", "ini/telecom/77.ini", "ini/telecom/px46tr_k.yaml", "ini/telecom/px46tr_k.ini"};
    for (std::size_t first = 0; first < candidates.size(); ++first) {
        ConfiguredDevice d;
        for (std::size_t i = first; i < candidates.size(); ++i) d.dir.write(candidates[i], "");
        const auto run = d.init(mode_settings(2));
        ASSERT_FALSE(run.error) << candidates[first];
        EXPECT_EQ(count_of(run.out, "test ini/yaml:"), first + 1) << candidates[first];
        EXPECT_NE(run.out.find("parse ini/yaml filename:./" + candidates[first] + "\n"), std::string::npos)
            << run.out;
        EXPECT_EQ(d.host_init_calls(), 1u);
    }
}

TEST(ConfigurationLookup, DeviceIniBeatsModelYaml) {
    ConfiguredDevice d;
    d.dir.write("ini/77.ini", "[AI]\nx=from-ini\n[ALARM]\ny=1\n");
    d.dir.write("ini/px46tr_k.yaml", "AI:\n  x: from-yaml\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("x").first, "from-ini");
    EXPECT_EQ(run.out.find("before load"), std::string::npos) << "the INI branch writes no load lines";
}

TEST(ConfigurationLookup, ExistingButUnreadableCandidateIsChosenAndItsErrorReachesCaller) {
    ConfiguredDevice d;
    // A directory passes the existence test but cannot be read as a file, even by root.
    std::filesystem::create_directories(d.dir.path() / "ini/77.ini");
    d.dir.write("ini/px46tr_k.yaml", "AI:\n  x: y\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    EXPECT_TRUE(threw<boost::property_tree::ini_parser_error>(run));
    EXPECT_EQ(count_of(run.out, "test ini/yaml:"), 2u);
    EXPECT_EQ(after_file_name(run.out), "");
    EXPECT_NE(run.out.find("parse ini/yaml filename:./ini/77.ini\n"), std::string::npos);
    EXPECT_TRUE(d.device.alarm_configuration().ai_signals_.empty());
    EXPECT_EQ(d.host_init_calls(), 0u);
    EXPECT_TRUE(d.device.json_mutex_.try_lock()) << "the table lock is free again";
    d.device.json_mutex_.unlock();
}

// --- Operator profile ------------------------------------------------------------------------------

TEST(OperatorProfile, TextAndNumberGiveTheSameProfileAndLine) {
    ConfiguredDevice as_text;
    ConfiguredDevice as_number;
    const auto text_run = as_text.init(mode_settings("3"));
    const auto number_run = as_number.init(mode_settings(3));
    EXPECT_EQ(as_text.device.b_mode_, 3);
    EXPECT_EQ(as_number.device.b_mode_, 3);
    EXPECT_EQ(text_run.out.substr(0, text_run.out.find('\n') + 1), "InitSetting 77 b_mode_:3\n");
    EXPECT_EQ(text_run.out, number_run.out);
}

TEST(OperatorProfile, LeadingIntegerOfTheTextAsAtoiReadsIt) {
    const std::vector<std::pair<Json::Value, int>> cases = {
        {"5 groups", 5}, {" 2", 2}, {"-1", -1}, {"mobile", 0}, {"", 0}, {2.7, 2}, {true, 0}};
    for (const auto& [mode, expected] : cases) {
        ConfiguredDevice d;
        const auto run = d.init(mode_settings(mode));
        ASSERT_FALSE(run.error) << mode;
        EXPECT_EQ(d.device.b_mode_, expected) << mode;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
                  "InitSetting 77 b_mode_:" + std::to_string(expected));
    }
}

TEST(OperatorProfile, KeptWhenTheSettingsNameNone) {
    ConfiguredDevice d;
    d.init(mode_settings(3));
    for (const char* settings :
         {"{}", R"({"appSetting": "5"})", R"({"appSetting": {}})", R"({"appSetting": {"b_mode": null}})",
          R"({"appSetting": null})", "[5]", "null"}) {
        const auto run = d.init(json(settings));
        ASSERT_FALSE(run.error) << settings;
        EXPECT_EQ(d.device.b_mode_, 3) << settings;
        EXPECT_EQ(run.out.find("InitSetting "), std::string::npos) << settings;
        EXPECT_NE(run.out.find("test ini/yaml:./ini/mobile/77.yaml"), std::string::npos) << settings;
    }
    EXPECT_EQ(d.host_init_calls(), 8u);
}

TEST(OperatorProfile, ModeOfTheWrongKindReachesCaller) {
    ConfiguredDevice d;
    const auto run = d.init(mode_settings(json(R"({"value": 3})")));
    EXPECT_TRUE(threw<Json::LogicError>(run));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(d.host_init_calls(), 0u);
}

// --- The file's groups ------------------------------------------------------------------------

TEST(ConfigurationFile, YamlUnderUnicomLogsEachStepAndEachAlarm) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml",
                "AI:\n  环境温度: \"0418101001,环境温度\"\n  A路进线-电压: 0406101001\n"
                "ALARM:\n  系统总告警状态: \"0417001001,total\"\n  出线支路01开关分闸: 0417005001\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(after_file_name(run.out),
              "before load\n"
              "after load\n"
              "before parse alarm\n"
              "parse alarm:系统总告警状态 >> 0417001001\n"
              "parse alarm:出线支路01开关分闸 >> 0417005001\n"
              "after parse alarm\n"
              "AI 77\n"
              "first:A路进线-电压 second:0406101001 name:0406101001\n"
              "first:环境温度 second:0418101001 name:环境温度\n");
    EXPECT_EQ(d.device.alarm_configuration().alarm_rules_.at("系统总告警状态"), "0417001001");
    EXPECT_EQ(d.host_init_calls(), 1u);
}

TEST(ConfigurationFile, ShippedYamlAndIniExamplesGiveTheSameTables) {
    ConfiguredDevice from_yaml;
    ConfiguredDevice from_ini;
    from_yaml.dir.copy(PX46_EXAMPLES_DIR "/unicom.yaml", "ini/77.yaml");
    from_ini.dir.copy(PX46_EXAMPLES_DIR "/unicom.ini", "ini/77.ini");
    const auto yaml_run = from_yaml.init(Json::Value(Json::objectValue));
    const auto ini_run = from_ini.init(Json::Value(Json::objectValue));
    ASSERT_FALSE(yaml_run.error);
    ASSERT_FALSE(ini_run.error);
    EXPECT_EQ(from_yaml.device.alarm_configuration().ai_signals_.size(), 6u);
    EXPECT_EQ(from_yaml.device.alarm_configuration().alarm_rules_.size(), 8u);
    EXPECT_EQ(from_yaml.device.alarm_configuration().ai_signals_,
              from_ini.device.alarm_configuration().ai_signals_);
    EXPECT_EQ(from_yaml.device.alarm_configuration().alarm_rules_,
              from_ini.device.alarm_configuration().alarm_rules_);
    EXPECT_EQ(from_yaml.device.alarm_configuration().ai_signals_.at("A路路进线-电流"),
              (std::pair<std::string, std::string>{"0406102001", "A路进线电流"}));
}

TEST(ConfigurationFile, ValuesSplitAtTheFirstCommaOnly) {
    ConfiguredDevice d;
    d.dir.write("ini/77.ini",
                "[AI]\nplain=0406101001\ntwo=0406101002,a,b\nempty=\n"
                "[ALARM]\nalarm=0417001001,x,y\n");
    ASSERT_FALSE(d.init(Json::Value(Json::objectValue)).error);
    using Ids = std::pair<std::string, std::string>;
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("plain"), (Ids{"0406101001", "0406101001"}));
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("two"), (Ids{"0406101002", "a,b"}));
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("empty"), (Ids{"", ""}));
    EXPECT_EQ(d.device.alarm_configuration().alarm_rules_.at("alarm"), "0417001001");
}

TEST(ConfigurationFile, MobileKeepsWholeAlarmValuesAndReadsNoAi) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI:\n  x: 0406101001\nALARM:\n  环境温度_high: \"0418001001,upper\"\n");
    const auto run = d.init(mode_settings(3));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(d.device.alarm_configuration().alarm_rules_,
              (std::map<std::string, std::string>{{"环境温度_high", "0418001001,upper"}}));
    EXPECT_TRUE(d.device.alarm_configuration().ai_signals_.empty());
    EXPECT_EQ(run.out.find("parse alarm:"), std::string::npos);
}

TEST(ConfigurationFile, TelecomLoadsTheFileButFillsNothing) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI:\n  x: 0406101001\nALARM:\n  y: 0417001001\n");
    const auto run = d.init(mode_settings(2));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(after_file_name(run.out),
              "before load\nafter load\nbefore parse alarm\nafter parse alarm\nAI 77\n");
    EXPECT_TRUE(d.device.alarm_configuration().ai_signals_.empty());
    EXPECT_TRUE(d.device.alarm_configuration().alarm_rules_.empty());
}

TEST(ConfigurationFile, AbsentOrEmptyYamlGroupsAreSkipped) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI:\nOTHER:\n  x: 1\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    ASSERT_FALSE(run.error);
    EXPECT_TRUE(d.device.alarm_configuration().ai_signals_.empty());
    EXPECT_TRUE(d.device.alarm_configuration().alarm_rules_.empty());
}

TEST(ConfigurationFile, ReloadOverwritesEntriesButNeverRemovesThem) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI:\n  a: \"1,1\"\n  b: \"2,2\"\nALARM:\n  p: P1\n  q: Q1\n");
    ASSERT_FALSE(d.init(Json::Value(Json::objectValue)).error);
    d.dir.write("ini/77.yaml", "AI:\n  b: \"3,3\"\n  c: \"4,4\"\nALARM:\n  q: Q2\n");
    ASSERT_FALSE(d.init(Json::Value(Json::objectValue)).error);
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.size(), 3u);
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("a").first, "1");
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.at("b").first, "3");
    EXPECT_EQ(d.device.alarm_configuration().alarm_rules_,
              (std::map<std::string, std::string>{{"p", "P1"}, {"q", "Q2"}}));
    std::filesystem::remove(d.dir.path() / "ini/77.yaml");
    ASSERT_FALSE(d.init(Json::Value(Json::objectValue)).error);
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.size(), 3u) << "no file keeps what was loaded";
}

// --- Errors reach the caller -----------------------------------------------------------------------

TEST(ConfigurationErrors, IniWithoutAlarmSectionUnderUnicomFailsAfterFillingAi) {
    ConfiguredDevice d;
    d.dir.write("ini/77.ini", "[AI]\nx=0406101001,n\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    EXPECT_TRUE(threw<boost::property_tree::ptree_bad_path>(run));
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.size(), 1u) << "what was filled stays filled";
    EXPECT_EQ(d.host_init_calls(), 0u);
    EXPECT_EQ(run.out.find("AI 77"), std::string::npos);
    EXPECT_TRUE(d.device.json_mutex_.try_lock()) << "the table lock is free again";
    d.device.json_mutex_.unlock();
}

TEST(ConfigurationErrors, IniUnderMobileNeedsOnlyTheAlarmSection) {
    ConfiguredDevice mobile;
    mobile.dir.write("ini/77.ini", "[ALARM]\nx_1=id,upper\n");
    EXPECT_FALSE(mobile.init(mode_settings(3)).error);
    ConfiguredDevice unicom;
    unicom.dir.write("ini/77.ini", "[ALARM]\nx_1=id,upper\n");
    EXPECT_TRUE(threw<boost::property_tree::ptree_bad_path>(unicom.init(Json::Value(Json::objectValue))));
    ConfiguredDevice no_alarm;
    no_alarm.dir.write("ini/77.ini", "[AI]\nx=1\n");
    EXPECT_TRUE(threw<boost::property_tree::ptree_bad_path>(no_alarm.init(mode_settings(3))));
}

TEST(ConfigurationErrors, EmptyIniSectionCountsAsMissing) {
    ConfiguredDevice d;
    d.dir.write("ini/77.ini", "[AI]\nx=1\n[ALARM]\n");
    EXPECT_TRUE(threw<boost::property_tree::ptree_bad_path>(d.init(Json::Value(Json::objectValue))));
}

TEST(ConfigurationErrors, RejectedIniReachesCaller) {
    ConfiguredDevice d;
    d.dir.write("ini/77.ini", "[AI]\nx=1\nx=2\n[ALARM]\n");
    EXPECT_TRUE(threw<boost::property_tree::ini_parser_error>(d.init(Json::Value(Json::objectValue))));
    EXPECT_EQ(d.host_init_calls(), 0u);
}

TEST(ConfigurationErrors, MalformedYamlReachesCaller) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI: [unclosed\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    EXPECT_TRUE(threw<YAML::ParserException>(run));
    EXPECT_EQ(after_file_name(run.out), "before load\n");
    EXPECT_EQ(d.host_init_calls(), 0u);
}

TEST(ConfigurationErrors, NonScalarYamlEntryReachesCallerAfterEarlierEntries) {
    ConfiguredDevice d;
    d.dir.write("ini/77.yaml", "AI:\n  a: \"1,1\"\n  b: [1, 2]\n  c: \"3,3\"\n");
    const auto run = d.init(Json::Value(Json::objectValue));
    EXPECT_TRUE(threw<YAML::BadConversion>(run));
    EXPECT_EQ(d.device.alarm_configuration().ai_signals_.size(), 1u);
    EXPECT_EQ(d.host_init_calls(), 0u);
}

// --- Mobile threshold settings ------------------------------------------------------------------

TEST(MobileSettings, NamesTextsAndTheirLogLines) {
    ConfiguredDevice d;
    d.device.alarm_levels_["C3"] = 2;
    d.device.alarm_thresholds_["C3"] = 12.5f;
    Json::Value settings = mode_settings(3);
    settings["thresholdSetting"] = json(R"({
        "A1": {"SignalName": "温度高", "ID": "X", "SignalNumber": 2},
        "B2": 7,
        "C3": {"NMAlarmID": "n", "ID": "i", "SignalNumber": "s"},
        "D4": {}
    })");
    const auto run = d.init(settings);
    ASSERT_FALSE(run.error);
    EXPECT_EQ(after_file_name(run.out),
              "here 1\n"
              "here 2\n"
              "here A1\n"
              "77 NMAlarmID is missing\n"
              "mobile:A1:;X;2; level:0 value:0\n"
              "here B2\n"
              "here C3\n"
              "mobile:C3:n;i;s; level:2 value:12.5\n"
              "here D4\n"
              "77 NMAlarmID is missing\n"
              "77 ID is missing\n"
              "77 SignalNumber is missing\n"
              "mobile:D4:;;; level:0 value:0\n");
    EXPECT_EQ(d.device.alarm_configuration().alarm_names_,
              (std::map<std::string, std::string>{{"A1", "温度高"}}));
    EXPECT_EQ(d.device.alarm_configuration().alarm_texts_,
              (std::map<std::string, std::string>{{"A1", ";X;2;"}, {"C3", "n;i;s;"}, {"D4", ";;;"}}));
    EXPECT_EQ(d.device.alarm_levels_.size(), 1u) << "printing a level must not add one to the host";
    EXPECT_EQ(d.device.alarm_thresholds_.size(), 1u);
    EXPECT_EQ(d.host_init_calls(), 1u);
}

TEST(MobileSettings, AbsentSettingStopsAfterTheFirstLine) {
    ConfiguredDevice d;
    Json::Value settings = mode_settings(3);
    settings["thresholdSetting"] = Json::Value();
    const auto run = d.init(settings);
    EXPECT_EQ(after_file_name(run.out), "here 1\n");
}

TEST(MobileSettings, MemberOfTheWrongKindReachesCaller) {
    ConfiguredDevice d;
    Json::Value settings = mode_settings(3);
    settings["thresholdSetting"] = json(R"({"A1": {"ID": ["x"]}})");
    EXPECT_TRUE(threw<Json::LogicError>(d.init(settings)));
    EXPECT_EQ(d.host_init_calls(), 0u);
}

TEST(MobileSettings, ShippedExampleNamesEveryRuleOfTheShippedFile) {
    ConfiguredDevice d;
    d.dir.copy(PX46_EXAMPLES_DIR "/mobile.ini", "ini/mobile/px46tr_k.ini");
    std::ifstream in(PX46_EXAMPLES_DIR "/mobile_settings.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto run = d.init(json(text));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(d.device.b_mode_, 3);
    ASSERT_EQ(d.device.alarm_configuration().alarm_rules_.size(), 3u);
    for (const auto& [key, rule] : d.device.alarm_configuration().alarm_rules_) {
        const std::string id = rule.substr(0, rule.find(','));
        EXPECT_EQ(d.device.alarm_configuration().alarm_names_.count(id), 1u) << key;
        EXPECT_EQ(d.device.alarm_configuration().alarm_texts_.count(id), 1u) << key;
    }
    EXPECT_EQ(run.out.find("is missing"), std::string::npos);
}

// --- Threshold groups ------------------------------------------------------------------------------

Json::Value group_settings(const std::string& members) {
    Json::Value settings = mode_settings(5);
    settings["thresholdSetting"] = json(members);
    return settings;
}

using Rule = TestDevice::ThresholdRule;

TEST(ThresholdGroups, FourGroupsWithTheirSuffixesAndNumbers) {
    ConfiguredDevice d;
    const auto run = d.init(group_settings(R"({"t": {"ID": "X", "SignalName": "环境温度",
        "UpValue": "40.5", "UpReconverValue": 38, "UpAlarmLevel": 2.7,
        "Up2Value": "50", "Up2ReconverValue": "48", "Up2AlarmLevel": "1",
        "LowValue": "abc", "LowReconverValue": "7", "LowAlarmLevel": "x",
        "Low2Value": "-1", "Low2ReconverValue": "1", "Low2AlarmLevel": "4"}})"));
    ASSERT_FALSE(run.error);
    EXPECT_EQ(d.device.alarm_configuration().up_thresholds_.at("环境温度"),
              (Rule{"X001", 40.5f, 38.0f, false, 2}));
    EXPECT_EQ(d.device.alarm_configuration().up2_thresholds_.at("环境温度"),
              (Rule{"X002", 50.0f, 48.0f, false, 1}));
    EXPECT_EQ(d.device.alarm_configuration().low_thresholds_.at("环境温度"),
              (Rule{"X003", 0.0f, 7.0f, false, 0}));
    EXPECT_EQ(d.device.alarm_configuration().low2_thresholds_.at("环境温度"),
              (Rule{"X004", -1.0f, 1.0f, false, 4}));
    EXPECT_EQ(d.host_init_calls(), 1u);
}

TEST(ThresholdGroups, MissingOrEmptyKeySkipsOnlyItsGroup) {
    ConfiguredDevice d;
    ASSERT_FALSE(d.init(group_settings(R"({"t": {"ID": "X", "SignalName": "S",
        "UpValue": "40", "UpReconverValue": "38",
        "Up2Value": "50", "Up2ReconverValue": "", "Up2AlarmLevel": "1",
        "LowValue": "5", "LowReconverValue": "7", "LowAlarmLevel": null,
        "Low2Value": "1", "Low2ReconverValue": "2", "Low2AlarmLevel": "3"}})"))
                     .error);
    EXPECT_TRUE(d.device.alarm_configuration().up_thresholds_.empty());
    EXPECT_TRUE(d.device.alarm_configuration().up2_thresholds_.empty());
    EXPECT_TRUE(d.device.alarm_configuration().low_thresholds_.empty());
    EXPECT_EQ(d.device.alarm_configuration().low2_thresholds_.size(), 1u);
}

TEST(ThresholdGroups, MembersWithoutIdentityAreSkipped) {
    ConfiguredDevice d;
    ASSERT_FALSE(d.init(group_settings(R"({
        "a": {"SignalName": "S", "UpValue": "1", "UpReconverValue": "1", "UpAlarmLevel": "1"},
        "b": {"ID": "", "SignalName": "S", "UpValue": "1", "UpReconverValue": "1", "UpAlarmLevel": "1"},
        "c": {"ID": "X", "SignalName": "", "UpValue": "1", "UpReconverValue": "1", "UpAlarmLevel": "1"},
        "d": 5})"))
                     .error);
    EXPECT_TRUE(d.device.alarm_configuration().up_thresholds_.empty());
}

TEST(ThresholdGroups, LaterMemberWinsOnlyInTheGroupsItDefines) {
    ConfiguredDevice d;
    ASSERT_FALSE(d.init(group_settings(R"({
        "a": {"ID": "A", "SignalName": "S", "UpValue": "1", "UpReconverValue": "1", "UpAlarmLevel": "1",
              "LowValue": "2", "LowReconverValue": "2", "LowAlarmLevel": "2"},
        "b": {"ID": "B", "SignalName": "S", "UpValue": "3", "UpReconverValue": "3", "UpAlarmLevel": "3"}})"))
                     .error);
    EXPECT_EQ(std::get<0>(d.device.alarm_configuration().up_thresholds_.at("S")), "B001");
    EXPECT_EQ(std::get<0>(d.device.alarm_configuration().low_thresholds_.at("S")), "A003");
}

TEST(ThresholdGroups, EmptiedAndRefilledOnEveryLoadButKeptWhenSwitchingAway) {
    ConfiguredDevice d;
    const Json::Value full = group_settings(R"({"t": {"ID": "X", "SignalName": "S",
        "UpValue": "1", "UpReconverValue": "1", "UpAlarmLevel": "1"}})");
    ASSERT_FALSE(d.init(full).error);
    std::get<3>(d.device.alarm_configuration().up_thresholds_.at("S")) = true;
    d.device.alarm_configuration().low_thresholds_["old"] = Rule{"O003", 1, 1, true, 1};
    ASSERT_FALSE(d.init(full).error);
    EXPECT_FALSE(std::get<3>(d.device.alarm_configuration().up_thresholds_.at("S")))
        << "reloading resets the state";
    EXPECT_TRUE(d.device.alarm_configuration().low_thresholds_.empty());

    ASSERT_FALSE(d.init(mode_settings(1)).error);
    EXPECT_EQ(d.device.b_mode_, 1);
    EXPECT_EQ(d.device.alarm_configuration().up_thresholds_.size(), 1u)
        << "another profile leaves the groups alone";

    ASSERT_FALSE(d.init(mode_settings(5)).error);
    EXPECT_TRUE(d.device.alarm_configuration().up_thresholds_.empty())
        << "no thresholdSetting: the groups end empty";
}

TEST(ThresholdGroups, ShippedExampleFillsItsGroups) {
    ConfiguredDevice d;
    std::ifstream in(PX46_EXAMPLES_DIR "/threshold_groups_settings.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(d.init(json(text)).error);
    EXPECT_EQ(d.device.b_mode_, 5);
    EXPECT_EQ(d.device.alarm_configuration().up_thresholds_.size(), 2u);
    EXPECT_EQ(d.device.alarm_configuration().up2_thresholds_.size(), 1u);
    EXPECT_EQ(d.device.alarm_configuration().low_thresholds_.size(), 1u);
    EXPECT_TRUE(d.device.alarm_configuration().low2_thresholds_.empty());
    EXPECT_EQ(d.device.alarm_configuration().up_thresholds_.at("环境温度"),
              (Rule{"0418101001", 35.0f, 30.0f, false, 2}));
    EXPECT_EQ(d.device.alarm_configuration().up_thresholds_.at("环境湿度"),
              (Rule{"0418102001", 80.0f, 75.0f, false, 3}));
}

}  // namespace
