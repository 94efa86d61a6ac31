#include "record_snapshot.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include <json/reader.h>

#include "catalogue/signal_catalogue.h"
#include "control_requests.h"
#include "standard_output_set_aside.h"

namespace {

Json::Value parsed_snapshot(const std::string& text, const std::string& name) {
    Json::Value value;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors) || !value.isObject()) {
        throw std::runtime_error(name + ": the plug-in's snapshot is not a JSON object");
    }
    return value;
}

}  // namespace

RecordSnapshots::RecordSnapshots(const std::string& plugin_path) : plugin_(plugin_path) {}

Json::Value RecordSnapshots::snapshot_of(const std::vector<std::uint8_t>& record,
                                         const std::string& name) const {
    std::string text;
    // What leaves the plug-in's code is handled here, while the library is loaded: an exception's
    // type and message may live in it.
    std::string failure;
    try {
        const StandardOutputSetAside quiet;
        // A device per record: the snapshot is rebuilt at most once per second of round time, and
        // each load stamps the record with the time it completes.
        const std::unique_ptr<SPModbus> device = plugin_.create_device();
        if (!device->LoadFromCache(record.data(), static_cast<int>(record.size()))) {
            failure = "refused by the plug-in (" + std::to_string(record.size()) + " bytes)";
        } else {
            text = snapshot_text(*device);
        }
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "an exception of unknown type";
    }
    if (!failure.empty()) throw std::runtime_error(name + ": " + failure);

    Json::Value snapshot = parsed_snapshot(text, name);
    // The load stamped the record anew: the time shown is the one the record was stored with.
    if (snapshot.isMember(px46tr_k::kUpdateTime) && snapshot[px46tr_k::kUpdateTime].isString()) {
        snapshot[px46tr_k::kUpdateTime] = px46tr_k::round_time_text(record.data()).text;
    }
    return snapshot;
}

std::string iso_8601_time(const std::string& driver_time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char rest = 0;
    if (std::sscanf(driver_time.c_str(), "%d-%d-%d %d:%d:%d%c", &year, &month, &day, &hour, &minute, &second,
                    &rest) != 6) {
        return driver_time;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}
