#include "unit_link.h"

#include <optional>
#include <stdexcept>

#include "host_runtime/modbus_link.h"
#include "link_text.h"

namespace {

// Opens the file at `path` (when one is named) for a recorder of the wire and tells the link of
// it; a file it cannot write is refused as a file of the command line.
template <typename Recorder>
void record_wire(const std::string& path, std::unique_ptr<Recorder>& recorder,
                 std::vector<WireObserver*>& observers) {
    if (path.empty()) return;
    try {
        recorder = std::make_unique<Recorder>(path);
    } catch (const std::runtime_error& e) {
        throw InputFileError{e.what()};
    }
    observers.push_back(recorder.get());
}

}  // namespace

std::optional<ModbusEndpoint> parse_unit_option(const std::string& text) {
    try {
        return parse_link_text(text);
    } catch (const std::invalid_argument& e) {
        throw UsageError{std::string("--unit: ") + e.what()};
    }
}

std::unique_ptr<ModbusLink> open_modbus_link(const RunnerOptions& options, int device_baud,
                                             const std::atomic<bool>* stop,
                                             std::vector<WireObserver*> observers) {
    ModbusEndpoint endpoint = parse_unit_option(options.unit).value();
    if (endpoint.transport == ModbusEndpoint::Transport::rtu && endpoint.baud == 0)
        endpoint.baud = device_baud;
    LinkSettings settings;
    settings.response_timeout = options.timeout_seconds;
    settings.retries = options.retries;
    settings.pause = options.pause_seconds;
    settings.busy_retries = options.busy_retries;
    settings.busy_wait = options.busy_wait_seconds;
    settings.pause_after_connect = options.pause_after_connect_seconds;
    settings.rs485 = options.rs485;
    settings.rts = options.rts;
    settings.rts_delay_us = options.rts_delay_us;
    settings.stop = stop;
    settings.wire_observers = std::move(observers);
    auto link = std::make_unique<ModbusLink>(endpoint, settings);
    // A setting the serial device refuses shows before any round, as a command it cannot run.
    if (options.rs485 || options.rts != 0) {
        try {
            std::string unopened;
            link->open(unopened);
        } catch (const LinkSettingRefused& e) {
            throw InputFileError{e.device + " refuses --" + e.setting + ": " + e.reason};
        }
    }
    return link;
}

WireRecorders::WireRecorders(const RunnerOptions& options) {
    record_wire(options.trace_frames_path, frame_trace, observers);
    record_wire(options.capture_path, capture, observers);
}

UnitLink make_unit_link(const RunnerOptions& options, int device_baud, const std::atomic<bool>* stop) {
    UnitLink unit;
    if (!parse_unit_option(options.unit)) {
        auto simulated = std::make_unique<SimulatedUnit>();
        for (const auto& [reg, value] : options.registers) simulated->set(reg, value);
        unit.simulated = simulated.get();
        unit.link = std::move(simulated);
        return unit;
    }
    unit.wire = WireRecorders(options);
    auto link = open_modbus_link(options, device_baud, stop, unit.wire.observers);
    unit.tcp = link->endpoint().transport == ModbusEndpoint::Transport::tcp;
    unit.counters = &link->counters();
    unit.modbus = link.get();
    unit.link = std::move(link);
    return unit;
}
