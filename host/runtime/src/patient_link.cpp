#include "host_runtime/patient_link.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

constexpr int kMaxReadRegisters = 125;   // Modbus application protocol, function 03
constexpr int kMaxWriteRegisters = 123;  // function 16

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

BusLink::Clock::duration duration_of(double seconds) {
    return std::chrono::duration_cast<BusLink::Clock::duration>(std::chrono::duration<double>(seconds));
}

const char* check_request(const ModbusRequest& r) {
    const int max = r.kind == ModbusRequest::Kind::read_registers ? kMaxReadRegisters : kMaxWriteRegisters;
    if (r.start < 0 || r.count < 1 || r.count > max || r.start + r.count > 65536) {
        return "request outside the Modbus limits";
    }
    if (r.kind == ModbusRequest::Kind::write_register && (r.count != 1 || r.values.empty())) {
        return "single write without its value";
    }
    if (r.kind == ModbusRequest::Kind::write_registers &&
        r.values.size() != static_cast<std::size_t>(r.count)) {
        return "write carries fewer values than its count";
    }
    return nullptr;
}

bool retryable(LinkFailure failure) {
    return failure == LinkFailure::timeout || failure == LinkFailure::garbled ||
           failure == LinkFailure::connection_lost || failure == LinkFailure::other_unit;
}

}  // namespace

PatientLink::PatientLink(ModbusEndpoint endpoint, LinkSettings settings)
    : endpoint_(std::move(endpoint)), settings_(std::move(settings)) {}

PatientLink::~PatientLink() = default;

LinkResult PatientLink::transact(const ModbusRequest& request) {
    ++counters_.requests;
    LinkResult result;
    if (const char* wrong = check_request(request)) {
        result.error = describe_request(request) + ": " + wrong;
        result.failure = LinkFailure::refused;
        ++counters_.failures;
        counters_.last_failure = result.error;
        return result;
    }
    for (int attempt_number = 0, busy = 0;;) {
        result = LinkResult{};
        attempt(request, result);
        if (result.failure == LinkFailure::none) {
            result.ok = true;
            ++counters_.replies;
            return result;
        }
        if (result.failure == LinkFailure::timeout) ++counters_.timeouts;
        if (result.failure == LinkFailure::exception) ++counters_.exceptions;
        const bool unit_busy = result.failure == LinkFailure::exception && result.exception_code == 0x06;
        // A busy unit is asked again after a wait, apart from the retries of a lost reply.
        if (unit_busy && busy < settings_.busy_retries) {
            ++busy;
            ++counters_.busy_retries;
            if (wait_seconds(settings_.busy_wait)) continue;
            result.failure = LinkFailure::interrupted;
            result.error = "stopped while the unit was busy";
        }
        if (!retryable(result.failure) || attempt_number >= settings_.retries) {
            ++counters_.failures;
            if (busy > 0) result.error += ", still after " + std::to_string(busy) + " busy retries";
            result.error = describe_request(request) + " on " + endpoint_.describe() + ": " + result.error;
            counters_.last_failure = result.error;
            return result;
        }
        ++attempt_number;
        ++counters_.retries;
    }
}

void PatientLink::attempt(const ModbusRequest& request, LinkResult& result) {
    if (!connected_) {
        const auto at = now();
        if (at < next_connect_) {
            const double wait = std::chrono::duration<double>(next_connect_ - at).count();
            result.failure = LinkFailure::no_connection;
            result.error = "no connection, next attempt in " + seconds_text(wait);
            return;
        }
        if (!connect(result.error)) {
            result.failure = LinkFailure::no_connection;
            return;
        }
        // Some gateways drop a request sent right after the connection opens.
        if (!wait_seconds(settings_.pause_after_connect)) {
            result.failure = LinkFailure::interrupted;
            result.error = "stopped before the first request of the connection";
            return;
        }
    }
    if (settings_.pause > 0 && !wait_until(last_request_end_ + duration_of(settings_.pause))) {
        result.failure = LinkFailure::interrupted;
        result.error = "stopped before the request";
        return;
    }
    result.first_on_connection = fresh_connection_;
    fresh_connection_ = false;
    exchange(request, result);
    last_request_end_ = now();
}

bool PatientLink::connect(std::string& error) {
    WireEvent opened;
    if (!open_line(error, opened)) {
        backoff_ = backoff_ <= 0 ? settings_.reconnect_min : std::min(2 * backoff_, settings_.reconnect_max);
        next_connect_ = now() + duration_of(backoff_);
        error += ", next attempt in " + seconds_text(backoff_);
        tell(WireEvent::Kind::connect_failed, error);
        return false;
    }
    if (ever_connected_) ++counters_.reconnects;
    opened.kind = ever_connected_ ? WireEvent::Kind::reconnected : WireEvent::Kind::connected;
    opened.at = std::chrono::system_clock::now();
    for (WireObserver* observer : settings_.wire_observers) observer->on_event(endpoint_, opened);
    ever_connected_ = true;
    connected_ = true;
    fresh_connection_ = true;
    backoff_ = 0;
    return true;
}

void PatientLink::drop(const std::string& reason) {
    if (!connected_) return;
    close_connection();
    connected_ = false;
    tell(WireEvent::Kind::closed, reason);
}

bool PatientLink::wait_until(Clock::time_point until) {
    // In short steps, so that a stop request ends the wait within a few tens of milliseconds.
    constexpr auto kStep = std::chrono::milliseconds(20);
    const std::atomic<bool>* stop = settings_.stop;
    for (auto at = Clock::now(); at < until; at = Clock::now()) {
        if (stop != nullptr && stop->load()) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - at, kStep));
    }
    return stop == nullptr || !stop->load();
}

bool PatientLink::wait_seconds(double seconds) {
    return seconds <= 0 || wait_until(now() + duration_of(seconds));
}

void PatientLink::tell(const WireFrame& frame) const {
    for (WireObserver* observer : settings_.wire_observers) observer->on_frame(endpoint_, frame);
}

void PatientLink::tell(WireEvent::Kind kind, const std::string& detail) const {
    if (settings_.wire_observers.empty()) return;
    WireEvent event;
    event.kind = kind;
    event.at = std::chrono::system_clock::now();
    event.detail = detail;
    for (WireObserver* observer : settings_.wire_observers) observer->on_event(endpoint_, event);
}
