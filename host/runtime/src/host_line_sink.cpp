#include "host/host_line_sink.h"

#include <cstdio>

namespace {

class StandardOutputHostSink final : public HostLineSink {
public:
    void write_line(std::string_view line) const override {
        std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
        std::fflush(stdout);
    }
};

}  // namespace

const HostLineSink& standard_output_host_sink() {
    static const StandardOutputHostSink sink;
    return sink;
}
