#include "commissioning_commands.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

#include <json/reader.h>
#include <json/writer.h>

#include "catalogue/signal_catalogue.h"
#include "catalogue_listing.h"
#include "configuration_check.h"
#include "history_export.h"
#include "host_runtime/record_history.h"
#include "record_snapshot.h"

Json::Value read_settings(const std::string& path) {
    return path.empty() ? Json::Value(Json::objectValue) : read_json_file(path, "settings file");
}

int list_catalogue() {
    print_catalogue(std::cout);
    return 0;
}

// --dump: one stored record as the snapshot the loaded plug-in builds from it, written to `out`.
// The history is read one record at a time; only the record asked for is kept.
int dump_record(const RunnerOptions& options, std::ostream& out) {
    RecordHistoryReader history(options.dump_path);
    std::vector<std::uint8_t> wanted;
    long count = 0;
    for (std::vector<std::uint8_t> record; history.next(record); ++count) {
        if (!options.dump_index || *options.dump_index == count) wanted.swap(record);
    }
    if (count == 0) throw std::runtime_error("history " + options.dump_path + " holds no whole record");
    const long index = options.dump_index.value_or(count - 1);
    if (index < 0 || index >= count) {
        throw UsageError{"--index " + std::to_string(index) + " is not from 0 to " +
                         std::to_string(count - 1)};
    }
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    builder["indentation"] = "  ";
    const RecordSnapshots snapshots(options.plugin_path);
    Json::Value snapshot =
        snapshots.snapshot_of(wanted, "record " + std::to_string(index) + " of " + options.dump_path);
    Json::Value& time = snapshot[px46tr_k::kUpdateTime];
    if (time.isString()) time = iso_8601_time(time.asString());
    out << Json::writeString(builder, snapshot) << "\n";
    std::cerr << "record " << index << " (counted from 0) of " << count
              << (history.torn_tail() ? " (a torn last record left out)" : "") << "\n";
    return 0;
}

// --export-csv: the history's records as CSV rows, for plotting.
int export_csv(const RunnerOptions& options) {
    std::ofstream out(options.export_csv_path, std::ios::out | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + options.export_csv_path);
    const HistoryExport done =
        export_history_csv(options.history_path, options.plugin_path, options.signals, out);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + options.export_csv_path);
    std::cerr << "exported " << done.rows << " records to " << options.export_csv_path
              << (done.torn_tail ? " (a torn last record left out)" : "") << "\n";
    return 0;
}

// --check-config: the device's configuration loading, in this folder, without polling.
int check_config(const RunnerOptions& options) {
    ConfigurationCheckRequest request;
    request.settings = read_settings(options.settings_path);
    request.settings_path = options.settings_path;
    request.data_id = options.data_id;
    if (options.b_mode) {
        request.has_profile = true;
        request.profile = *options.b_mode;
    }
    const ConfigurationCheckResult found = check_configuration(request, std::cout);
    if (found.problems > 0) return 1;
    return found.warnings > 0 ? kCheckWarnings : 0;
}
