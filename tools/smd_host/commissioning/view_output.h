#pragma once

#include <cstddef>
#include <string>

#include "standard_output_set_aside.h"

// Where the live view goes: standard output, which the view has to itself while it lives (the
// plug-in's diagnostic lines are set aside). On a terminal each frame replaces the last one;
// otherwise frames follow one another as plain text.
class ViewOutput {
public:
    ViewOutput();
    ViewOutput(const ViewOutput&) = delete;
    ViewOutput& operator=(const ViewOutput&) = delete;

    void show(const std::string& frame);
    // Lines of the terminal the view is shown on; 0 when it is no terminal.
    std::size_t screen_rows() const;
    // Whether the view is shown on a terminal, each frame replacing the last.
    bool terminal() const { return terminal_; }
    // Why a frame could not be written; empty while every frame was.
    const std::string& error() const { return error_; }

private:
    StandardOutputSetAside aside_;
    std::string error_;
    bool terminal_ = false;
};
