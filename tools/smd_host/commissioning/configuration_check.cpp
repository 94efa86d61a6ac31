#include "configuration_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include <yaml-cpp/yaml.h>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <json/writer.h>
#include "catalogue/signal_catalogue.h"
#include "framework/analogue_report.h"
#include "framework/comparison.h"
#include "framework/configuration_loader.h"

#include "user_input/nearest_names.h"

namespace {

using px46tr_k::Coding;

struct Catalogue {
    std::set<std::string> members;
    std::set<std::string> numeric_members;
    std::set<std::string> alarms;
};

// A threshold group's name as the table summary writes it ("up2" for "Up2").
std::string lower_case(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "; nearest: A, B" from `names` (one of the catalogue's sets) for a name that is not among them;
// each set is decoded for the search once.
std::string hint(const std::string& name, const std::set<std::string>& names) {
    static std::map<const std::set<std::string>*, NearestNames> searches;
    auto found = searches.find(&names);
    if (found == searches.end()) {
        found = searches.emplace(&names, NearestNames({names.begin(), names.end()})).first;
    }
    return found->second.hint(name);
}

const Catalogue& catalogue() {
    static const Catalogue c = [] {
        Catalogue out;
        for (const auto& s : px46tr_k::snapshot_signals()) {
            out.members.insert(s.name);
            if (s.coding == Coding::number) out.numeric_members.insert(s.name);
        }
        for (const auto& a : px46tr_k::reportable_alarms()) out.alarms.insert(a.name);
        return out;
    }();
    return c;
}

class Problems {
public:
    explicit Problems(std::ostream& out) : out_(out) {}
    void add(const std::string& where, const std::string& key, const std::string& what) {
        out_ << "problem: " << where << ": " << key << ": " << what << "\n";
        ++count_;
    }
    void warn(const std::string& where, const std::string& key, const std::string& what) {
        out_ << "warning: " << where << ": " << key << ": " << what << "\n";
        ++warnings_;
    }
    int count() const { return count_; }
    int warnings() const { return warnings_; }

private:
    std::ostream& out_;
    int count_ = 0;
    int warnings_ = 0;
};

// The profiles that exist, for messages.
constexpr const char* kProfileList = "1 (unicom), 2 (telecom), 3 (mobile), 5 (threshold groups)";

// The profile's name in the report: the configuration folder's name is not enough, the threshold
// groups read unicom's folder and a number that names no profile reads it too.
std::string profile_description(std::int32_t b_mode) {
    switch (static_cast<framework::OperatorProfile>(b_mode)) {
        case framework::OperatorProfile::kUnicom:
        case framework::OperatorProfile::kTelecom:
        case framework::OperatorProfile::kMobile:
            return framework::profile_name(b_mode);
        case framework::OperatorProfile::kThresholdGroups:
            return "threshold groups";
    }
    return "no such profile";
}

// The sections of the configuration file the profile reads.
std::set<std::string> sections_read(std::int32_t b_mode) {
    if (framework::is_profile(b_mode, framework::OperatorProfile::kUnicom)) return {"AI", "ALARM"};
    if (framework::is_profile(b_mode, framework::OperatorProfile::kMobile)) return {"ALARM"};
    return {};
}

// The top-level sections of a configuration file (YAML keys, INI sections), in file order; none
// when the file cannot be read, which the load reports.
std::vector<std::string> file_sections(const std::string& path) {
    std::vector<std::string> sections;
    try {
        if (path.size() > 5 && path.compare(path.size() - 5, 5, ".yaml") == 0) {
            const YAML::Node document = YAML::LoadFile(path);
            if (!document.IsMap()) return {};
            for (const auto& entry : document) sections.push_back(entry.first.as<std::string>());
        } else {
            boost::property_tree::ptree tree;
            boost::property_tree::read_ini(path, tree);
            for (const auto& entry : tree) sections.push_back(entry.first);
        }
    } catch (const std::exception&) {
        return {};
    }
    return sections;
}

// "appSetting"/"b_mode" as the settings give it, when it is there but not a whole number: the
// device reads it as atoi does, so "three" is profile 0.
std::optional<std::string> b_mode_not_a_number(const Json::Value& settings) {
    if (!settings.isObject() || !settings["appSetting"].isObject()) return std::nullopt;
    const Json::Value& mode = settings["appSetting"]["b_mode"];
    if (mode.isNull() || mode.isIntegral()) return std::nullopt;
    if (mode.isString()) {
        const std::string text = mode.asString();
        std::size_t i = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
        bool digits = i < text.size();
        for (; i < text.size(); ++i) digits = digits && std::isdigit(static_cast<unsigned char>(text[i]));
        if (digits) return std::nullopt;
        return "\"" + text + "\"";
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, mode);
}

// What the profile and the file found leave unconfigured.
void check_profile_and_file(const ConfigurationCheckRequest& request, const Json::Value& settings,
                            std::int32_t profile, const std::string& file, const std::string& settings_name,
                            Problems& problems) {
    const std::string named = std::to_string(profile) + " (" + profile_description(profile) + ")";
    if (!request.has_profile) {
        if (const auto text = b_mode_not_a_number(settings)) {
            problems.add(settings_name, "appSetting b_mode",
                         *text + " is not a number; the device reads it as " + std::to_string(profile));
        }
    }
    if (profile_description(profile) == "no such profile") {
        problems.add(
            settings_name, "profile " + std::to_string(profile),
            std::string(
                "names no profile: nothing is configured and no alarm is reported; the profiles are ") +
                kProfileList);
    } else if (framework::is_profile(profile, framework::OperatorProfile::kTelecom)) {
        problems.warn(
            settings_name, "profile " + named,
            "configures no alarm table: no alarm is reported; the profiles are " + std::string(kProfileList));
    }
    const std::set<std::string> wanted = sections_read(profile);
    if (file.empty()) {
        if (!wanted.empty()) {
            std::string places;
            for (const auto& path :
                 framework::configuration::candidate_paths(request.data_id, request.device_type, profile))
                places += (places.empty() ? "" : ", ") + path;
            problems.add("ini", "file",
                         "none of " + places + " exists: under profile " + named + " no alarm is reported");
        }
        return;
    }
    for (const auto& section : file_sections(file)) {
        if (!wanted.count(section)) {
            problems.warn(file, section,
                          "section not read under profile " + named + ": its entries are unused");
        }
    }
}

void check_unicom(const framework::AlarmConfiguration& t, const std::string& file, Problems& problems) {
    const Catalogue& c = catalogue();
    for (const auto& [name, ids] : t.ai_signals_) {
        if (!c.numeric_members.count(name)) {
            problems.add(file, "AI " + name,
                         "no numeric snapshot member has this name" + hint(name, c.numeric_members));
        }
        if (!framework::has_template_identifier(ids.first)) {
            problems.add(file, "AI " + name,
                         "identifier '" + ids.first + "' is shorter than 9 bytes: it is never evaluated");
        }
    }
    for (const auto& [name, id] : t.alarm_rules_) {
        if (!c.alarms.count(name)) {
            problems.add(file, "ALARM " + name,
                         "no alarm the driver reports has this name" + hint(name, c.alarms));
        } else if (id.empty()) {
            problems.add(file, "ALARM " + name, "empty identifier: the alarm is never reported");
        }
    }
}

void check_mobile(const framework::AlarmConfiguration& t, const std::string& file, Problems& problems) {
    for (const auto& [key, rule] : t.alarm_rules_) {
        const std::string signal = key.substr(0, key.find('_'));
        if (!catalogue().members.count(signal)) {
            problems.add(file, "ALARM " + key,
                         "no snapshot member is named '" + signal + "'" + hint(signal, catalogue().members));
        }
        const auto comma = rule.find(',');
        const std::string word = comma == std::string::npos ? rule : rule.substr(comma + 1);
        if (!framework::comparison_named(word)) {
            problems.add(file, "ALARM " + key,
                         "comparison '" + word + "' is none of " + framework::comparison_word_list());
        }
    }
}

void check_threshold_groups(framework::AlarmConfiguration& tables, const std::string& file,
                            Problems& problems) {
    for (const framework::ThresholdGroupEntry& group : framework::threshold_groups(tables)) {
        for (const auto& [signal, rule] : group.rules) {
            const std::string key = "thresholdSetting " + std::get<0>(rule) + " (" + group.name + ")";
            if (!catalogue().numeric_members.count(signal)) {
                problems.add(file, key,
                             "no numeric snapshot member is named '" + signal + "'" +
                                 hint(signal, catalogue().numeric_members));
            }
            const float threshold = std::get<1>(rule);
            const float recovery = std::get<2>(rule);
            if (group.rising ? recovery > threshold : recovery < threshold) {
                std::ostringstream what;
                what << "recovery " << recovery << " lies " << (group.rising ? "above" : "below")
                     << " threshold " << threshold << ": the alarm will flap";
                problems.add(file, key, what.str());
            }
        }
    }
}

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The library's message without the file's name, which the report gives once, before it: the
// INI reader's "FILE(3): duplicate key name" is "line 3: duplicate key name", its "FILE: cannot
// open file" and the YAML reader's "bad file: FILE" lose the name.
std::string without_file_name(const std::string& message, const std::string& file) {
    if (starts_with(message, file + "(")) {
        const auto close = message.find("): ", file.size());
        if (close != std::string::npos) {
            return "line " + message.substr(file.size() + 1, close - file.size() - 1) + ": " +
                   message.substr(close + 3);
        }
    }
    if (starts_with(message, file + ": ")) return message.substr(file.size() + 2);
    if (ends_with(message, ": " + file)) return message.substr(0, message.size() - file.size() - 2);
    return message;
}

// Why the system will not let the file be read ("Permission denied", "Is a directory"); empty when
// it can be.
std::string unreadable_reason(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    char byte = 0;
    const bool read = ::read(fd, &byte, 1) >= 0;
    const int error = errno;
    ::close(fd);
    return read ? std::string() : std::strerror(error);
}

// The file's bytes (a configuration file is small).
std::string file_text(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// "; line N is indented with a tab ..." when a line up to the one the YAML reader stopped at
// (its "error at line L") starts with a tab: YAML indents with spaces only, and the reader's own
// message ("illegal map value", "end of map not found") does not say so.
std::string tab_hint(const std::string& text, const std::string& message) {
    std::size_t error_line = 0;
    const auto at = message.find("error at line ");
    if (at != std::string::npos) error_line = std::strtoul(message.c_str() + at + 14, nullptr, 10);
    std::size_t line = 1;
    for (std::size_t start = 0; start < text.size(); ++line) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::size_t indent_end = text.find_first_not_of(" \t", start);
        const std::size_t tab = text.find('\t', start);
        if (tab < end && tab < indent_end) {
            if (error_line != 0 && line > error_line) break;
            return "; line " + std::to_string(line) +
                   " is indented with a tab, which YAML does not allow: indent with spaces";
        }
        start = end + 1;
    }
    return {};
}

// A failed load as the runner and the check report it after the file's name: the library's
// message without the name, with what the library does not say: why the system refuses the file,
// a byte-order mark before an INI file's first line, a YAML line indented with a tab.
std::string load_failure(const std::string& file, const std::string& message) {
    std::string text = without_file_name(message, file);
    const std::string reason = unreadable_reason(file);
    if (!reason.empty()) return ends_with(text, reason) ? text : text + ": " + reason;
    const std::string content = file_text(file);
    if (ends_with(file, ".ini") && starts_with(content, "\xEF\xBB\xBF")) {
        text +=
            "; the file starts with a byte-order mark (as some Windows editors save it), which the INI "
            "reader takes for text: save it without one";
    } else if (ends_with(file, ".yaml")) {
        text += tab_hint(content, message);
    }
    return text;
}

}  // namespace

std::string configuration_file_error(std::uint32_t data_id, std::int32_t profile,
                                     const std::string& device_type) {
    const std::string file = framework::configuration::find_configuration_file(data_id, device_type, profile,
                                                                               framework::silent_sink());
    if (file.empty()) return {};
    framework::AlarmConfiguration tables;
    const std::map<std::string, int> host_levels;
    const std::map<std::string, float> host_thresholds;
    std::atomic<std::int32_t> b_mode{profile};
    const framework::configuration::ConfigurationTarget target{
        data_id, device_type, b_mode, tables, host_levels, host_thresholds, framework::silent_sink(),
        nullptr};
    try {
        framework::configuration::load_configuration(Json::Value(Json::objectValue), target);
    } catch (const std::exception& e) {
        return file + ": " + load_failure(file, e.what());
    }
    return {};
}

ConfigurationCheckResult check_configuration(const ConfigurationCheckRequest& request, std::ostream& out) {
    Json::Value settings = request.settings;
    if (request.has_profile) {
        if (!settings.isObject()) settings = Json::Value(Json::objectValue);
        if (!settings["appSetting"].isObject()) settings["appSetting"] = Json::Value(Json::objectValue);
        settings["appSetting"]["b_mode"] = request.profile;
    }
    const std::string settings_name = request.settings_path.empty() ? "settings" : request.settings_path;

    framework::AlarmConfiguration t;
    // No host: no alarm levels or thresholds of its own to look up.
    const std::map<std::string, int> host_levels;
    const std::map<std::string, float> host_thresholds;
    std::atomic<std::int32_t> b_mode{framework::profile_value(framework::kDefaultProfile)};
    const framework::configuration::ConfigurationTarget target{
        request.data_id, request.device_type,      b_mode, t, host_levels,
        host_thresholds, framework::silent_sink(), nullptr};

    Problems problems(out);
    std::string file;
    std::string failure;
    try {
        // The profile decides the lookup, so read it first, as the load does.
        std::int32_t profile = b_mode;
        framework::configuration::read_operator_profile(settings, request.data_id, profile,
                                                        framework::silent_sink());
        file = framework::configuration::find_configuration_file(request.data_id, request.device_type,
                                                                 profile, framework::silent_sink());
        framework::configuration::load_configuration(settings, target);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    out << "file: " << (file.empty() ? "none found" : file) << "\n";
    const std::int32_t profile = b_mode;
    out << "profile: " << profile << " (" << profile_description(profile) << ")\n";
    out << "tables: AI " << t.ai_signals_.size() << ", ALARM " << t.alarm_rules_.size() << ", alarm texts "
        << t.alarm_texts_.size() << ", alarm names " << t.alarm_names_.size() << ", thresholds";
    for (const framework::ThresholdGroupEntry& group : framework::threshold_groups(t)) {
        out << " " << lower_case(group.name) << " " << group.rules.size();
    }
    out << "\n";
    if (!failure.empty()) {
        problems.add(file.empty() ? settings_name : file, "load",
                     file.empty() ? failure : load_failure(file, failure));
    } else {
        check_profile_and_file(request, settings, profile, file, settings_name, problems);
    }
    switch (static_cast<framework::OperatorProfile>(profile)) {
        case framework::OperatorProfile::kUnicom:
            check_unicom(t, file, problems);
            break;
        case framework::OperatorProfile::kMobile:
            check_mobile(t, file, problems);
            break;
        case framework::OperatorProfile::kThresholdGroups:
            check_threshold_groups(t, settings_name, problems);
            break;
        default:
            break;
    }
    std::string summary;
    if (problems.count() > 0) {
        summary = std::to_string(problems.count()) + (problems.count() == 1 ? " problem" : " problems");
    }
    if (problems.warnings() > 0) {
        summary += (summary.empty() ? "" : ", ") + std::to_string(problems.warnings()) +
                   (problems.warnings() == 1 ? " warning" : " warnings");
    }
    out << (summary.empty() ? "clean" : summary) << "\n";
    return {problems.count(), problems.warnings()};
}
