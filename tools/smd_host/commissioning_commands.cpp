#include "commissioning_commands.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

#include <json/reader.h>
#include <json/writer.h>

#include "catalogue_listing.h"
#include "configuration_check.h"
#include "host/record_history.h"
#include "record_snapshot.h"

Json::Value read_settings(const std::string& path) {
    return path.empty() ? Json::Value(Json::objectValue) : read_json_file(path, "settings file");
}

int list_catalogue() {
    print_catalogue(std::cout);
    return 0;
}

// --dump: one stored record as the snapshot the driver builds from it.
int dump_record(const RunnerOptions& options) {
    const RecordHistory history = read_record_history(options.dump_path);
    if (history.records.empty()) throw std::runtime_error("history " + options.dump_path + " holds no whole record");
    const long count = static_cast<long>(history.records.size());
    const long index = options.dump_index.value_or(count - 1);
    if (index < 0 || index >= count) {
        throw UsageError{"--index " + std::to_string(index) + " is not from 0 to " + std::to_string(count - 1)};
    }
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    builder["indentation"] = "  ";
    std::cout << Json::writeString(builder, snapshot_of_record(history.records[static_cast<std::size_t>(index)]))
              << "\n";
    std::cerr << "record " << index << " of " << count << (history.torn_tail ? " (a torn last record left out)" : "")
              << "\n";
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
    return check_configuration(request, std::cout) == 0 ? 0 : 1;
}
