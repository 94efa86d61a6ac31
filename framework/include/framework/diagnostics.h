#pragma once

#include <iostream>
#include <sstream>
#include <string>

// Diagnostic lines: plain text on standard output, one fixed label followed directly by values,
// flushed at each line end.
template <typename... Parts>
void log_line(const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    line << '\n';
    std::cout << line.str() << std::flush;
}
