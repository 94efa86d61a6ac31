#pragma once

#include <ctime>
#include <string>
#include <utility>

#include "host/smd_vdevice.h"

namespace framework {

// Whether an analogue value is due to be reported again under its report setting: it has left
// the absolute band or the percentage band around the last reported value, or the last report is
// older than the period. Each test is made only when its flag is on, and a value exactly on an
// edge is not due. The bands are judged in single precision, the period in whole seconds. `now`
// is in seconds since the epoch.
inline bool analogue_report_due(const SMDVDevice::BAOSetting& setting, float value, std::time_t now) {
    const float last = setting.last_value;
    bool due = false;
    if (setting.abs_enabled && (value > last + setting.abs_band || value < last - setting.abs_band)) {
        due = true;
    }
    if (setting.pct_enabled) {
        // Each bound: the sum or difference with 100, then the product, then the division. Below
        // a negative last value (line powers are signed) the first bound is the lower one.
        float upper = last * (setting.pct_band + 100.0f) / 100.0f;
        float lower = last * (100.0f - setting.pct_band) / 100.0f;
        if (last < 0.0f) std::swap(upper, lower);
        if (value > upper || value < lower) due = true;
    }
    // In double: a float holds today's epoch seconds only to 128 s.
    if (setting.period_enabled && static_cast<double>(now - static_cast<std::time_t>(setting.last_time)) >
                                      static_cast<double>(setting.period_minutes) * 60.0) {
        due = true;
    }
    return due;
}

// Whether an analogue signal identifier is long enough (9 bytes) to have a template identifier;
// a signal whose identifier has none is never evaluated.
inline bool has_template_identifier(const std::string& signal_id) { return signal_id.size() >= 9; }

// The template identifier of an analogue signal identifier: a copy with its 4th character set to
// '6' and its 9th to '1'. It names the report setting the signal inherits when it has none of its
// own. Identifiers without one (see above) give an empty result.
inline std::string analogue_template_identifier(const std::string& signal_id) {
    if (!has_template_identifier(signal_id)) return std::string();
    std::string id = signal_id;
    id[3] = '6';
    id[8] = '1';
    return id;
}

}  // namespace framework
