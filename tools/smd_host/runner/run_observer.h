#pragma once

#include <cstddef>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host_runtime/host_call.h"
#include "host_runtime/record_history.h"

// The trace file: whole lines, one writer at a time, so that the devices of a site share it.
class TraceFile {
public:
    // Opens the file; throws std::runtime_error when it cannot be written.
    explicit TraceFile(const std::string& path);
    void write(const std::string& line);
    // Why the trace could not be written ("cannot write trace file t.jsonl: No space left on
    // device"); empty while it could. After a failed write nothing more is written.
    std::string error() const;

private:
    mutable std::mutex mutex_;  // guards everything below
    std::string path_;
    std::ofstream out_;
    std::string error_;
};

// Each host call of one device as one JSON line {"args": [...], "call": name}, with "unit" naming
// the device's unit when several share the file.
class TraceWriter : public HostCallObserver {
public:
    explicit TraceWriter(std::shared_ptr<TraceFile> file, std::string unit = std::string())
        : file_(std::move(file)), unit_(std::move(unit)) {}
    void on_host_call(const HostCall& call) override;
    void write_line(const std::string& call, const Json::Value& args);
    std::string error() const { return file_->error(); }

private:
    std::shared_ptr<TraceFile> file_;
    std::string unit_;
};

// The runner's view of the host calls a device makes: it tallies what a round did for the round
// summary, hands each call to the trace writer (when a trace is open) and keeps the history of
// published records when asked to, and passes the rule and alarm reports on to a listener (the
// live view's). Nothing is turned into text unless a trace is open.
class RunObserver : public HostObserver {
public:
    struct RoundTally {
        std::size_t reads = 0;
        std::size_t writes = 0;
        std::size_t published = 0;               // SendSP calls
        std::size_t stored = 0;                  // SaveDeviceHistory calls
        std::size_t alarm_reports = 0;           // CheckThresholdBool and CheckThreshold calls
        std::vector<unsigned char> last_record;  // the last published record
    };

    // Opens the trace file; throws std::runtime_error when it cannot be written.
    void open_trace(const std::string& path);
    // Writes the trace to `file`, shared with other devices, each line naming `unit`.
    void share_trace(std::shared_ptr<TraceFile> file, const std::string& unit);
    // Appends every published record to `history` (which must outlive the observer).
    void keep_history(RecordHistoryWriter& history) { history_ = &history; }
    // Passes every CheckThresholdBool, CheckThreshold and CheckAOReport call on to `listener` too
    // (which must outlive the observer).
    void pass_reports_to(HostObserver& listener) { reports_ = &listener; }
    // A request the link could not carry: a trace line {"call": "request failed", "args": [why]}.
    void on_request_failed(const std::string& error);

    // Why the trace file could not be written; empty when it could, or when none is open.
    std::string trace_error() const { return trace_ ? trace_->error() : std::string(); }

    const RoundTally& tally() const { return tally_; }
    void start_round() { tally_ = RoundTally{}; }

    void on_init_setting(const InitSettingCall& c) override;
    void on_refresh_status() override;
    void on_open_port() override;
    void on_reset() override;
    void on_device_io_control(const DeviceIoControlCall& c) override;
    void on_send_sp(const SendSPCall& c) override;
    void on_save_device_history(const SaveDeviceHistoryCall& c) override;
    void on_check_threshold(const CheckThresholdCall& c) override;
    void on_check_threshold_bool(const CheckThresholdBoolCall& c) override;
    void on_check_ao_report(const CheckAOReportCall& c) override;
    void on_do_batch_check_threshold(const DoBatchCheckThresholdCall& c) override;
    void on_read_registers(const ReadRegistersCall& c) override;
    void on_write_register(const WriteRegisterCall& c) override;
    void on_write_registers(const WriteRegistersCall& c) override;

private:
    std::unique_ptr<TraceWriter> trace_;
    RecordHistoryWriter* history_ = nullptr;
    HostObserver* reports_ = nullptr;
    RoundTally tally_;
};
