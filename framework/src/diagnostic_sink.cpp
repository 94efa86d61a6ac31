#include "framework/diagnostic_sink.h"

#include <iostream>
#include <mutex>
#include <string>

namespace framework {

namespace {

class StandardOutputSink final : public DiagnosticSink {
public:
    void write_line(std::string_view line) const override {
        std::string text(line);
        text += '\n';
        const std::lock_guard<std::mutex> lock(mutex_);
        std::cout << text << std::flush;
    }

private:
    mutable std::mutex mutex_;
};

class SilentSink final : public DiagnosticSink {
public:
    void write_line(std::string_view) const override {}
};

}  // namespace

const DiagnosticSink& standard_output_sink() {
    static const StandardOutputSink sink;
    return sink;
}

const DiagnosticSink& silent_sink() {
    static const SilentSink sink;
    return sink;
}

}  // namespace framework
