#pragma once

#include <sstream>

#include "framework/diagnostic_sink.h"

namespace framework {

// Diagnostic lines: one fixed label followed directly by values, written to the given sink as
// one line.
template <typename... Parts>
void log_line(const DiagnosticSink& sink, const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    sink.write_line(line.str());
}

}  // namespace framework
