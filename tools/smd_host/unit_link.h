#pragma once

#include <memory>

#include "host/bus_link.h"
#include "host/link_counters.h"
#include "host/simulated_unit.h"
#include "runner_options.h"

// The link the runner polls the unit over, as --unit asks: the in-process simulated unit (with
// the --registers and --set values) or a real Modbus TCP or RTU line.
struct UnitLink {
    std::unique_ptr<BusLink> link;
    SimulatedUnit* simulated = nullptr;  // --unit sim only
    LinkCounters* counters = nullptr;    // real lines only
    bool tcp = false;                    // a Modbus TCP line
};

// `device_baud` is the device's own rate, used when --unit names none for RTU. Throws UsageError for
// a --unit it cannot use.
UnitLink make_unit_link(const RunnerOptions& options, int device_baud);
