#include "run_observer.h"

#include <stdexcept>

#include <json/writer.h>

void RunObserver::open_trace(const std::string& path) {
    trace_.open(path, std::ios::out | std::ios::trunc);
    if (!trace_) throw std::runtime_error("cannot write trace file " + path);
}

void RunObserver::write_trace_line(const std::string& call, const Json::Value& args) {
    if (!trace_.is_open()) return;
    Json::Value line(Json::objectValue);
    line["call"] = call;
    line["args"] = args;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    trace_ << Json::writeString(builder, line) << '\n' << std::flush;
}

void RunObserver::on_request_failed(const std::string& error) {
    Json::Value args(Json::arrayValue);
    args.append(error);
    write_trace_line("request failed", args);
}

void RunObserver::on_host_call(const HostCall& call) {
    write_trace_line(call.name, call.args);
    if (call.name == "modbus_read_registers") {
        ++tally_.reads;
    } else if (call.name == "modbus_write_register" || call.name == "modbus_write_registers") {
        ++tally_.writes;
    } else if (call.name == "SendSP") {
        ++tally_.published;
        tally_.last_record_hex = call.args[1].asString();
        if (history_ != nullptr) {
            const auto record = from_hex(tally_.last_record_hex);
            history_->append(record.data(), record.size());
        }
    } else if (call.name == "SaveDeviceHistory") {
        ++tally_.stored;
    } else if (call.name == "CheckThresholdBool" || call.name == "CheckThreshold") {
        ++tally_.alarm_reports;
        tally_.reports.push_back(call);
    } else if (call.name == "CheckAOReport") {
        tally_.reports.push_back(call);
    }
}
