// smd-host: a stand-in host process. Loads the plug-in, creates its device, configures it and
// drives polling rounds against the in-process simulated unit or a real Modbus line (or replays a
// recorded history), printing a summary of each round on standard error or a live view on
// standard output; the plug-in's own diagnostic lines pass through on standard output. It also
// carries the commissioning commands: the signal catalogue, the configuration check and the dump
// of a stored record.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <json/reader.h>
#include <json/value.h>

#include "commissioning_commands.h"
#include "configuration_check.h"
#include "control_requests.h"
#include "framework/configuration_loader.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/plugin_library.h"
#include "host_runtime/record_history.h"
#include "live_view.h"
#include "metrics_exposition.h"
#include "repeated_failures.h"
#include "round_lines.h"
#include "run_observer.h"
#include "runner_options.h"
#include "site_page.h"
#include "site_run.h"
#include "site_status.h"
#include "site_view.h"
#include "site_view_frame.h"
#include "unit_link.h"
#include "units_api.h"
#include "view_output.h"
#include "web_server.h"

namespace {

// Set by Ctrl-C (SIGINT) or a stop of the service (SIGTERM): the runner stops after the request
// in progress, and the link ends any wait between its attempts.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_interrupt(int) { interrupted = true; }

// Held-back failed rounds after which their summary is printed even though they go on.
constexpr int kMaxHeldFailures = 100;

// Sleeps until `until` unless interrupted first.
void sleep_until(std::chrono::steady_clock::time_point until) {
    while (!interrupted && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Sleeps for `seconds` unless interrupted first.
void pause_between_rounds(double seconds) {
    sleep_until(std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(seconds)));
}

// The plug-in built beside the runner, else the one installed with it.
std::string default_plugin_path() {
    const std::string name = "libpx46tr_k.so";
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return name;
    const std::string path(exe, static_cast<std::size_t>(n));
    const std::string bin = path.substr(0, path.rfind('/') + 1);
    if (access((bin + name).c_str(), F_OK) == 0) return bin + name;
    return bin + PX46_PLUGIN_DIR_FROM_BIN "/" + name;
}

void print_round_summary(int round, const RunObserver::RoundTally& tally, const RoundTraffic& traffic,
                         const std::string& last_error) {
    std::cerr << round_summary(round, tally, traffic, last_error) << "\n";
}

void print_held_failures(RepeatedFailures& repeats) {
    if (const auto summary = repeats.take_summary()) std::cerr << *summary << "\n";
}

double seconds_since(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

Json::Value parse_json(const std::string& text) {
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(text);
    if (!Json::parseFromStream(builder, in, &value, &errors))
        throw std::runtime_error("snapshot is not JSON: " + errors);
    return value;
}

// The operator profile the settings select, read as the device reads it (the default profile when
// none is named).
int operator_profile(const Json::Value& settings, unsigned int data_id) {
    std::int32_t profile = framework::profile_value(framework::kDefaultProfile);
    framework::configuration::read_operator_profile(settings, data_id, profile, framework::silent_sink());
    return profile;
}

// What the runner does after the last round: the snapshot file and the register write. Returns
// false when a write was asked for and the unit did not confirm it (or it was not sent).
bool finish_job(const RunnerOptions& options, SPModbus& device, BusPump* pump, RunObserver& observer) {
    if (!options.snapshot_path.empty()) save_snapshot(device, options.snapshot_path);
    if (options.write.empty()) return true;
    if (pump == nullptr) throw UsageError{"--write needs a unit to write to"};
    // Ctrl-C means stop: no register of the unit is changed after it.
    if (interrupted) {
        std::cerr << write_not_sent(options.write) << "\n";
        return false;
    }
    const WriteOutcome outcome = write_and_confirm(device, *pump, options.write);
    if (outcome.failure.failure != LinkFailure::none) observer.on_request_failed(outcome.failure.error);
    std::cerr << outcome.line << "\n";
    return outcome.confirmed;
}

// Reports the files the run could not write (the trace, the view's frames, the frame trace, the
// capture); true when there were none.
bool write_errors_reported(const RunObserver& observer, const std::string& view_error,
                           const std::string& frames_error = std::string(),
                           const std::string& capture_error = std::string()) {
    const std::string errors[] = {observer.trace_error(), view_error, frames_error, capture_error};
    bool none = true;
    for (const auto& error : errors) {
        if (error.empty()) continue;
        std::cerr << "smd-host: " << error << "\n";
        none = false;
    }
    return none;
}

// Standard output flushed; false, with a message, when it could not be written (a full disk, a
// closed pipe).
bool standard_output_written() {
    errno = 0;
    std::cout.flush();
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
    if (!written) {
        std::cerr << "smd-host: cannot write standard output"
                  << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
    }
    return written;
}

// The HTTP endpoint on `status`, which it only reads: started before the plug-in loads, so that an
// address it cannot serve (a port in use) is refused before anything runs.
// The live page of the status's `units` units is made in `page`, which outlives the server.
std::unique_ptr<WebServer> serve_status(const ListenAddress& address, SiteStatus& status, std::size_t units,
                                        std::unique_ptr<SitePage>& page) {
    status.keep_snapshots();
    page = std::make_unique<SitePage>(
        status, units, PageFiles(PageFiles::default_directory(), PageFiles::kDefaultChartFile));
    for (const std::string& missing : page->files().missing())
        std::cerr << "smd-host: the page lacks " << missing << "\n";
    std::vector<WebHandler> handlers = {metrics_handler(status), units_api_handler(status), page->handler()};
    try {
        auto server = std::make_unique<WebServer>(address, std::move(handlers));
        std::cerr << "smd-host: serving " << server->url() << "\n";
        return server;
    } catch (const WebServerError& e) {
        throw InputFileError{"--listen " + address.text() + ": " + e.what()};
    }
}

// Creates the plug-in's device, configures it and runs the job: the rounds or the replay. Each
// round is told to `status`, when given, as a site's rounds are.
int drive_device(const RunnerOptions& options, const Json::Value& settings, const PluginLibrary& plugin,
                 SiteStatus* status) {
    RunObserver observer;
    if (!options.trace_path.empty()) observer.open_trace(options.trace_path);
    const int profile = operator_profile(settings, options.data_id);
    ViewReportKeeper view_reports(profile);
    if (options.view) observer.pass_reports_to(view_reports);
    std::unique_ptr<RecordHistoryWriter> history;
    if (!options.history_path.empty()) {
        history = std::make_unique<RecordHistoryWriter>(options.history_path);
        if (history->cut_bytes() > 0) {
            std::cerr << "history " << options.history_path << ": a torn last record ("
                      << history->cut_bytes()
                      << " bytes, the remains of an interrupted write) was cut off before appending\n";
        }
        observer.keep_history(*history);
    }

    std::unique_ptr<SPModbus> device = plugin.create_device();
    device->set_observer(&observer);
    device->Init(std::weak_ptr<SMDController>(), options.data_id, Json::Value(Json::objectValue));
    try {
        device->InitSetting(settings);
    } catch (const std::exception& e) {
        // The YAML and INI libraries' messages do not name the file; when the file alone fails to
        // load, the message says which it is.
        const std::string file_error = configuration_file_error(options.data_id, profile);
        if (!file_error.empty()) throw std::runtime_error(file_error);
        throw;
    }

    // What follows each round: the view, or the summary line.
    std::unique_ptr<ViewOutput> view;
    if (options.view) view = std::make_unique<ViewOutput>();
    RepeatedFailures repeats;
    std::optional<std::time_t> data_time;  // when the last round that completed did
    std::optional<ViewFrame> shown;        // the view's last frame
    auto after_round = [&](int round, const RoundTraffic& traffic, const std::string& last_error) {
        const auto& tally = observer.tally();
        if (tally.published > 0) data_time = std::time(nullptr);
        if (!view) {
            if (tally.published > 0) {
                repeats.completed();
            } else if (!repeats.first_of_its_kind(round, stop_cause(tally, last_error))) {
                if (repeats.held() >= kMaxHeldFailures) print_held_failures(repeats);
                return;
            }
            print_held_failures(repeats);
            print_round_summary(round, tally, traffic, last_error);
            return;
        }
        ViewFrame frame;
        frame.round = round;
        frame.profile = profile;
        frame.completed = tally.published > 0;
        if (!frame.completed) frame.stop_cause = stop_cause(tally, last_error);
        frame.data_time = data_time;
        frame.now = std::time(nullptr);
        frame.snapshot = parse_json(snapshot_text(*device));
        frame.reports = view_reports.take();
        frame.screen_rows = view->screen_rows();
        view->show(render_view(frame));
        shown = std::move(frame);
    };
    // Waits until `until` unless interrupted first. A view on a terminal keeps its clock and the
    // age of its data counting meanwhile (a reconnect back-off lasts up to 30 s): its last frame is
    // shown again whenever the second changes. Plain frames are a record of the rounds and are not
    // repeated.
    auto wait_until = [&](std::chrono::steady_clock::time_point until) {
        if (!view || !view->terminal() || !shown) {
            sleep_until(until);
            return;
        }
        while (!interrupted && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::time_t now = std::time(nullptr);
            if (now == shown->now) continue;
            shown->now = now;
            shown->screen_rows = view->screen_rows();
            view->show(render_view(*shown));
        }
    };
    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);

    if (!options.replay_path.empty()) {
        // The stored records one by one, as the host's cache hands them back; each gets a round
        // time of its own second, so that the snapshot is rebuilt for each.
        // Only a record that was loaded is paced: a refused one builds no round to look at.
        RecordHistoryReader history(options.replay_path);
        int round = 0;
        int loaded = 0;
        bool pace = false;
        for (std::vector<std::uint8_t> record; history.next(record);) {
            if (pace) pause_between_rounds(std::max(options.interval_seconds, 1.0));
            if (interrupted) break;
            observer.start_round();
            const auto started = std::chrono::steady_clock::now();
            pace = device->LoadFromCache(record.data(), static_cast<int>(record.size()));
            if (!pace) std::cerr << "history record " << round << " refused: " << record.size() << " bytes\n";
            loaded += pace ? 1 : 0;
            after_round(++round, RoundTraffic{seconds_since(started), 0, 0}, std::string());
        }
        if (!interrupted && history.torn_tail()) std::cerr << "history: a torn last record was left out\n";
        finish_job(options, *device, nullptr, observer);
        if (!write_errors_reported(observer, view ? view->error() : std::string())) return 1;
        if (loaded == 0 && !interrupted) {
            std::cerr << "smd-host: no record of " << options.replay_path << " was loaded ("
                      << (round == 0 ? "it holds no whole record" : std::to_string(round) + " refused")
                      << ")\n";
            return kNoRoundCompleted;
        }
        return 0;
    }

    UnitLink unit = make_unit_link(options, device->baud_rate(), &interrupted);
    FrameTrace* const frames = unit.wire.frame_trace.get();
    const std::string link_name = unit.modbus ? unit.modbus->endpoint().describe() : std::string("sim");
    BusPump pump(*device, *unit.link);
    std::size_t status_unit = 0;
    if (status) {
        const int unit_id = unit.modbus ? unit.modbus->endpoint().unit : ModbusEndpoint::kDefaultUnit;
        status_unit = status->add_unit(
            status->add_line(link_name), unit_id, options.data_id,
            "line 1 unit " + std::to_string(unit_id) + " (data id " + std::to_string(options.data_id) + ")");
    }
    int rounds_run = 0;
    int rounds_completed = 0;
    for (int round = 1; options.rounds == 0 || round <= options.rounds; ++round) {
        if (round > 1) {
            wait_until(std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(options.interval_seconds)));
        }
        // A round that could not reach the unit now waits for the link's next connection attempt.
        wait_until(unit.link->next_attempt());
        if (interrupted) break;
        if (unit.simulated) {
            for (const auto& set : options.set_at) {
                if (set.round == round) unit.simulated->set(set.reg, set.value);
            }
        }
        observer.start_round();
        if (status) status->round_started(status_unit);
        if (frames) frames->round_started(link_name, round);
        const std::size_t carried = pump.carried();
        const std::size_t failed = pump.failed();
        const auto started = std::chrono::steady_clock::now();
        device->RefreshStatus();
        for (std::size_t failures = pump.failed(); !interrupted && pump.pump_one();) {
            if (pump.failed() != failures) observer.on_request_failed(pump.last_error());
            failures = pump.failed();
        }
        const RoundTraffic traffic{seconds_since(started), pump.carried() - carried, pump.failed() - failed};
        const bool completed = observer.tally().published > 0;
        // A round that Ctrl-C cut short did not fail: it is neither shown nor counted.
        if (interrupted && !completed) {
            const std::string where =
                "interrupted at step " + std::to_string(observer.tally().reads) + " of 62";
            std::cerr << "round " << round << ": " << where << "\n";
            if (frames) frames->round_ended(link_name, round, where);
            break;
        }
        const std::string error =
            traffic.failures > 0
                ? pump.last_error() + hint(pump.last_failure(), options, unit.tcp, rounds_completed > 0)
                : std::string();
        if (frames) {
            frames->round_ended(link_name, round,
                                completed ? "completed" : "stopped " + stop_cause(observer.tally(), error));
            frames->flush();
        }
        if (unit.counters) unit.counters->book_round(completed, traffic.seconds);
        if (status) {
            SiteStatus::RoundEnd end{completed, false, traffic.seconds, LinkFailure::none, error, nullptr};
            if (traffic.failures > 0) end.failure = pump.last_failure().failure;
            if (completed && status->keeps_snapshots()) end.snapshot = shared_snapshot_text(*device);
            if (unit.counters) status->line_counters(0, *unit.counters);
            status->round_ended(status_unit, std::move(end));
        }
        if (options.close_after_round && unit.modbus) unit.modbus->close_line();
        if (unit.wire.capture) unit.wire.capture->flush();
        after_round(round, traffic, error);
        ++rounds_run;
        rounds_completed += completed ? 1 : 0;
    }
    print_held_failures(repeats);
    const std::string view_error = view ? view->error() : std::string();
    view.reset();
    const bool written = finish_job(options, *device, &pump, observer);
    if (unit.counters) std::cerr << "link: " << unit.counters->describe() << "\n";
    if (interrupted) std::cerr << "interrupted\n";
    device.reset();
    // The frame files end with the line's close.
    if (frames || unit.wire.capture) unit.modbus->close_line();
    std::string frames_error;
    if (frames) {
        frames->flush();
        frames_error = frames->error();
    }
    std::string capture_error;
    if (unit.wire.capture) {
        unit.wire.capture->flush();
        capture_error = unit.wire.capture->error();
    }
    if (!write_errors_reported(observer, view_error, frames_error, capture_error)) return 1;
    // Ctrl-C during the first round still leaves a run that brought no data.
    if (rounds_completed == 0) {
        std::cerr << "smd-host: no round completed";
        if (rounds_run > 0) std::cerr << " in " << rounds_run << (rounds_run == 1 ? " round" : " rounds");
        std::cerr << "\n";
        return kNoRoundCompleted;
    }
    if (rounds_completed < rounds_run) {
        std::cerr << "smd-host: " << rounds_completed << " of " << rounds_run << " rounds completed\n";
    }
    if (!written) {
        std::cerr << "smd-host: the write was not confirmed\n";
        return kWriteNotConfirmed;
    }
    return 0;
}

// --site --view: the site runs on a thread of its own while this one shows the view, each second
// on a terminal and as rounds end (at most one plain frame a second), and once more at the end.
// The runner's messages (the rounds' lines are left to the view) wait until the view is gone, so
// that no frame covers them.
int run_site_with_view(const RunnerOptions& options, const Site& site, const PluginLibrary& plugin,
                       SiteStatus& status) {
    std::map<unsigned int, int> profiles;
    for (const SiteLine& line : site.lines) {
        for (const SiteUnit& unit : line.units)
            profiles[unit.data_id] = operator_profile(unit.settings, unit.data_id);
    }
    status.keep_snapshots();
    std::ostringstream messages;
    auto view = std::make_unique<ViewOutput>();
    int result = 1;
    std::exception_ptr error;
    std::atomic<bool> done{false};
    std::thread lines([&] {
        try {
            result = run_site(options, site, plugin, interrupted, messages, &status);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    });
    auto show = [&] {
        SiteViewFrame frame = site_view_frame(status, options.view_unit, profiles, std::time(nullptr));
        frame.screen_rows = view->screen_rows();
        view->show(render_site_view(frame));
    };
    using Clock = std::chrono::steady_clock;
    const auto min_gap = view->terminal() ? std::chrono::milliseconds(250) : std::chrono::milliseconds(1000);
    std::uint64_t shown_rounds = 0;
    std::time_t shown_second = 0;
    Clock::time_point shown_at{};
    bool started = false;
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Nothing to show until the lines run: the site is described by then.
        if (!started) {
            const auto units = status.units();
            started = status.rounds_ended() > 0 ||
                      std::any_of(units.begin(), units.end(),
                                  [](const UnitStatus& u) { return u.state != RoundState::waiting; });
            if (!started) continue;
        }
        const std::uint64_t rounds = status.rounds_ended();
        const std::time_t second = std::time(nullptr);
        const bool news = rounds != shown_rounds && Clock::now() - shown_at >= min_gap;
        if (!news && !(view->terminal() && second != shown_second)) continue;
        show();
        shown_rounds = rounds;
        shown_second = second;
        shown_at = Clock::now();
    }
    lines.join();
    if (!error) show();
    const std::string view_error = view->error();
    view.reset();
    std::cerr << messages.str();
    if (error) std::rethrow_exception(error);
    if (!view_error.empty()) {
        std::cerr << "smd-host: " << view_error << "\n";
        return 1;
    }
    return result;
}

// --site: the site file read and checked, then every unit run, before the plug-in loads for
// anything the command line or the file cannot run.
int run_site_file(const RunnerOptions& options) {
    const Site site = read_site_file(options.site_path);
    const std::vector<std::string> problems = site_problems(site, options);
    if (!problems.empty()) {
        std::string text = "site file " + site.path + ": " + problems.front();
        if (problems.size() > 1)
            text += " (and " + std::to_string(problems.size() - 1) + " more: --check-config lists them)";
        throw InputFileError{text};
    }
    if (options.view_unit) {
        bool named = false;
        for (const SiteLine& line : site.lines) {
            for (const SiteUnit& unit : line.units) named = named || unit.data_id == *options.view_unit;
        }
        if (!named)
            throw UsageError{"--view-unit " + std::to_string(*options.view_unit) + ": no unit of " +
                             site.path + " has that data id"};
    }
    check_output_files(options);
    check_output_files(site_output_files(site));
    if (options.listen && site.listen) {
        throw UsageError{"--listen and the listen: of site file " + site.path +
                         " name two addresses: give one"};
    }
    const std::optional<ListenAddress> listen = options.listen ? options.listen : site.listen;
    SiteStatus status;
    std::unique_ptr<SitePage> page;
    std::unique_ptr<WebServer> server;
    if (listen) {
        std::size_t units = 0;
        for (const SiteLine& line : site.lines) units += line.units.size();
        server = serve_status(*listen, status, units, page);
    }
    PluginLibrary plugin(options.plugin_path);
    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);
    // As for one unit: what the plug-in throws is handled while the library is loaded.
    try {
        if (options.view) return run_site_with_view(options, site, plugin, status);
        return run_site(options, site, plugin, interrupted, std::cerr, listen ? &status : nullptr);
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& e) {
        std::cerr << "smd-host: " << e.what() << "\n";
        return 1;
    }
}

