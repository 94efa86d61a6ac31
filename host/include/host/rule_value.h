#pragma once

#include <string>

#include "host/host_api.h"

// One alarm state change gathered by the host's threshold checks during a round. The device only
// counts, passes and clears these; the host's batch check consumes them.
struct SMD_HOST_API rule_value {
    std::string alarm_id;
    std::string signal_name;
    std::string value_text;
    std::string message;
    int level = 0;
    bool state = false;
    unsigned short serial = 0;
};
