#pragma once

#include <cstdint>
#include <vector>

#include <json/value.h>

#include "fake_clock.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/host_call.h"
#include "host_runtime/simulated_unit.h"
#include "recording_observer.h"
#include "recording_sink.h"
#include "test_device.h"

// A device wired to the in-process simulated unit, a recording observer, a recording sink of its
// diagnostic lines and a fake clock.
struct DeviceHarness {
    DeviceHarness() {
        device.set_observer(&calls);
        device.set_clock(clock);
        device.set_diagnostic_sink(log);
        device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
    }

    // Runs one polling round to its end (or to the step where a request fails).
    void run_round() {
        device.RefreshStatus();
        pump.pump_all();
    }

    // Sets a signed 32-bit quantity at `reg` (high register first).
    void set_s32(int reg, std::int32_t value) {
        const auto raw = static_cast<std::uint32_t>(value);
        unit.set(reg, static_cast<std::uint16_t>(raw >> 16));
        unit.set(reg + 1, static_cast<std::uint16_t>(raw & 0xffff));
    }

    SimulatedUnit unit;
    RecordingObserver calls;
    FakeClock clock;
    RecordingSink log;
    TestDevice device;
    BusPump pump{device, unit};
};
