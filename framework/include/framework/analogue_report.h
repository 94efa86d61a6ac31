#pragma once

#include <ctime>
#include <string>

#include "host/smd_vdevice.h"

// Whether an analogue value is due to be reported again under its report setting: it has left
// the absolute band or the percentage band around the last reported value, or the last report is
// older than the period. Each test is made only when its flag is on, all in single precision, and
// a value exactly on an edge is not due. `now` is in seconds since the epoch.
inline bool analogue_report_due(const SMDVDevice::BAOSetting& setting, float value, std::time_t now) {
    const float last = setting.last_value;
    bool due = false;
    if (setting.abs_enabled &&
        (value > last + setting.abs_band || value < last - setting.abs_band)) {
        due = true;
    }
    // Each bound: the sum or difference with 100, then the product, then the division.
    if (setting.pct_enabled && (value > last * (setting.pct_band + 100.0f) / 100.0f ||
                                value < last * (100.0f - setting.pct_band) / 100.0f)) {
        due = true;
    }
    // Seconds since the epoch are taken as floats, so at today's dates the period is judged to
    // the float's granularity of 128 s.
    if (setting.period_enabled &&
        static_cast<float>(now) >
            static_cast<float>(setting.last_time) + setting.period_minutes * 60.0f) {
        due = true;
    }
    return due;
}

// The template identifier of an analogue signal identifier: a copy with its 4th character set to
// '6' and its 9th to '1'. It names the report setting the signal inherits when it has none of its
// own. Identifiers shorter than 9 bytes have none; the result is then empty.
inline std::string analogue_template_identifier(const std::string& signal_id) {
    if (signal_id.size() < 9) return std::string();
    std::string id = signal_id;
    id[3] = '6';
    id[8] = '1';
    return id;
}
