#pragma once

#include <string_view>

// Where the host's own lines go (a request that failed on the line, for one). A hosting program
// sees them on standard output; tests install a sink of their own. A sink may be called from
// several threads at once and must outlive every device it is installed on.
class HostLineSink {
public:
    virtual ~HostLineSink() = default;
    // One whole line, without its line end.
    virtual void write_line(std::string_view line) const = 0;
};

// Writes each line and its line end to standard output through C stdio, flushed.
const HostLineSink& standard_output_host_sink();
