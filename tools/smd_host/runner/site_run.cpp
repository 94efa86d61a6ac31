#include "site_run.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control_requests.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/modbus_link.h"
#include "host_runtime/record_history.h"
#include "repeated_failures.h"
#include "round_lines.h"
#include "run_observer.h"
#include "unit_link.h"

namespace {

using Clock = std::chrono::steady_clock;

// Held-back failed rounds after which their summary is printed even though they go on.
constexpr int kMaxHeldFailures = 100;
// The back-off of a unit that stops answering: from this, doubled on each failed round, up to the
// link's reconnect back-off at most.
constexpr double kFirstBackoff = 0.5;
constexpr double kMaxBackoff = 30;

Clock::duration seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Whole lines on one stream from several line threads.
class Messages {
public:
    explicit Messages(std::ostream& out) : out_(out) {}
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        out_ << text << '\n' << std::flush;
    }

private:
    std::mutex mutex_;
    std::ostream& out_;
};

// A unit's way onto its line: every request addressed to its unit id.
class UnitOnLine : public BusLink {
public:
    UnitOnLine(ModbusLink& line, int unit) : line_(line), unit_(unit) {}
    LinkResult transact(const ModbusRequest& request) override {
        line_.address(unit_);
        return line_.transact(request);
    }
    Clock::time_point next_attempt() const override { return line_.next_attempt(); }

private:
    ModbusLink& line_;
    int unit_;
};

// One unit on its line: its device as the host holds it, and what its rounds did. Used by its
// line's thread only, once made.
struct UnitRun {
    UnitRun(const SiteUnit& config, ModbusLink& line, std::size_t index)
        : config(config), index(index), port(line, config.unit) {}

    const SiteUnit& config;
    std::size_t index;  // its place in the site's status
    RunObserver observer;
    std::unique_ptr<RecordHistoryWriter> history;
    UnitOnLine port;
    std::unique_ptr<SPModbus> device;
    std::unique_ptr<BusPump> pump;
    RepeatedFailures repeats;
    int rounds_run = 0;
    int rounds_completed = 0;
    Clock::time_point due{};
    double backoff = 0;  // seconds; 0 while the unit answers
};

struct LineRun {
    const SiteLine& config;
    std::size_t index;   // its place in the site's status
    WireRecorders wire;  // the line's own frame trace and capture, when the site file names them
    std::unique_ptr<ModbusLink> link;
    std::vector<std::unique_ptr<UnitRun>> units;
    std::string error;  // what stopped the line (a history that could not be written)
};

// Failures after which a unit is left out for a while: it does not answer, or cannot be reached.
bool unreachable(LinkFailure failure) {
    return failure == LinkFailure::timeout || failure == LinkFailure::no_connection ||
           failure == LinkFailure::connection_lost;
}

// Waits until `until` unless stopped first.
void wait_until(Clock::time_point until, const std::atomic<bool>& stop) {
    while (!stop && Clock::now() < until) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
    }
}

class SiteRun {
public:
    SiteRun(const RunnerOptions& options, const std::atomic<bool>& stop, std::ostream& messages,
            SiteStatus* status)
        : options_(options),
          stop_(stop),
          messages_(messages),
          wire_(options),
          status_(status != nullptr ? *status : own_status_) {}

    void add_lines(const Site& site, const PluginLibrary& plugin);
    void run();
    int finish();

private:
    void run_line(LineRun& line);
    void run_round(LineRun& line, UnitRun& unit);

    const RunnerOptions& options_;
    const std::atomic<bool>& stop_;
    Messages messages_;
    WireRecorders wire_;
    std::shared_ptr<TraceFile> trace_;
    SiteStatus own_status_;  // when the caller follows none
    SiteStatus& status_;
    std::vector<std::unique_ptr<LineRun>> lines_;
};

