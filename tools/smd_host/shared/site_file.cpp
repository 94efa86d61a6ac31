#include "site_file.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

#include <yaml-cpp/yaml.h>

#include "link_text.h"
#include "user_input/json_file.h"
#include "user_input/nearest_names.h"
#include "user_input/parse_number.h"

namespace {

const std::vector<std::string> kSiteKeys = {"interval", "listen", "lines"};
const std::vector<std::string> kLineKeys = {"link",
                                            "units",
                                            "interval",
                                            "timeout",
                                            "retries",
                                            "pause",
                                            "busy-retries",
                                            "busy-wait",
                                            "pause-after-connect",
                                            "close-after-round",
                                            "rs485",
                                            "rts",
                                            "rts-delay",
                                            "trace-frames",
                                            "capture"};
const std::vector<std::string> kUnitKeys = {"unit", "data_id", "settings", "history", "interval"};

// The options of a line that shape its requests or record its frames: none of them has a meaning
// for the simulated unit, which answers at once.
const char* const kRealLineKeys[] = {
    "timeout",           "retries", "pause", "busy-retries", "busy-wait",    "pause-after-connect",
    "close-after-round", "rs485",   "rts",   "rts-delay",    "trace-frames", "capture"};

int line_of(const YAML::Node& node) { return node.Mark().line + 1; }

// Reads one site file, refusing at the first mistake with the file, the line and the key.
class SiteReader {
public:
    explicit SiteReader(std::string path) : path_(std::move(path)) {}

    Site read() {
        std::string text;
        try {
            text = read_bounded_text_file(path_, "site file");
        } catch (const JsonFileError& e) {
            throw InputFileError{e.what()};
        }
        YAML::Node root;
        try {
            root = YAML::Load(text);
        } catch (const YAML::ParserException& e) {
            refuse(e.mark.line + 1, e.msg);
        }
        Site site;
        site.path = path_;
        if (!root.IsMap())
            refuse(root.IsDefined() ? line_of(root) : 1, "not a mapping of interval and lines");
        const auto keys = keys_of(root, kSiteKeys);
        if (const YAML::Node* interval = find(keys, "interval")) {
            site.interval_seconds = read_interval(*interval);
        }
        if (const YAML::Node* listen = find(keys, "listen")) {
            const std::string text = scalar(*listen, "listen", "[ADDR:]PORT");
            try {
                site.listen = parse_listen_address(text);
            } catch (const std::invalid_argument& e) {
                refuse(*listen, "listen '" + text + "': " + e.what());
            }
        }
        const YAML::Node* lines = find(keys, "lines");
        if (lines == nullptr) refuse(line_of(root), "lines is missing: a site has one line at least");
        if (!lines->IsSequence() || lines->size() == 0)
            refuse(*lines, "lines must be a list of one line at least");
        for (const YAML::Node& line : *lines) site.lines.push_back(read_line(line, site));
        return site;
    }

private:
    using Keys = std::map<std::string, std::pair<YAML::Node, YAML::Node>>;

    [[noreturn]] void refuse(int line, const std::string& what) const {
        throw InputFileError{"site file " + path_ + ", line " + std::to_string(line) + ": " + what};
    }
    [[noreturn]] void refuse(const YAML::Node& at, const std::string& what) const {
        refuse(line_of(at), what);
    }

    // The mapping's entries by key: an unknown key is refused with the nearest names, a key given
    // twice is refused rather than one of its values quietly chosen.
    Keys keys_of(const YAML::Node& map, const std::vector<std::string>& known) const {
        Keys keys;
        for (auto it = map.begin(); it != map.end(); ++it) {
            // Copies: the iterator hands out its entries as temporaries.
            const YAML::Node key = it->first;
            const YAML::Node value = it->second;
            if (!key.IsScalar()) refuse(key, "a key must be a name");
            const std::string name = key.Scalar();
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                refuse(key, "unknown key '" + name + "'" + nearest_names_hint(name, known));
            }
            const auto [at, added] = keys.emplace(name, std::make_pair(key, value));
            if (!added) {
                refuse(key, name + " is given twice (first on line " +
                                std::to_string(line_of(at->second.first)) + ")");
            }
        }
        return keys;
    }

    static const YAML::Node* find(const Keys& keys, const std::string& name) {
        const auto found = keys.find(name);
        return found == keys.end() ? nullptr : &found->second.second;
    }

    std::string scalar(const YAML::Node& node, const std::string& key, const std::string& kind) const {
        if (!node.IsScalar()) refuse(node, key + " must be " + kind);
        return node.Scalar();
    }

