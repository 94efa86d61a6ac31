#pragma once

#include <cstddef>
#include <string>

#include "host_runtime/bus_link.h"
#include "run_observer.h"
#include "runner_options.h"

// What the bus carried in one round.
struct RoundTraffic {
    double seconds;
    std::size_t requests;
    std::size_t failures;
};

// What the user may try after a failure the link options are made for: a unit id the server does
// not serve (Modbus TCP before any round completed: it usually gets no reply at all), a gateway
// that drops the first request of a connection, a unit busy while it measures. Empty when none
// applies; else the text to add to the failure's.
std::string hint(const LinkResult& failure, const RunnerOptions& options, bool tcp, bool any_completed);

// Why a round stopped: "at step 12 of 62" (the read in progress, from 1), with the last failure.
std::string stop_cause(const RunObserver::RoundTally& tally, const std::string& last_error);

// The round's line, without its line end: "round 2: 62 reads, record published (3921 bytes, stamp
// ...), 0 alarm reports, 1 saved to the host's history; 0.012 s, 62 requests, 0 failures".
std::string round_summary(int round, const RunObserver::RoundTally& tally, const RoundTraffic& traffic,
                          const std::string& last_error);
