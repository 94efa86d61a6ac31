#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_runtime/plugin_library.h"

// The snapshots of stored records as a loaded plug-in builds them: each record is handed to a
// device of its own through LoadFromCache, as the host's cache hands one back, and its snapshot
// is the device's snapshot text (request 801) parsed back. The device has no host side that
// keeps anything (no observer: nothing is published or stored), and its diagnostic lines do not
// reach standard output.
class RecordSnapshots {
public:
    // Loads the plug-in at `plugin_path`; throws std::runtime_error when it cannot be loaded.
    explicit RecordSnapshots(const std::string& plugin_path);

    // The snapshot of `record` with its own round time: the load stamps the record with the time
    // it completes, so the round time member is written back from the record's stamp. `name`
    // ("record 3 of h.bin") heads the message of the std::runtime_error thrown when the plug-in
    // refuses the record or its snapshot.
    Json::Value snapshot_of(const std::vector<std::uint8_t>& record, const std::string& name) const;

private:
    PluginLibrary plugin_;
};

// The driver's round time text ("2026-12-9 1:15:0", the host's local time) as ISO 8601
// ("2026-12-09T01:15:00"), which sorts and parses; a text of another form is returned unchanged.
std::string iso_8601_time(const std::string& driver_time);