    long whole_number(const YAML::Node& node, const std::string& key, long low, long high) const {
        const std::string range = "a number from " + std::to_string(low) + " to " + std::to_string(high);
        const auto value = parse_decimal(scalar(node, key, range), high);
        if (!value || *value < low) refuse(node, key + " '" + node.Scalar() + "' is not " + range);
        return *value;
    }

    double seconds(const YAML::Node& node, const std::string& key) const {
        const std::string text = scalar(node, key, "a number of seconds");
        double value = 0;
        if (!YAML::convert<double>::decode(node, value))
            refuse(node, key + " '" + text + "' is not a number");
        return value;
    }

    double read_interval(const YAML::Node& node) const {
        const double value = seconds(node, "interval");
        // A day at most: the pause is counted in nanoseconds, and NaN or infinity would be no pause.
        if (!(value >= 0 && value <= 86400)) refuse(node, "interval must be from 0 to 86400 seconds");
        return value;
    }

    bool flag(const YAML::Node& node, const std::string& key) const {
        bool value = false;
        if (!node.IsScalar() || !YAML::convert<bool>::decode(node, value))
            refuse(node, key + " must be true or false");
        return value;
    }

    std::string file_name(const YAML::Node& node, const std::string& key) const {
        const std::string name = scalar(node, key, "a file name");
        if (name.empty()) refuse(node, key + " names no file");
        return name;
    }

    double link_seconds(const YAML::Node& node, const std::string& key) const {
        const double value = seconds(node, key);
        const std::string error = link_option_range_error(key, value);
        if (!error.empty()) refuse(node, key + " " + error);
        return value;
    }

    // A whole number for a link option, in the option's range as the command line checks it.
    int link_count(const YAML::Node& node, const std::string& key) const {
        const std::string text = scalar(node, key, "a whole number");
        const bool negative = !text.empty() && text[0] == '-';
        const auto value = parse_decimal(std::string_view(text).substr(negative ? 1 : 0), 1L << 30);
        if (!value) refuse(node, key + " '" + text + "' is not a whole number");
        const long signed_value = negative ? -*value : *value;
        const std::string error = link_option_range_error(key, static_cast<double>(signed_value));
        if (!error.empty()) refuse(node, key + " " + error);
        return static_cast<int>(signed_value);
    }

    SiteLine read_line(const YAML::Node& node, const Site& site) const {
        SiteLine line;
        line.source_line = line_of(node);
        const std::string number = std::to_string(site.lines.size() + 1);
        if (!node.IsMap())
            refuse(node, "line " + number + " must be a mapping of link, units and link options");
        const auto keys = keys_of(node, kLineKeys);
        const YAML::Node* link = find(keys, "link");
        if (link == nullptr) refuse(node, "line " + number + " has no link");
        RunnerOptions& options = line.link;
        options.unit = scalar(*link, "link", "a link such as tcp:HOST:PORT or rtu:DEVICE:BAUD:8N1");
        std::optional<ModbusEndpoint> endpoint;
        bool names_unit = false;
        try {
            endpoint = parse_link_text(options.unit, &names_unit);
        } catch (const std::invalid_argument& e) {
            refuse(*link, std::string("link: ") + e.what());
        }
        if (names_unit) refuse(*link, "link names a unit id: on a site each unit's id goes in its unit:");
        line.name = "line " + number + " (" + options.unit + ")";
        const bool rtu = endpoint && endpoint->transport == ModbusEndpoint::Transport::rtu;
        for (const char* key : kRealLineKeys) {
            if (!endpoint && find(keys, key) != nullptr)
                refuse(keys.at(key).first, std::string(key) + " applies to a real line (tcp: or rtu:)");
        }
        for (const char* key : {"rs485", "rts", "rts-delay"}) {
            if (endpoint && !rtu && find(keys, key) != nullptr)
                refuse(keys.at(key).first, std::string(key) + " applies to rtu: lines only");
        }
        options.interval_seconds = site.interval_seconds;
        if (const YAML::Node* value = find(keys, "interval"))
            options.interval_seconds = read_interval(*value);
        if (const YAML::Node* value = find(keys, "timeout"))
            options.timeout_seconds = link_seconds(*value, "timeout");
        if (const YAML::Node* value = find(keys, "retries")) options.retries = link_count(*value, "retries");
        if (const YAML::Node* value = find(keys, "pause"))
            options.pause_seconds = link_seconds(*value, "pause");
        if (const YAML::Node* value = find(keys, "busy-retries"))
            options.busy_retries = link_count(*value, "busy-retries");
        if (const YAML::Node* value = find(keys, "busy-wait"))
            options.busy_wait_seconds = link_seconds(*value, "busy-wait");
        if (const YAML::Node* value = find(keys, "pause-after-connect"))
            options.pause_after_connect_seconds = link_seconds(*value, "pause-after-connect");
        if (const YAML::Node* value = find(keys, "close-after-round"))
            options.close_after_round = flag(*value, "close-after-round");
        if (const YAML::Node* value = find(keys, "rs485")) options.rs485 = flag(*value, "rs485");
        if (const YAML::Node* value = find(keys, "rts")) {
            const std::string rts = scalar(*value, "rts", "up or down");
            if (rts != "up" && rts != "down") refuse(*value, "rts must be up or down");
            options.rts = rts == "up" ? 1 : -1;
        }
        if (const YAML::Node* value = find(keys, "rts-delay")) {
            if (options.rts == 0) refuse(keys.at("rts-delay").first, "rts-delay goes with rts");
            options.rts_delay_us = link_count(*value, "rts-delay");
        }
        if (const YAML::Node* value = find(keys, "trace-frames"))
            options.trace_frames_path = file_name(*value, "trace-frames");
        if (const YAML::Node* value = find(keys, "capture"))
            options.capture_path = file_name(*value, "capture");

        const YAML::Node* units = find(keys, "units");
        if (units == nullptr) refuse(node, line.name + " has no units");
        if (!units->IsSequence() || units->size() == 0)
            refuse(*units, "units must be a list of one unit at least");
        for (const YAML::Node& unit : *units) {
            line.units.push_back(read_unit(unit, line, endpoint, options.interval_seconds));
        }
        return line;
    }