void SiteRun::add_lines(const Site& site, const PluginLibrary& plugin) {
    if (!options_.trace_path.empty()) {
        try {
            trace_ = std::make_shared<TraceFile>(options_.trace_path);
        } catch (const std::runtime_error& e) {
            throw InputFileError{e.what()};
        }
    }
    for (const SiteLine& config : site.lines) {
        if (!parse_unit_option(config.link.unit)) {
            throw InputFileError{"site file " + site.path + ": " + config.name +
                                 ": a site's lines are real lines (tcp: or rtu:); sim is for --unit"};
        }
        auto line = std::make_unique<LineRun>(
            LineRun{config, status_.add_line(config.name), WireRecorders(config.link), nullptr, {}, {}});
        std::vector<WireObserver*> observers = wire_.observers;
        observers.insert(observers.end(), line->wire.observers.begin(), line->wire.observers.end());
        for (const SiteUnit& unit_config : config.units) {
            // The devices are made as the host makes them: through the provider, then Init and
            // InitSetting with the unit's own settings.
            std::unique_ptr<SPModbus> device = plugin.create_device();
            if (!line->link) {
                line->link = open_modbus_link(config.link, device->baud_rate(), &stop_, observers);
            }
            auto unit = std::make_unique<UnitRun>(
                unit_config, *line->link,
                status_.add_unit(line->index, unit_config.unit, unit_config.data_id, unit_config.name));
            if (trace_) unit->observer.share_trace(trace_, unit_config.name);
            if (!unit_config.history_path.empty()) {
                unit->history = std::make_unique<RecordHistoryWriter>(unit_config.history_path);
                unit->observer.keep_history(*unit->history);
            }
            device->set_observer(&unit->observer);
            device->Init(std::weak_ptr<SMDController>(), unit_config.data_id, Json::Value(Json::objectValue));
            try {
                device->InitSetting(unit_config.settings);
            } catch (const std::exception& e) {
                throw std::runtime_error(unit_config.name + ": " + e.what());
            }
            unit->device = std::move(device);
            unit->pump = std::make_unique<BusPump>(*unit->device, unit->port);
            line->units.push_back(std::move(unit));
        }
        lines_.push_back(std::move(line));
    }
}

void SiteRun::run() {
    std::vector<std::thread> threads;
    for (auto& line : lines_) threads.emplace_back([this, &line] { run_line(*line); });
    for (auto& thread : threads) thread.join();
}

void SiteRun::run_line(LineRun& line) {
    try {
        for (;;) {
            // The unit whose round is due first, among those with rounds left.
            UnitRun* next = nullptr;
            for (auto& unit : line.units) {
                if (options_.rounds != 0 && unit->rounds_run >= options_.rounds) continue;
                if (next == nullptr || unit->due < next->due) next = unit.get();
            }
            if (next == nullptr) return;
            wait_until(std::max(next->due, line.link->next_attempt()), stop_);
            if (stop_) return;
            run_round(line, *next);
        }
    } catch (const std::exception& e) {
        line.error = line.config.name + ": " + e.what();
    }
}

