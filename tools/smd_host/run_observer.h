#pragma once

#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_call.h"
#include "host/record_history.h"

// The runner's view of the host calls a device makes: it writes each one as a JSON line to the
// trace file (when one is open) and tallies what a round did for the round summary, and keeps the history of published
// records when asked to.
class RunObserver : public HostObserver {
public:
    struct RoundTally {
        std::size_t reads = 0;
        std::size_t writes = 0;
        std::size_t published = 0;     // SendSP calls
        std::size_t stored = 0;        // SaveDeviceHistory calls
        std::size_t alarm_reports = 0; // CheckThresholdBool and CheckThreshold calls
        std::string last_record_hex;   // bytes of the last published record
        std::vector<HostCall> reports; // CheckThresholdBool, CheckThreshold, CheckAOReport
    };

    // Opens the trace file; throws std::runtime_error when it cannot be written.
    void open_trace(const std::string& path);
    // Appends every published record to `history` (which must outlive the observer).
    void keep_history(RecordHistoryWriter& history) { history_ = &history; }
    void on_host_call(const HostCall& call) override;
    // A request the link could not carry: a trace line {"call": "request failed", "args": [why]}.
    void on_request_failed(const std::string& error);

    const RoundTally& tally() const { return tally_; }
    void start_round() { tally_ = RoundTally{}; }

private:
    void write_trace_line(const std::string& call, const Json::Value& args);

    std::ofstream trace_;
    RecordHistoryWriter* history_ = nullptr;
    RoundTally tally_;
};
