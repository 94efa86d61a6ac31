#pragma once

#include <optional>
#include <string>

#include "host_runtime/modbus_endpoint.h"

// A link as the runner names it, on the command line (--unit) and in a site file (link:): "sim",
// "tcp:HOST[:PORT[:UNIT]]" or "rtu:DEVICE[:BAUD[:PARITY[:UNIT]]]". None for sim, else the
// endpoint, its fields checked (a serial device's baud rate 0 when the text names none). Throws
// std::invalid_argument naming what is wrong. `names_unit`, when given, says whether the text
// carries the UNIT field.
std::optional<ModbusEndpoint> parse_link_text(const std::string& text, bool* names_unit = nullptr);