    SiteUnit read_unit(const YAML::Node& node, const SiteLine& line,
                       const std::optional<ModbusEndpoint>& endpoint, double line_interval) const {
        SiteUnit unit;
        unit.source_line = line_of(node);
        if (!node.IsMap()) refuse(node, "a unit must be a mapping of unit, data_id and its own options");
        const auto keys = keys_of(node, kUnitKeys);
        const YAML::Node* id = find(keys, "unit");
        if (id == nullptr) refuse(node, "a unit of " + line.name + " has no unit: (its Modbus unit id)");
        // A serial line's unit address: 0 is the broadcast address and 248 to 255 are reserved;
        // Modbus TCP carries the unit identifier as a whole byte.
        const bool rtu = endpoint && endpoint->transport == ModbusEndpoint::Transport::rtu;
        unit.unit = static_cast<int>(whole_number(*id, "unit", rtu ? 1 : 0, rtu ? 247 : 255));
        const YAML::Node* data_id = find(keys, "data_id");
        if (data_id == nullptr)
            refuse(node, "unit " + std::to_string(unit.unit) + " of " + line.name + " has no data_id");
        unit.data_id = static_cast<unsigned int>(whole_number(*data_id, "data_id", 0, 4294967295L));
        unit.name = line.name.substr(0, line.name.find(" (")) + " unit " + std::to_string(unit.unit) +
                    " (data id " + std::to_string(unit.data_id) + ")";
        unit.interval_seconds = line_interval;
        if (const YAML::Node* value = find(keys, "interval")) unit.interval_seconds = read_interval(*value);
        if (const YAML::Node* value = find(keys, "history")) unit.history_path = file_name(*value, "history");
        if (const YAML::Node* value = find(keys, "settings")) {
            if (value->IsMap()) {
                unit.settings = json_of(*value);
            } else if (value->IsScalar() && !value->Scalar().empty()) {
                unit.settings_path = value->Scalar();
                try {
                    unit.settings = read_json_file(unit.settings_path, "settings file");
                } catch (const InputFileError& e) {
                    refuse(*value, std::string("settings: ") + e.what());
                }
            } else {
                refuse(*value, "settings must be a file name or a mapping");
            }
        }
        return unit;
    }

    // An inline settings mapping as the JSON object InitSetting takes: quoted scalars stay text,
    // plain ones read as YAML reads them (null, true and false, whole numbers, other numbers).
    Json::Value json_of(const YAML::Node& node) const {
        switch (node.Type()) {
            case YAML::NodeType::Map: {
                Json::Value object(Json::objectValue);
                for (auto it = node.begin(); it != node.end(); ++it) {
                    if (!it->first.IsScalar()) refuse(it->first, "settings: a key must be a name");
                    const std::string& key = it->first.Scalar();
                    if (object.isMember(key)) refuse(it->first, "settings: " + key + " is given twice");
                    object[key] = json_of(it->second);
                }
                return object;
            }
            case YAML::NodeType::Sequence: {
                Json::Value array(Json::arrayValue);
                for (const YAML::Node& item : node) array.append(json_of(item));
                return array;
            }
            case YAML::NodeType::Scalar:
                return json_of_scalar(node);
            default:
                return Json::Value();
        }
    }

