#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "host_runtime/link_counters.h"
#include "live_view.h"

// One unit as the site's view lists it.
struct SiteViewUnit {
    std::size_t line = 0;  // its line's place in SiteViewFrame::lines, from 0
    int unit = 0;          // its Modbus unit id on the line
    unsigned int data_id = 0;
    std::string state;                     // "completed", "failed", "back-off", "polling" or "waiting"
    std::optional<std::time_t> data_time;  // when its last completed round ended
    std::size_t active_alarms = 0;
    // The words of its last failed request, as the round line gives them ("read 0+4 on
    // tcp:10.0.0.7:502 unit 3: no reply from unit 3 within 1 s"); empty when none failed.
    std::string last_failure;
    // Whether it calls for a look: its last round did not complete, or it has active alarms.
    bool attention = false;
};

struct SiteViewFrame {
    std::vector<LinkCounters> lines;  // each line's counters, in the site's order
    std::vector<SiteViewUnit> units;
    std::time_t now = 0;
    // The unit shown in detail below the tables, as the one-unit view shows it (its title naming
    // the unit, without the round's reports); `detail.screen_rows` is set by the renderer.
    ViewFrame detail;
    // Lines of the screen the view has to fit in (0: no limit).
    std::size_t screen_rows = 0;
};

// Renders a site as a text at most 80 columns wide: a row per unit (line, unit id, data id, round
// state, age of its data, active alarms, the reason of its last failure cut to fit), a row of
// counters per line, then the detail of one unit in the rows left. On a screen too short for every
// unit, the units that call for a look are listed first and the rest counted.
std::string render_site_view(const SiteViewFrame& frame);
