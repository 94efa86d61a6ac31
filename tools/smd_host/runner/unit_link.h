#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_capture.h"
#include "frame_trace.h"
#include "host_runtime/bus_link.h"
#include "host_runtime/link_counters.h"
#include "host_runtime/modbus_endpoint.h"
#include "host_runtime/modbus_link.h"
#include "host_runtime/simulated_unit.h"
#include "runner_options.h"

// The link the runner polls the unit over, as --unit asks: the in-process simulated unit (with
// the --registers and --set values) or a real Modbus TCP or RTU line.
// The files that record the wire, as the options name them (--trace-frames, --capture): kept
// open for the run, shared by every line of a site. Throws InputFileError for a file it cannot
// write.
struct WireRecorders {
    WireRecorders() = default;
    explicit WireRecorders(const RunnerOptions& options);
    std::unique_ptr<FrameTrace> frame_trace;
    std::unique_ptr<FrameCapture> capture;
    std::vector<WireObserver*> observers;  // the two above, as a link is told of them
};

struct UnitLink {
    WireRecorders wire;  // ended after the link
    std::unique_ptr<BusLink> link;
    ModbusLink* modbus = nullptr;        // real lines only
    SimulatedUnit* simulated = nullptr;  // --unit sim only
    LinkCounters* counters = nullptr;    // real lines only
    bool tcp = false;                    // a Modbus TCP line
};

// The line --unit names: none for sim, else the endpoint, its fields checked (a serial device's
// baud rate 0 when the option names none). Throws UsageError for a --unit it cannot use.
std::optional<ModbusEndpoint> parse_unit_option(const std::string& text);

// The real line `options` names (in `unit`, with its link options), its frames told to
// `observers`; `device_baud` is used when the options name no baud rate for RTU; `stop`, once set,
// ends the link's waits. Throws InputFileError for a serial device that refuses --rs485 or --rts.
std::unique_ptr<ModbusLink> open_modbus_link(const RunnerOptions& options, int device_baud,
                                             const std::atomic<bool>* stop,
                                             std::vector<WireObserver*> observers);

// `device_baud` is the device's own rate, used when --unit names none for RTU; `stop`, once set,
// ends the link's waits. Throws UsageError for a --unit it cannot use, InputFileError for a
// --trace-frames or --capture file it cannot write or a serial device that refuses --rs485 or
// --rts.
UnitLink make_unit_link(const RunnerOptions& options, int device_baud, const std::atomic<bool>* stop);
