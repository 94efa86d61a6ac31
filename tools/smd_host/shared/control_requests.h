#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/sp_modbus.h"
#include "host_runtime/bus_pump.h"

// What the runner asks of a device after its rounds, through DeviceIoControl as a host would.

// The snapshot text as the device hands it out (request 801); throws std::runtime_error when the
// device refuses it.
std::string snapshot_text(SPModbus& device);
// The snapshot text, kept to be shared by readers; null when the device refuses it (a profile
// that builds no snapshot).
std::shared_ptr<const std::string> shared_snapshot_text(SPModbus& device);
// The snapshot tree as the device hands it out (request 803), to read in place while the device
// lives; throws std::runtime_error when the device refuses it.
const Json::Value& snapshot_tree(SPModbus& device);
// Fetches the snapshot text (request 801) and writes it to `path` unchanged; throws
// std::runtime_error when the device refuses or the file cannot be written.
void save_snapshot(SPModbus& device, const std::string& path);

// What became of a register write.
struct WriteOutcome {
    bool confirmed = false;
    std::string line;    // for the user: whether the unit confirmed, refused or did not answer
    LinkResult failure;  // the link's result for a request that failed (failure none: none failed)
};

// Writes `words` (the register, then one or more values) with request 206 or 210, lets the pump
// carry it to the unit and reads the outcome back with an unlisted code.
WriteOutcome write_and_confirm(SPModbus& device, BusPump& pump, const std::vector<std::uint16_t>& words);

// The line for a write that was not sent because the rounds were interrupted.
std::string write_not_sent(const std::vector<std::uint16_t>& words);
