#pragma once

#include <iostream>
#include <sstream>

// Sets standard output's stream aside while it lives: for the driver's diagnostic lines when
// the runner calls driver code for its own purposes.
class QuietStdout {
public:
    QuietStdout() : saved_(std::cout.rdbuf(sink_.rdbuf())) {}
    ~QuietStdout() { std::cout.rdbuf(saved_); }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    std::ostringstream sink_;
    std::streambuf* saved_;
};
