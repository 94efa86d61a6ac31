#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <json/value.h>

// One feeder of a snapshot as the views list it (the terminal view, the web page).
struct FeederRow {
    int n = 0;  // 1 to 144
    // The snapshot's values (null when the snapshot lacks the member).
    Json::Value voltage, current, power, load_ratio;
    std::string state;                // its switch's status word; "-" when missing
    std::vector<std::string> alarms;  // short labels of its flags that read "告警", in flag order
    bool abnormal = false;            // alarmed, opened or invalid
};

// The feeders a view lists: those that carry current or are not normal. Feeders that are neither
// (no alarm, no current, the switch idle or normal) are only counted.
struct FeederTable {
    // Those not normal first, in feeder order, then the others, the most loaded first.
    std::vector<FeederRow> rows;
    std::size_t abnormal = 0;  // rows that are not normal
    std::size_t idle = 0;      // feeders left out
};

FeederTable feeder_table(const Json::Value& snapshot);
