#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "framework/operator_profile.h"
#include "host_runtime/host_observer.h"

// One rule or alarm report the plug-in made during a round, as the view lists it.
struct ViewReport {
    std::string identifier;
    std::string state;  // "active", "clear" or the reported value
    std::string name;
};

// Keeps the reports a device makes (CheckThresholdBool, CheckThreshold, CheckAOReport) as the
// view lists them, under the operator profile the device runs; other host calls are left out.
class ViewReportKeeper : public HostObserver {
public:
    explicit ViewReportKeeper(int profile) : profile_(profile) {}
    void on_check_threshold(const CheckThresholdCall& c) override;
    void on_check_threshold_bool(const CheckThresholdBoolCall& c) override;
    void on_check_ao_report(const CheckAOReportCall& c) override;
    // The reports kept since the last take, in the order they were made.
    std::vector<ViewReport> take();

private:
    int profile_;
    std::vector<ViewReport> reports_;
};

struct ViewFrame {
    // What the first line names: the plug-in, or in a site's view the unit shown.
    std::string title = "px46tr_k";
    int round = 0;
    int profile = framework::profile_value(framework::kDefaultProfile);
    // Whether the round completed and, when it did not, where and why it stopped ("at step 1 of
    // 62 (...)", the words of the round line).
    bool completed = true;
    std::string stop_cause;
    // When the round that built the shown data completed (none: no round has completed yet), and
    // the time of this frame, for the age of the data.
    std::optional<std::time_t> data_time;
    std::time_t now = 0;
    Json::Value snapshot;  // the device's snapshot after the round (null when none was built)
    std::vector<ViewReport> reports;
    bool show_reports = true;  // false: no list of the round's reports (none were kept)
    // Lines of the screen the view has to fit in (0: no limit). The feeder table is cut first,
    // keeping the feeders that are not normal.
    std::size_t screen_rows = 0;
};

// Renders one round as a compact text at most 80 columns wide: the incoming lines, a table of
// the feeders that carry current or are not normal, ambient values, the active alarms and the
// reports of the round. Chinese names count two columns a character.
std::string render_view(const ViewFrame& frame);

// The names of the coded snapshot members that read "告警" (the unit's active alarms), in catalogue
// order.
std::vector<std::string> active_alarms(const Json::Value& snapshot);

// Columns a UTF-8 text takes in a terminal: East Asian wide characters count two.
std::size_t display_width(const std::string& text);

// "12:03:05": the time of day in local time.
std::string local_clock_text(std::time_t when);

// The text padded, or cut at a whole character, to exactly `width` columns.
std::string fit_to_width(const std::string& text, std::size_t width);