    static Json::Value json_of_scalar(const YAML::Node& node) {
        const std::string& text = node.Scalar();
        if (node.Tag() == "!") return text;  // quoted
        if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL")
            return Json::Value();
        bool flag = false;
        if (text != "y" && text != "n" && text != "Y" && text != "N" &&
            YAML::convert<bool>::decode(node, flag)) {
            return flag;
        }
        const bool negative = text[0] == '-';
        const auto whole =
            parse_decimal(std::string_view(text).substr(negative ? 1 : 0), 9223372036854775807L);
        if (whole)
            return negative ? Json::Value(static_cast<Json::Int64>(-*whole))
                            : Json::Value(static_cast<Json::Int64>(*whole));
        double number = 0;
        if (YAML::convert<double>::decode(node, number) && std::isfinite(number)) return number;
        return text;
    }

    std::string path_;
};

// One unit or line writing a file, or one reading it (a settings file).
struct NamedFile {
    std::string what;
    std::string path;
    bool written;
};

std::vector<NamedFile> site_files(const Site& site) {
    std::vector<NamedFile> files;
    for (const auto& [what, path] : site_output_files(site)) files.push_back({what, path, true});
    for (const SiteLine& line : site.lines) {
        for (const SiteUnit& unit : line.units) {
            if (!unit.settings_path.empty())
                files.push_back({"settings of " + unit.name, unit.settings_path, false});
        }
    }
    return files;
}

}  // namespace

Site read_site_file(const std::string& path) { return SiteReader(path).read(); }

std::vector<std::pair<std::string, std::string>> site_output_files(const Site& site) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const SiteLine& line : site.lines) {
        if (!line.link.trace_frames_path.empty())
            files.emplace_back("trace-frames of " + line.name, line.link.trace_frames_path);
        if (!line.link.capture_path.empty())
            files.emplace_back("capture of " + line.name, line.link.capture_path);
        for (const SiteUnit& unit : line.units) {
            if (!unit.history_path.empty()) files.emplace_back("history of " + unit.name, unit.history_path);
        }
    }
    return files;
}

std::vector<std::string> site_problems(const Site& site) {
    std::vector<std::string> problems;
    std::map<unsigned int, const SiteUnit*> data_ids;
    std::vector<std::pair<std::string, const SiteLine*>> devices;
    for (const SiteLine& line : site.lines) {
        std::map<int, const SiteUnit*> ids;
        for (const SiteUnit& unit : line.units) {
            const auto [id, new_id] = ids.emplace(unit.unit, &unit);
            if (!new_id) {
                problems.push_back(line.name + " names unit " + std::to_string(unit.unit) + " twice (lines " +
                                   std::to_string(id->second->source_line) + " and " +
                                   std::to_string(unit.source_line) + " of " + site.path +
                                   "): both would answer every request");
            }
            const auto [data, new_data] = data_ids.emplace(unit.data_id, &unit);
            if (!new_data) {
                problems.push_back("data id " + std::to_string(unit.data_id) + " is given to " +
                                   data->second->name + " and " + unit.name +
                                   ": the host tells devices apart by it");
            }
        }
        const auto endpoint = parse_link_text(line.link.unit);
        if (!endpoint || endpoint->transport != ModbusEndpoint::Transport::rtu) continue;
        for (const auto& [device, other] : devices) {
            if (same_file(device, endpoint->device)) {
                problems.push_back(line.name + " and " + other->name + " name one serial device (" +
                                   endpoint->device + "): put the units of one bus on one line");
            }
        }
        devices.emplace_back(endpoint->device, &line);
    }
    const std::vector<NamedFile> files = site_files(site);
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if ((files[i].written || files[j].written) && one_file(files[i].path, files[j].path)) {
                problems.push_back("the " + files[i].what + " and the " + files[j].what + " name one file (" +
                                   files[j].path + "): each needs its own");
            }
        }
    }
    return problems;
}

std::vector<std::string> site_problems(const Site& site, const RunnerOptions& command_line) {
    std::vector<std::string> problems = site_problems(site);
    const std::vector<NamedFile> files = site_files(site);
    for (const auto& [option, path] : output_files(command_line)) {
        for (const NamedFile& file : files) {
            if (one_file(path, file.path)) {
                problems.push_back("--" + option + " and the " + file.what + " name one file (" + file.path +
                                   "): each needs its own");
            }
        }
    }
    return problems;
}
