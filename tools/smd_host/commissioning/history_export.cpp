#include "history_export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <json/value.h>

#include "catalogue/signal_catalogue.h"
#include "host_runtime/record_history.h"
#include "record_replay.h"
#include "record_snapshot.h"
#include "runner_options.h"
#include "user_input/nearest_names.h"

namespace {

// The snapshot member that carries the round time.
std::string round_time_member() {
    for (const auto& s : px46tr_k::snapshot_signals()) {
        if (s.coding == px46tr_k::Coding::time_text) return s.name;
    }
    return std::string();
}

std::vector<std::string> checked_columns(const std::vector<std::string>& signals) {
    std::vector<std::string> members;
    std::vector<std::string> numeric;
    for (const auto& s : px46tr_k::snapshot_signals()) {
        members.push_back(s.name);
        if (s.coding == px46tr_k::Coding::number) numeric.push_back(s.name);
    }
    if (signals.empty()) return numeric;
    for (const auto& name : signals) {
        if (std::find(members.begin(), members.end(), name) == members.end()) {
            throw UsageError{"--signals: no snapshot member is named '" + name + "'" +
                             nearest_names_hint(name, members)};
        }
    }
    return signals;
}

// A field as CSV carries it: quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string value_text(const Json::Value& value) {
    if (value.isIntegral()) return std::to_string(value.asInt64());
    if (value.isDouble()) {
        // The shortest text that reads back as the same value, at the precision of a float when
        // the driver computed it as one: 22.6, not 22.600000381469727.
        const double number = value.asDouble();
        const bool single = static_cast<double>(static_cast<float>(number)) == number;
        char text[32];
        for (int digits = 6; digits <= 17; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, number);
            if (single ? std::strtof(text, nullptr) == static_cast<float>(number)
                       : std::strtod(text, nullptr) == number) {
                break;
            }
        }
        return text;
    }
    return value.isString() ? value.asString() : std::string();
}

}  // namespace

HistoryExport export_history_csv(const std::string& history_path, const std::string& plugin_path,
                                 const std::vector<std::string>& signals, std::ostream& out) {
    const std::vector<std::string> columns = checked_columns(signals);
    const std::string time_member = round_time_member();
    RecordHistoryReader history(history_path);
    // One device for the whole history: every member a column can name is rebuilt from each record
    // (only "AlertArray" entries, which no column names, keep what earlier records raised). The
    // round time is the record's own: the load stamps the device's copy anew.
    RecordReplay replay(plugin_path, columns);
    // A byte-order mark first, so that spreadsheet programs read the Chinese names as UTF-8.
    out << "\xEF\xBB\xBFtime";
    for (const auto& name : columns) out << ',' << csv_field(name);
    out << '\n';
    std::vector<bool> is_time(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) is_time[i] = columns[i] == time_member;
    HistoryExport result;
    std::string row;
    for (std::vector<std::uint8_t> record; history.next(record); ++result.rows) {
        const std::vector<const Json::Value*>& values =
            replay.load(record, "record " + std::to_string(result.rows) + " of " + history_path);
        const std::string stored_time = px46tr_k::round_time_text(record.data()).text;
        row = csv_field(iso_8601_time(stored_time));
        for (std::size_t i = 0; i < columns.size(); ++i) {
            row += ',';
            if (is_time[i] && values[i] != nullptr && values[i]->isString()) {
                row += csv_field(stored_time);
            } else if (values[i] != nullptr) {
                row += csv_field(value_text(*values[i]));
            }
        }
        row += '\n';
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    result.torn_tail = history.torn_tail();
    return result;
}
