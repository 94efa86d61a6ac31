#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "framework/diagnostic_sink.h"
#include "host/host_line_sink.h"

// Keeps the lines written to a sink, each with its line end, as standard output would show them.
// `Sink` is the interface recorded: a device's diagnostic lines or the host's own lines.
template <class Sink>
class RecordingLines : public Sink {
public:
    void write_line(std::string_view line) const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        text_.append(line);
        text_ += '\n';
    }

    // The lines written since the last take, and forgets them.
    std::string take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        text.swap(text_);
        return text;
    }

private:
    mutable std::mutex mutex_;
    mutable std::string text_;
};

using RecordingSink = RecordingLines<DiagnosticSink>;
using RecordingHostSink = RecordingLines<HostLineSink>;
