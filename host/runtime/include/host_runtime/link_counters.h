#pragma once

#include <cstdint>
#include <string>

#include "host/host_api.h"

// What a link to a real unit has done so far, for the user to read. The link books the request
// counts; whoever drives the rounds books their outcome (the link knows nothing of rounds).
// Read and written on the thread that pumps the device.
struct SMD_HOST_API LinkCounters {
    std::uint64_t requests = 0;      // requests handed to the link
    std::uint64_t replies = 0;       // requests answered as asked
    std::uint64_t failures = 0;      // requests that finally failed (on_error)
    std::uint64_t timeouts = 0;      // attempts that got no reply in time
    std::uint64_t exceptions = 0;    // Modbus exception replies (never retried)
    std::uint64_t retries = 0;       // attempts beyond the first
    std::uint64_t busy_retries = 0;  // attempts after the unit answered busy (exception 06)
    std::uint64_t reconnects = 0;    // connections made again after the first
    std::uint64_t rounds_completed = 0;
    std::uint64_t rounds_abandoned = 0;
    double last_round_seconds = 0;
    std::string last_failure;  // which request last failed and why

    void book_round(bool completed, double seconds);
    // One line: "requests 62, replies 62, ..." in the order above, the last failure at the end.
    std::string describe() const;
};
