#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "framework/diagnostic_sink.h"

// Keeps a device's diagnostic lines, each with its line end, as standard output would show them.
class RecordingSink : public framework::DiagnosticSink {
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
