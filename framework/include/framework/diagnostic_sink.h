#pragma once

#include <string_view>

namespace framework {

// Where a device's diagnostic lines go. A host sees them on standard output; tests, benchmarks
// and tools that call device code for their own purposes install a sink of their own. A sink may
// be called from several threads at once and must outlive every device it is installed on.
class DiagnosticSink {
public:
    virtual ~DiagnosticSink() = default;
    // One whole line, without its line end.
    virtual void write_line(std::string_view line) const = 0;
};

// Writes each line and its line end to standard output in one piece, flushed, one line at a time.
const DiagnosticSink& standard_output_sink();

// Drops every line.
const DiagnosticSink& silent_sink();

}  // namespace framework
