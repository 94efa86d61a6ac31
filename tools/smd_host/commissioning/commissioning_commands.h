#pragma once

#include <iosfwd>
#include <string>

#include <json/value.h>

#include "runner_options.h"

// The runner's commands that do not poll a unit, for commissioning: the signal catalogue, the
// configuration check, the dump of a stored record and the export of a history. Each returns the process's
// exit status. The dump and the export build their snapshots with the plug-in at
// options.plugin_path.
int list_catalogue();
int check_config(const RunnerOptions& options);
int dump_record(const RunnerOptions& options, std::ostream& out);
int export_csv(const RunnerOptions& options);

// The settings object of --settings (an empty object without one); throws UsageError when the
// file cannot be read or is not JSON.
Json::Value read_settings(const std::string& path);
