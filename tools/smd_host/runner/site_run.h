#pragma once

#include <atomic>
#include <ostream>

#include "host_runtime/plugin_library.h"
#include "runner_options.h"
#include "site_file.h"
#include "site_status.h"

// Runs a site as the host runs it: one device per unit, each created through the plug-in's
// provider and given its settings, one thread per line carrying one request at a time for the
// units of that line in turn, each unit at its interval, for `options.rounds` rounds a unit (0:
// until `stop`). A unit that stops answering is left out with a growing back-off while the
// others of its line go on. Every line written to `messages` names its line and unit (with
// `options.view`, the rounds' lines are left to the view and only the summaries written); the
// options' --trace, --trace-frames and --capture take every unit's lines.
//
// Returns the exit status, the worst of all units: 1 when a file could not be written or a device
// failed, else 3 when a unit completed no round, else 0. Throws InputFileError for a file it
// cannot open before the first round, and std::runtime_error for a device that refuses its
// settings (naming the unit).
//
// `status`, when given, is described with the site's lines and units (it must be empty) and
// follows every round; it may be read from any thread while the site runs.
int run_site(const RunnerOptions& options, const Site& site, const PluginLibrary& plugin,
             const std::atomic<bool>& stop, std::ostream& messages, SiteStatus* status = nullptr);
