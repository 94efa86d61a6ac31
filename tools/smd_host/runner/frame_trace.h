#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "host_runtime/wire_observer.h"

// --trace-frames: every frame a link put on the wire or took off it, what happened to the line,
// and where each round started and ended, one line each for people to read:
//
//   2026-12-09T14:03:05.123+01:00  tcp:127.0.0.1:1502 unit 1  >  00 00 00 00 00 06 01 03 00 00 00 04  03 read
//   0+4 2026-12-09T14:03:05.124+01:00  tcp:127.0.0.1:1502 unit 1  <  00 00 ... 34 12  03 reply 0+4  0.8 ms
//
// The lines are kept in memory and written at each round's end (flush) and when the trace ends,
// so that tracing costs a round little. Several links may share one trace: it guards itself.
class FrameTrace : public WireObserver {
public:
    // Appends to the file at `path` after a header line naming the run; throws std::runtime_error
    // with the system's reason when it cannot be opened.
    explicit FrameTrace(const std::string& path);
    ~FrameTrace() override;  // writes what is kept
    FrameTrace(const FrameTrace&) = delete;
    FrameTrace& operator=(const FrameTrace&) = delete;

    void on_frame(const ModbusEndpoint& endpoint, const WireFrame& frame) override;
    void on_event(const ModbusEndpoint& endpoint, const WireEvent& event) override;
    // "round 3 started"; "round 3 completed" or "round 3 stopped at step 12 of 62 (why)".
    void round_started(const std::string& link, int round);
    void round_ended(const std::string& link, int round, const std::string& outcome);

    // Writes the kept lines out; false when the file could not be written (error() says why).
    bool flush();
    // Why the file could not be written; empty while it could.
    std::string error() const;

private:
    void line(std::chrono::system_clock::time_point at, const std::string& link, const std::string& text);

    mutable std::mutex mutex_;  // guards everything below
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string pending_;
    std::string error_;
    std::map<std::string, int> last_first_register_;  // by link: its request on the wire
};
