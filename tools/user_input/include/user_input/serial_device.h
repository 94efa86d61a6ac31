#pragma once

#include <cstddef>
#include <string>
#include <utility>

// A serial line as the tools' options name it, DEVICE[:BAUD[:PARITY[:UNIT]]], where the device's
// own name may hold colons (/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0, the usual way
// to tell two identical adapters apart). The fields are taken from the right: the longest tail of
// at most `max_fields` colon-separated parts that reads as BAUD (digits), PARITY (one letter, or a
// letter between two digits as in 8N1) and UNIT (digits), in that order, each possibly empty;
// everything before it is the device. Framing where the baud rate goes (DEVICE:8N1) is taken as
// the BAUD field too, so that the caller refuses it instead of opening a device of that name.
// Returns the device and the fields' text ("" when none, else "9600:E:1"); whether a letter is a
// parity the line knows is for the caller to say.
std::pair<std::string, std::string> split_serial_device(const std::string& text, std::size_t max_fields);
