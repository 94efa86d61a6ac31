#include "framework/configuration_loader.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <locale>
#include <optional>
#include <utility>

#include <yaml-cpp/yaml.h>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "framework/diagnostics.h"
#include "framework/split_at_first.h"

namespace framework {

namespace configuration {

namespace {

using boost::property_tree::ptree;

// A settings member counts when it exists and is not null.
const Json::Value* member(const Json::Value& object, const char* key) {
    if (!object.isObject()) return nullptr;
    const Json::Value* value = object.find(key, key + std::char_traits<char>::length(key));
    return value != nullptr && !value->isNull() ? value : nullptr;
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void store_ai_entry(AlarmConfiguration& tables, const std::string& key, const std::string& value) {
    tables.ai_signals_[key] = split_at_first(value, ',');
}

// Returns the stored value, for the caller's log.
const std::string& store_alarm_entry(AlarmConfiguration& tables, std::int32_t b_mode, const std::string& key,
                                     const std::string& value) {
    std::string& rule = tables.alarm_rules_[key];
    rule = is_profile(b_mode, OperatorProfile::kUnicom) ? split_at_first(value, ',').first : value;
    return rule;
}

bool profile_reads_alarms(std::int32_t b_mode) {
    return is_profile(b_mode, OperatorProfile::kUnicom) || is_profile(b_mode, OperatorProfile::kMobile);
}

// --- YAML ------------------------------------------------------------------------------------

template <typename Store>
void for_each_yaml_entry(const YAML::Node& document, const char* group, Store store) {
    const YAML::Node entries = document[group];
    if (!entries.IsDefined()) return;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        store(it->first.as<std::string>(), it->second.as<std::string>());
    }
}

void read_yaml(const YAML::Node& document, std::int32_t b_mode, AlarmConfiguration& tables,
               const DiagnosticSink& diagnostics) {
    if (is_profile(b_mode, OperatorProfile::kUnicom)) {
        for_each_yaml_entry(document, "AI", [&](const std::string& key, const std::string& value) {
            store_ai_entry(tables, key, value);
        });
    }
    log_line(diagnostics, "before parse alarm");
    if (profile_reads_alarms(b_mode)) {
        for_each_yaml_entry(document, "ALARM", [&](const std::string& key, const std::string& value) {
            const std::string& stored = store_alarm_entry(tables, b_mode, key, value);
            if (is_profile(b_mode, OperatorProfile::kUnicom))
                log_line(diagnostics, "parse alarm:", key, " >> ", stored);
        });
    }
    log_line(diagnostics, "after parse alarm");
}

// --- INI -------------------------------------------------------------------------------------

// A section the profile needs: its absence raises the property tree's "No such node".
template <typename Store>
void for_each_ini_entry(const ptree& tree, const char* section, Store store) {
    for (const auto& entry : tree.get_child(section)) store(entry.first, entry.second.data());
}

void read_ini(const ptree& tree, std::int32_t b_mode, AlarmConfiguration& tables) {
    if (is_profile(b_mode, OperatorProfile::kUnicom)) {
        for_each_ini_entry(tree, "AI", [&](const std::string& key, const std::string& value) {
            store_ai_entry(tables, key, value);
        });
    }
    if (profile_reads_alarms(b_mode)) {
        for_each_ini_entry(tree, "ALARM", [&](const std::string& key, const std::string& value) {
            store_alarm_entry(tables, b_mode, key, value);
        });
    }
}

// The file as read from disk, before any table is touched.
struct ConfigurationFile {
    std::optional<YAML::Node> yaml;
    std::optional<ptree> ini;
};

ConfigurationFile read_file(const std::string& path, const DiagnosticSink& diagnostics) {
    ConfigurationFile file;
    if (ends_with(path, ".yaml")) {
        log_line(diagnostics, "before load");
        file.yaml = YAML::LoadFile(path);
        log_line(diagnostics, "after load");
    } else if (ends_with(path, ".ini")) {
        file.ini.emplace();
        boost::property_tree::read_ini(path, *file.ini, std::locale());
    }
    return file;
}

void log_ai_signals(std::uint32_t data_id, AlarmConfiguration& tables, const DiagnosticSink& diagnostics) {
    log_line(diagnostics, "AI ", data_id);
    for (const auto& [key, ids] : tables.ai_signals_) {
        log_line(diagnostics, "first:", key, " second:", ids.first, " name:", ids.second);
    }
}

// --- Threshold settings ------------------------------------------------------------------------

template <typename Value>
Value host_value(const std::map<std::string, Value>& values, const std::string& key) {
    const auto found = values.find(key);
    return found == values.end() ? Value{} : found->second;
}

// Mobile: signal names and report texts by alarm identifier.
void read_mobile_settings(const Json::Value& settings, const ConfigurationTarget& target,
                          AlarmConfiguration& tables) {
    log_line(target.diagnostics, "here 1");
    const Json::Value* thresholds = member(settings, "thresholdSetting");
    if (thresholds == nullptr) return;
    log_line(target.diagnostics, "here 2");
    if (!thresholds->isObject()) return;
    static const char* const kTextPieces[] = {"NMAlarmID", "ID", "SignalNumber"};
    for (auto it = thresholds->begin(); it != thresholds->end(); ++it) {
        const std::string id = it.name();
        log_line(target.diagnostics, "here ", id);
        if (!it->isObject()) continue;
        if (const Json::Value* name = member(*it, "SignalName")) tables.alarm_names_[id] = name->asString();
        std::string text;
        for (const char* piece : kTextPieces) {
            if (const Json::Value* value = member(*it, piece)) {
                text += value->asString();
            } else {
                log_line(target.diagnostics, target.data_id, " ", piece, " is missing");
            }
            text += ';';
        }
        log_line(target.diagnostics, "mobile:", id, ":", text, " level:", host_value(target.host_levels, id),
                 " value:", host_value(target.host_thresholds, id));
        tables.alarm_texts_[id] = text;
    }
}

// The text of a present member with non-empty text.
std::optional<std::string> non_empty_text(const Json::Value& object, const char* key) {
    const Json::Value* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    std::string text = value->asString();
    if (text.empty()) return std::nullopt;
    return text;
}

// The settings keys and identifier suffix of each threshold group, in the order of
// threshold_groups().
struct GroupKeys {
    const char* value;
    const char* recovery;
    const char* level;
    const char* suffix;
};

constexpr GroupKeys kGroupKeys[] = {
    {"UpValue", "UpReconverValue", "UpAlarmLevel", "001"},
    {"Up2Value", "Up2ReconverValue", "Up2AlarmLevel", "002"},
    {"LowValue", "LowReconverValue", "LowAlarmLevel", "003"},
    {"Low2Value", "Low2ReconverValue", "Low2AlarmLevel", "004"},
};

// Threshold groups: the four groups are emptied, then refilled from the settings.
void read_threshold_groups(const Json::Value& settings, AlarmConfiguration& tables) {
    const auto groups = threshold_groups(tables);
    for (const ThresholdGroupEntry& group : groups) group.rules.clear();
    const Json::Value* thresholds = member(settings, "thresholdSetting");
    if (thresholds == nullptr || !thresholds->isObject()) return;
    for (const Json::Value& signal : *thresholds) {
        if (!signal.isObject()) continue;
        const auto id = non_empty_text(signal, "ID");
        if (!id) continue;
        const auto name = non_empty_text(signal, "SignalName");
        if (!name) continue;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const GroupKeys& keys = kGroupKeys[g];
            const auto value = non_empty_text(signal, keys.value);
            const auto recovery = non_empty_text(signal, keys.recovery);
            const auto level = non_empty_text(signal, keys.level);
            if (!value || !recovery || !level) continue;
            groups[g].rules[*name] = ThresholdRule{
                *id + keys.suffix, static_cast<float>(std::atof(value->c_str())),
                static_cast<float>(std::atof(recovery->c_str())), false, std::atoi(level->c_str())};
        }
    }
}

// The target's table guard, held; nothing when it has none.
std::unique_lock<std::mutex> hold_tables(const ConfigurationTarget& target) {
    return target.table_guard != nullptr ? std::unique_lock<std::mutex>(*target.table_guard)
                                         : std::unique_lock<std::mutex>();
}

}  // namespace

void read_operator_profile(const Json::Value& settings, std::uint32_t data_id, std::int32_t& b_mode,
                           const DiagnosticSink& diagnostics) {
    const Json::Value* app = member(settings, "appSetting");
    if (app == nullptr || !app->isObject()) return;
    const Json::Value* mode = member(*app, "b_mode");
    if (mode == nullptr) return;
    b_mode = std::atoi(mode->asString().c_str());
    log_line(diagnostics, "InitSetting ", data_id, " b_mode_:", b_mode);
}

std::vector<std::string> candidate_paths(std::uint32_t data_id, const std::string& device_type,
                                         std::int32_t b_mode) {
    const std::string id = std::to_string(data_id);
    const std::string directories[] = {"./ini/", std::string("./ini/") + profile_name(b_mode) + "/"};
    std::vector<std::string> paths;
    for (const auto& directory : directories) {
        for (const auto& stem : {id, device_type}) {
            for (const char* suffix : {".yaml", ".ini"}) paths.push_back(directory + stem + suffix);
        }
    }
    return paths;
}

std::string find_configuration_file(std::uint32_t data_id, const std::string& device_type,
                                    std::int32_t b_mode, const DiagnosticSink& diagnostics) {
    for (const auto& path : candidate_paths(data_id, device_type, b_mode)) {
        log_line(diagnostics, "test ini/yaml:", path);
        if (::access(path.c_str(), F_OK) == 0) return path;
    }
    log_line(diagnostics, "data_id:", data_id, " model:", device_type, " b ini not found");
    return {};
}

void load_configuration(const Json::Value& settings, const ConfigurationTarget& target) {
    std::int32_t b_mode = target.b_mode;
    read_operator_profile(settings, target.data_id, b_mode, target.diagnostics);
    {
        // A round completion sees one profile from its start to its end.
        const auto lock = hold_tables(target);
        target.b_mode = b_mode;
    }
    const std::string path =
        find_configuration_file(target.data_id, target.device_type, b_mode, target.diagnostics);
    log_line(target.diagnostics, "parse ini/yaml filename:", path);

    const ConfigurationFile file = path.empty() ? ConfigurationFile{} : read_file(path, target.diagnostics);
    // The new tables are built aside, from a copy of the current ones (a load overwrites entries,
    // it does not remove them), and moved in whole: a round completing on another thread sees the
    // old tables or the new ones. A library error moves in what was built before it.
    AlarmConfiguration tables;
    {
        const auto lock = hold_tables(target);
        tables = target.tables;
    }
    struct MoveIn {
        ~MoveIn() {
            const auto lock = hold_tables(target);
            target.tables = std::move(aside);
        }
        AlarmConfiguration& aside;
        const ConfigurationTarget& target;
    } move_in{tables, target};

    if (!path.empty()) {
        if (file.yaml) read_yaml(*file.yaml, b_mode, tables, target.diagnostics);
        if (file.ini) read_ini(*file.ini, b_mode, tables);
        log_ai_signals(target.data_id, tables, target.diagnostics);
    }
    if (is_profile(b_mode, OperatorProfile::kMobile)) {
        read_mobile_settings(settings, target, tables);
    } else if (is_profile(b_mode, OperatorProfile::kThresholdGroups)) {
        read_threshold_groups(settings, tables);
    }
}

}  // namespace configuration

}  // namespace framework