int run(RunnerOptions options) {
    if (options.catalogue) return list_catalogue();
    if (options.check_config) return check_config(options);
    if (options.plugin_path.empty()) options.plugin_path = default_plugin_path();
    if (!options.site_path.empty()) return run_site_file(options);
    if (!options.dump_path.empty()) return dump_record(options, std::cout);
    // Whatever the command line cannot run is refused before the plug-in loads, in one line.
    parse_unit_option(options.unit);
    check_output_files(options);
    if (!options.export_csv_path.empty()) return export_csv(options);

    const Json::Value settings = read_settings(options.settings_path);
    SiteStatus status;
    std::unique_ptr<SitePage> page;
    std::unique_ptr<WebServer> server;
    if (options.listen) server = serve_status(*options.listen, status, 1, page);
    PluginLibrary plugin(options.plugin_path);
    // An exception out of the plug-in (the INI, YAML and JSON libraries' errors leave InitSetting)
    // may have its type, message and destructor in the plug-in's code: it is handled here, while
    // the library is still loaded, never after `plugin` has unloaded it.
    try {
        return drive_device(options, settings, plugin, options.listen ? &status : nullptr);
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& e) {
        std::cerr << "smd-host: " << e.what() << "\n";
        return 1;
    } catch (...) {
        std::cerr << "smd-host: an exception of unknown type\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    RunnerOptions options;
    std::string help;
    try {
        if (!parse_runner_options(argc, argv, options, help)) {
            std::cout << help;
            return standard_output_written() ? 0 : 1;
        }
        const int status = run(options);
        return standard_output_written() ? status : 1;
    } catch (const InputFileError& e) {
        std::cerr << "smd-host: " << e.what() << "\n";
        return 2;
    } catch (const UsageError& e) {
        std::cerr << "smd-host: " << e.what() << " (--help lists the options)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "smd-host: " << e.what() << "\n";
        return 1;
    }
}
