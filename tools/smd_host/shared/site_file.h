#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "runner_options.h"

// A site as `smd-host --site FILE` runs it: several lines, several units on each. Read from a
// YAML file:
//
//   interval: 1                      # seconds between a unit's rounds (default for every unit)
//   listen: 9146                     # optional: serve the status over HTTP, as --listen takes it
//   lines:
//     - link: tcp:127.0.0.1:1502     # as --unit takes it
//       timeout: 1                   # and every other link option, by its option name
//       units:
//         - unit: 1                  # Modbus unit id on this line
//           data_id: 101             # the device's data identifier
//           settings: site-101.json  # or an inline object; default {}
//           history: h101.bin        # optional, one file per unit

// One unit of a line: its device and where its records go.
struct SiteUnit {
    int unit = 1;                             // the Modbus unit id on its line
    unsigned int data_id = 1;                 // the device's data identifier
    Json::Value settings{Json::objectValue};  // for InitSetting: the inline object or the file's
    std::string settings_path;                // the settings file, when named (empty: inline or default)
    std::string history_path;                 // --history for this unit (empty: none)
    double interval_seconds = 1.0;            // seconds between this unit's rounds
    std::string name;                         // "line 1 unit 2 (data id 102)", for messages
    int source_line = 0;                      // where the unit starts in the site file, from 1
};

// One line: the link to it, with the link options of the runner, and its units.
struct SiteLine {
    // The link as the command line would give it: `unit` holds the link text ("tcp:HOST:PORT",
    // "rtu:DEVICE:BAUD:8N1"), the link options their values (timeout_seconds, retries, ...).
    RunnerOptions link;
    std::vector<SiteUnit> units;
    std::string name;     // "line 1 (tcp:127.0.0.1:1502)", for messages
    int source_line = 0;  // where the line starts in the site file, from 1
};

struct Site {
    std::string path;  // the site file
    double interval_seconds = 1.0;
    std::optional<ListenAddress> listen;  // where to serve the status over HTTP (none: no server)
    std::vector<SiteLine> lines;
};

// Reads the site file at `path`: throws InputFileError naming the file, the line in it and the
// key for a file that cannot be read or parsed, an unknown key (with the nearest name) or a value
// out of its range. Settings files are read (strictly, as --settings reads them). Relative paths in
// the file (settings, history, trace-frames, capture) are taken from the current directory, as the
// command line's are, not from the site file's folder.
Site read_site_file(const std::string& path);

// What keeps a site that reads well from running: duplicate unit ids on a line, duplicate data
// ids, two units writing one history file, a serial device named on two lines. One sentence each;
// empty when none.
std::vector<std::string> site_problems(const Site& site);

// The files a site run writes, each with what writes it ("history of line 1 unit 2 (data id 102)",
// "trace-frames of line 1 (tcp:...)"), and the path; only those named.
std::vector<std::pair<std::string, std::string>> site_output_files(const Site& site);

// `site_problems`, and the files the command line writes (--trace, --trace-frames, --capture) that
// the site names too.
std::vector<std::string> site_problems(const Site& site, const RunnerOptions& command_line);
