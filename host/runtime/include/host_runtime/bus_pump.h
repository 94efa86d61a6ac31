#pragma once

#include <cstddef>
#include <string>

#include "host/host_api.h"
#include "host/sp_modbus.h"
#include "host_runtime/bus_link.h"

// Carries a device's queued requests over a link, one at a time, on the calling thread: each
// reply goes to process_payload, each failure to on_error.
class SMD_HOST_API BusPump {
public:
    BusPump(SPModbus& device, BusLink& link) : device_(device), link_(link) {}

    // Carries one request; false when none was queued.
    bool pump_one();
    // Carries requests until none is queued (a reply may queue the next); returns how many.
    std::size_t pump_all();

    // Requests carried and requests that failed, since construction.
    std::size_t carried() const { return carried_; }
    std::size_t failed() const { return failed_; }
    // Why the last failed request failed, as the link said: its kind, and its reason in words.
    const LinkResult& last_failure() const { return last_failure_; }
    const std::string& last_error() const { return last_failure_.error; }

private:
    SPModbus& device_;
    BusLink& link_;
    std::size_t carried_ = 0;
    std::size_t failed_ = 0;
    LinkResult last_failure_;
};