void SiteRun::run_round(LineRun& line, UnitRun& unit) {
    const int round = unit.rounds_run + 1;
    const std::string& name = unit.config.name;
    // The round's start and end go to every frame trace that records its line.
    FrameTrace* const traces[] = {wire_.frame_trace.get(), line.wire.frame_trace.get()};
    BusPump& pump = *unit.pump;
    unit.observer.start_round();
    status_.round_started(unit.index);
    for (FrameTrace* trace : traces) {
        if (trace) trace->round_started(name, round);
    }
    const std::size_t carried = pump.carried();
    const std::size_t failed = pump.failed();
    const auto started = Clock::now();
    unit.device->RefreshStatus();
    for (std::size_t failures = pump.failed(); !stop_ && pump.pump_one();) {
        if (pump.failed() != failures) unit.observer.on_request_failed(pump.last_error());
        failures = pump.failed();
    }
    const RoundTraffic traffic{std::chrono::duration<double>(Clock::now() - started).count(),
                               pump.carried() - carried, pump.failed() - failed};
    const auto& tally = unit.observer.tally();
    const bool completed = tally.published > 0;
    // A round that a stop cut short did not fail: it is neither shown nor counted.
    if (stop_ && !completed) {
        const std::string where = "interrupted at step " + std::to_string(tally.reads) + " of 62";
        messages_.line(name + ": round " + std::to_string(round) + ": " + where);
        for (FrameTrace* trace : traces) {
            if (trace) trace->round_ended(name, round, where);
        }
        return;
    }
    const bool tcp = line.link->endpoint().transport == ModbusEndpoint::Transport::tcp;
    const std::string error =
        traffic.failures > 0
            ? pump.last_error() + hint(pump.last_failure(), line.config.link, tcp, unit.rounds_completed > 0)
            : std::string();
    for (FrameTrace* trace : traces) {
        if (!trace) continue;
        trace->round_ended(name, round, completed ? "completed" : "stopped " + stop_cause(tally, error));
        trace->flush();
    }
    for (FrameCapture* capture : {wire_.capture.get(), line.wire.capture.get()}) {
        if (capture) capture->flush();
    }
    line.link->counters().book_round(completed, traffic.seconds);
    status_.line_counters(line.index, line.link->counters());
    if (line.config.link.close_after_round) line.link->close_line();
    ++unit.rounds_run;
    unit.rounds_completed += completed ? 1 : 0;

    // The next round: at the unit's interval, or after its back-off while it does not answer.
    const auto now = Clock::now();
    if (!completed && unreachable(pump.last_failure().failure)) {
        unit.backoff = unit.backoff <= 0 ? kFirstBackoff : std::min(2 * unit.backoff, kMaxBackoff);
    } else {
        unit.backoff = 0;
    }
    unit.due = std::max(started + seconds(unit.config.interval_seconds), now + seconds(unit.backoff));
    SiteStatus::RoundEnd end{completed, unit.backoff > 0, traffic.seconds, LinkFailure::none, error, nullptr};
    if (traffic.failures > 0) end.failure = pump.last_failure().failure;
    if (completed && status_.keeps_snapshots()) end.snapshot = shared_snapshot_text(*unit.device);
    status_.round_ended(unit.index, std::move(end));

    // The view shows the rounds in place of their lines.
    if (options_.view) return;
    // The round's line, repeated failures folded as for a single unit.
    if (completed) {
        unit.repeats.completed();
    } else if (!unit.repeats.first_of_its_kind(round, stop_cause(tally, error))) {
        if (unit.repeats.held() >= kMaxHeldFailures) {
            if (const auto summary = unit.repeats.take_summary()) messages_.line(name + ": " + *summary);
        }
        return;
    }
    if (const auto summary = unit.repeats.take_summary()) messages_.line(name + ": " + *summary);
    messages_.line(name + ": " + round_summary(round, tally, traffic, error));
}

int SiteRun::finish() {
    bool failed = false;
    bool none_completed = false;
    for (auto& line : lines_) {
        for (auto& unit : line->units) {
            if (const auto summary = unit->repeats.take_summary())
                messages_.line(unit->config.name + ": " + *summary);
            messages_.line(unit->config.name + ": " + std::to_string(unit->rounds_completed) + " of " +
                           std::to_string(unit->rounds_run) + " rounds completed");
            none_completed = none_completed || unit->rounds_completed == 0;
        }
        messages_.line("link: " + line->config.name + ": " + line->link->counters().describe());
        if (!line->error.empty()) {
            messages_.line("smd-host: " + line->error);
            failed = true;
        }
    }
    if (stop_) messages_.line("interrupted");
    // The devices go first, as the host destroys them; then the lines, whose close ends the frame
    // files.
    for (auto& line : lines_) {
        for (auto& unit : line->units) unit->device.reset();
        line->link->close_line();
    }
    std::vector<std::string> errors = {trace_ ? trace_->error() : std::string()};
    const auto flushed = [&errors](WireRecorders& wire) {
        if (wire.frame_trace && !wire.frame_trace->flush()) errors.push_back(wire.frame_trace->error());
        if (wire.capture && !wire.capture->flush()) errors.push_back(wire.capture->error());
    };
    flushed(wire_);
    for (auto& line : lines_) flushed(line->wire);
    for (const auto& error : errors) {
        if (error.empty()) continue;
        messages_.line("smd-host: " + error);
        failed = true;
    }
    if (failed) return 1;
    return none_completed ? kNoRoundCompleted : 0;
}

}  // namespace

int run_site(const RunnerOptions& options, const Site& site, const PluginLibrary& plugin,
             const std::atomic<bool>& stop, std::ostream& messages, SiteStatus* status) {
    SiteRun run(options, stop, messages, status);
    run.add_lines(site, plugin);
    run.run();
    return run.finish();
}
