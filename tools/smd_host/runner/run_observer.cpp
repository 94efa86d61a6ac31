#include "run_observer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <json/writer.h>

TraceFile::TraceFile(const std::string& path) : path_(path), out_(path, std::ios::out | std::ios::trunc) {
    if (!out_) throw std::runtime_error("cannot write trace file " + path);
}

void TraceFile::write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty()) return;
    errno = 0;
    out_ << line << '\n' << std::flush;
    if (!out_) {
        error_ =
            "cannot write trace file " + path_ + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    }
}

std::string TraceFile::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void TraceWriter::on_host_call(const HostCall& call) { write_line(call.name, call.args); }

void TraceWriter::write_line(const std::string& call, const Json::Value& args) {
    Json::Value line(Json::objectValue);
    line["call"] = call;
    line["args"] = args;
    if (!unit_.empty()) line["unit"] = unit_;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    file_->write(Json::writeString(builder, line));
}

void RunObserver::open_trace(const std::string& path) {
    trace_ = std::make_unique<TraceWriter>(std::make_shared<TraceFile>(path));
}

void RunObserver::share_trace(std::shared_ptr<TraceFile> file, const std::string& unit) {
    trace_ = std::make_unique<TraceWriter>(std::move(file), unit);
}

void RunObserver::on_request_failed(const std::string& error) {
    if (!trace_) return;
    Json::Value args(Json::arrayValue);
    args.append(error);
    trace_->write_line("request failed", args);
}

void RunObserver::on_init_setting(const InitSettingCall& c) {
    if (trace_) trace_->on_init_setting(c);
}

void RunObserver::on_refresh_status() {
    if (trace_) trace_->on_refresh_status();
}

void RunObserver::on_open_port() {
    if (trace_) trace_->on_open_port();
}

void RunObserver::on_reset() {
    if (trace_) trace_->on_reset();
}

void RunObserver::on_device_io_control(const DeviceIoControlCall& c) {
    if (trace_) trace_->on_device_io_control(c);
}

void RunObserver::on_send_sp(const SendSPCall& c) {
    if (trace_) trace_->on_send_sp(c);
    ++tally_.published;
    tally_.last_record.assign(c.bytes, c.bytes + c.length);
    if (history_ != nullptr) history_->append(tally_.last_record.data(), tally_.last_record.size());
}

void RunObserver::on_save_device_history(const SaveDeviceHistoryCall& c) {
    if (trace_) trace_->on_save_device_history(c);
    ++tally_.stored;
}

void RunObserver::on_check_threshold(const CheckThresholdCall& c) {
    if (trace_) trace_->on_check_threshold(c);
    ++tally_.alarm_reports;
    if (reports_ != nullptr) reports_->on_check_threshold(c);
}

void RunObserver::on_check_threshold_bool(const CheckThresholdBoolCall& c) {
    if (trace_) trace_->on_check_threshold_bool(c);
    ++tally_.alarm_reports;
    if (reports_ != nullptr) reports_->on_check_threshold_bool(c);
}

void RunObserver::on_check_ao_report(const CheckAOReportCall& c) {
    if (trace_) trace_->on_check_ao_report(c);
    if (reports_ != nullptr) reports_->on_check_ao_report(c);
}

void RunObserver::on_do_batch_check_threshold(const DoBatchCheckThresholdCall& c) {
    if (trace_) trace_->on_do_batch_check_threshold(c);
}

void RunObserver::on_read_registers(const ReadRegistersCall& c) {
    if (trace_) trace_->on_read_registers(c);
    ++tally_.reads;
}

void RunObserver::on_write_register(const WriteRegisterCall& c) {
    if (trace_) trace_->on_write_register(c);
    ++tally_.writes;
}

void RunObserver::on_write_registers(const WriteRegistersCall& c) {
    if (trace_) trace_->on_write_registers(c);
    ++tally_.writes;
}
