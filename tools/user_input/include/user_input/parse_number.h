#pragma once

#include <optional>
#include <string_view>

// Numbers in the tools' options and files (register numbers, values, rounds, counts). A text is a
// number only as a whole: no blanks around it, no trailing characters. Callers say what the
// number is for in their own error messages.

// A decimal number from 0 to `max`; none otherwise.
std::optional<long> parse_decimal(std::string_view text, long max);

// A decimal number, or a hexadecimal one after "0x" or "0X", from 0 to `max`; none otherwise.
std::optional<long> parse_decimal_or_hex(std::string_view text, long max);
