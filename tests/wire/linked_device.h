#pragma once

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <json/value.h>

#include "catalogue/register_map.h"
#include "fake_clock.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/modbus_link.h"
#include "recording_observer.h"
#include "test_device.h"
#include "unit_sim/unit_server.h"

// A device polled over a real Modbus line, with a recording observer and a fake clock.
struct LinkedDevice {
    explicit LinkedDevice(BusLink& link) : pump(device, link) {
        device.set_observer(&calls);
        device.set_clock(clock);
        device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
    }

    // One polling round, to its end or to the step where a request fails; true when it completed.
    bool run_round() {
        const std::size_t published = calls.named("SendSP").size();
        device.RefreshStatus();
        pump.pump_all();
        return calls.named("SendSP").size() > published;
    }

    RecordingObserver calls;
    FakeClock clock;
    TestDevice device;
    BusPump pump;
};

// Patience for lines that should answer at once, generous for a loaded machine.
inline LinkSettings patient_settings() {
    LinkSettings settings;
    settings.response_timeout = 5;
    settings.retries = 0;
    return settings;
}

// A simulator serving `image` over loopback TCP on `port`, or on a free one. A given port is
// tried again for a while: it may still be held by a connection of a test running beside.
inline std::unique_ptr<unit_sim::UnitServer> tcp_server(const unit_sim::RegisterImage& image,
                                                        unit_sim::Faults faults = {}, int port = 0) {
    unit_sim::ServerOptions options;
    options.endpoint = parse_tcp_endpoint("127.0.0.1:" + std::to_string(port));
    options.faults = faults;
    for (int attempt = 1;; ++attempt) {
        auto server = std::make_unique<unit_sim::UnitServer>(image, options);
        try {
            server->start();
            return server;
        } catch (const std::runtime_error&) {
            if (port == 0 || attempt == 40) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

inline ModbusEndpoint tcp_endpoint(int port) {
    return parse_tcp_endpoint("127.0.0.1:" + std::to_string(port));
}

// Every register of the map with a value of its own, so that a misplaced reply shows.
inline unit_sim::RegisterImage distinct_image(int salt = 0) {
    unit_sim::RegisterImage image;
    for (int reg = 0; reg < unit_sim::kRegisterCount; ++reg) {
        image.set(reg, static_cast<std::uint16_t>(reg * 7 + 0x1234 + salt));
    }
    return image;
}

// The register image part of a record as the unit's registers would give it.
inline std::vector<std::uint8_t> image_bytes(const std::vector<std::uint8_t>& record) {
    return std::vector<std::uint8_t>(record.begin() + 4, record.begin() + 3914);
}

// The register image part of the record a round over `image` gives.
inline std::vector<std::uint8_t> expected_image_bytes(const unit_sim::RegisterImage& image) {
    std::vector<std::uint8_t> bytes;
    for (const auto& row : px46tr_k::kRegisterMap) {
        for (int reg = row.first_register; reg < row.first_register + row.count; ++reg) {
            const std::uint16_t value = image.get(reg);
            std::uint8_t raw[2];  // registers sit in the record in native byte order
            std::memcpy(raw, &value, sizeof raw);
            bytes.insert(bytes.end(), raw, raw + 2);
        }
    }
    return bytes;
}
