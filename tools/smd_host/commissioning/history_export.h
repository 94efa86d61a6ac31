#pragma once

#include <ostream>
#include <string>
#include <vector>

// Writes one CSV row per record of the history at `history_path`, read one record at a time: the
// round time, then the named snapshot members as the plug-in at `plugin_path` builds them from the
// record (every numeric member, in catalogue order, when `signals` is empty), under a header row of
// the names. Throws UsageError for a name that is no snapshot member, with the nearest names, and
// std::runtime_error when the plug-in cannot be loaded or refuses a record; returns the number of
// rows written and whether a torn last record was left out.
struct HistoryExport {
    std::size_t rows = 0;
    bool torn_tail = false;
};
HistoryExport export_history_csv(const std::string& history_path, const std::string& plugin_path,
                                 const std::vector<std::string>& signals, std::ostream& out);
