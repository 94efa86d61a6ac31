#pragma once

#include <string>
#include <vector>

#include <json/value.h>

#include "framework/operator_profile.h"
#include "host/host_call.h"

// One rule or alarm report the plug-in made during a round, as the view lists it.
struct ViewReport {
    std::string identifier;
    std::string state;  // "active", "clear" or the reported value
    std::string name;
};

// The reports of a round's host calls (CheckThresholdBool, CheckThreshold, CheckAOReport) under
// an operator profile; other calls are left out.
std::vector<ViewReport> view_reports(const std::vector<HostCall>& calls, int profile);

struct ViewFrame {
    int round = 0;
    int profile = profile_value(kDefaultProfile);
    Json::Value snapshot;  // the device's snapshot after the round (null when none was built)
    std::vector<ViewReport> reports;
    // Lines of the screen the view has to fit in (0: no limit). The feeder table is cut first,
    // keeping the feeders that are not normal.
    std::size_t screen_rows = 0;
};

// Renders one round as a compact text at most 80 columns wide: the incoming lines, a table of
// the feeders that carry current or are not normal, ambient values, the active alarms and the
// reports of the round. Chinese names count two columns a character.
std::string render_view(const ViewFrame& frame);

// Columns a UTF-8 text takes in a terminal: East Asian wide characters count two.
std::size_t display_width(const std::string& text);
