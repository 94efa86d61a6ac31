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
#include "site_file.h"

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

namespace {

// The exit status of a check: 1 for problems, kCheckWarnings for warnings alone, 0 when clean.
int check_status(const ConfigurationCheckResult& found) {
    if (found.problems > 0) return 1;
    return found.warnings > 0 ? kCheckWarnings : 0;
}

ConfigurationCheckRequest check_request(const RunnerOptions& options, Json::Value settings,
                                        const std::string& settings_path, std::uint32_t data_id) {
    ConfigurationCheckRequest request;
    request.settings = std::move(settings);
    request.settings_path = settings_path;
    request.data_id = data_id;
    if (options.b_mode) {
        request.has_profile = true;
        request.profile = *options.b_mode;
    }
    return request;
}

// --check-config --site: the site file's own problems, then every unit's configuration as the
// check of one unit reports it, headed by the unit's name; the status is the worst of them.
int check_site_config(const RunnerOptions& options) {
    const Site site = read_site_file(options.site_path);
    std::size_t units = 0;
    for (const SiteLine& line : site.lines) units += line.units.size();
    std::cout << "site: " << site.path << ", " << site.lines.size()
              << (site.lines.size() == 1 ? " line, " : " lines, ") << units
              << (units == 1 ? " unit\n" : " units\n");
    ConfigurationCheckResult total;
    for (const std::string& problem : site_problems(site)) {
        std::cout << "problem: " << site.path << ": " << problem << "\n";
        ++total.problems;
    }
    for (const SiteLine& line : site.lines) {
        for (const SiteUnit& unit : line.units) {
            std::cout << "\n== " << unit.name << " ==\n";
            const std::string settings_name =
                unit.settings_path.empty() ? "settings of " + unit.name : unit.settings_path;
            const ConfigurationCheckResult found = check_configuration(
                check_request(options, unit.settings, settings_name, unit.data_id), std::cout);
            total.problems += found.problems;
            total.warnings += found.warnings;
        }
    }
    std::cout << "\nsite: ";
    if (total.problems == 0 && total.warnings == 0) {
        std::cout << "clean\n";
    } else {
        std::cout << total.problems << (total.problems == 1 ? " problem, " : " problems, ") << total.warnings
                  << (total.warnings == 1 ? " warning\n" : " warnings\n");
    }
    return check_status(total);
}

}  // namespace

// --check-config: the device's configuration loading, in this folder, without polling.
int check_config(const RunnerOptions& options) {
    if (!options.site_path.empty()) return check_site_config(options);
    return check_status(check_configuration(
        check_request(options, read_settings(options.settings_path), options.settings_path, options.data_id),
        std::cout));
}
