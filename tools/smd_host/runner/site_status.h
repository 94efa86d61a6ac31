#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_runtime/bus_link.h"
#include "host_runtime/link_counters.h"

// Where a unit's rounds stand.
enum class RoundState {
    waiting,      // no round has run yet
    polling,      // a round is on the wire
    completed,    // the last round completed
    failed,       // the last round stopped short
    backing_off,  // the last round found no answer; the unit is left out for a while
};
// "waiting", "polling", "completed", "failed", "back-off".
const char* round_state_name(RoundState state);

// The upper bounds, in seconds, of the buckets a round's duration is counted in (the last bucket,
// beyond them, takes the rest).
inline constexpr double kRoundDurationBounds[] = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};
inline constexpr std::size_t kRoundDurationBuckets = std::size(kRoundDurationBounds) + 1;

// What the runner knows of one unit.
struct UnitStatus {
    std::size_t line = 0;      // index of its line in SiteStatus::lines()
    int unit = 0;              // its Modbus unit id on the line
    unsigned int data_id = 0;  // 0 to 4294967295, as the host gives it
    std::string name;          // as every output names it: "line 1 unit 2 (data id 102)"
    RoundState state = RoundState::waiting;
    // How its last round ended (waiting before the first), kept while the next one is polling.
    RoundState last_end = RoundState::waiting;
    // When its last completed round ended (none: no round has completed yet).
    std::optional<std::chrono::system_clock::time_point> data_time;
    std::uint64_t rounds_completed = 0;
    std::uint64_t rounds_failed = 0;  // rounds that stopped short (a round a stop cut is neither)
    double round_seconds_sum = 0;     // of every counted round, completed or not
    std::uint64_t round_seconds_buckets[kRoundDurationBuckets] = {};  // counts, not cumulative
    double last_round_seconds = 0;
    LinkFailure last_failure = LinkFailure::none;  // of its last failed request
    std::string last_error;                        // its words, as the round line gives them
    // The device's snapshot (its 801 text) after its last completed round, when the status keeps
    // snapshots; null before. Never changed once made: a reader may hold it as long as it likes.
    std::shared_ptr<const std::string> snapshot;
    std::uint64_t snapshot_serial = 0;  // counts the snapshots kept, 0 before the first
};

// What the runner knows of one line.
struct LineStatus {
    std::string name;  // "line 1 (tcp:127.0.0.1:1502)"
    LinkCounters counters;
};

// What a site's runner knows of its lines and units, for whoever watches the site (the view, the
// HTTP endpoint). The line threads write it after each round; any thread reads copies of it.
// Its lock guards copies and pointer swaps only, so a reader never makes a line wait for more
// than a copy, and never waits for a request on the wire.
//
// Lock order: SiteStatus::mutex_ is taken alone, never while a device's or a link's lock is held
// and never around a listener; a listener is called on the line thread with no lock held.
class SiteStatus {
public:
    // Called on the line's thread after every counted round of `unit`, with the unit's status
    // as it now stands. Listeners are added before the lines start.
    using RoundListener = std::function<void(std::size_t unit, const UnitStatus& status)>;

    // The site is described before its lines start: lines, then their units.
    std::size_t add_line(std::string name);
    std::size_t add_unit(std::size_t line, int unit, unsigned int data_id, std::string name);
    void add_round_listener(RoundListener listener);
    // Whether the runner keeps each unit's snapshot text after its rounds (an 801 request a round).
    void keep_snapshots() { keep_snapshots_ = true; }
    bool keeps_snapshots() const { return keep_snapshots_; }

    // From the line threads.
    void round_started(std::size_t unit);
    struct RoundEnd {
        bool completed = false;
        bool backing_off = false;
        double seconds = 0;
        LinkFailure failure = LinkFailure::none;  // of the round's last failed request, if any
        std::string error;
        std::shared_ptr<const std::string> snapshot;  // when kept and the round completed
    };
    void round_ended(std::size_t unit, RoundEnd end);
    void line_counters(std::size_t line, const LinkCounters& counters);

    // Copies, for any thread.
    std::vector<UnitStatus> units() const;
    UnitStatus unit(std::size_t unit) const;
    std::vector<LineStatus> lines() const;
    // The unit with this data id; none when the site has no such unit.
    std::optional<std::size_t> unit_with_data_id(unsigned int data_id) const;
    // The unit's last kept snapshot, parsed, shared by every reader until a newer one is kept;
    // null before the first (or when it is not JSON).
    std::shared_ptr<const Json::Value> snapshot_tree(std::size_t unit) const;
    // Counts every round that ended, for a reader that waits for news.
    std::uint64_t rounds_ended() const;

private:
    struct ParsedSnapshot {
        std::uint64_t serial = 0;
        std::shared_ptr<const Json::Value> tree;
    };

    mutable std::mutex mutex_;  // guards the members below
    std::vector<LineStatus> lines_;
    std::vector<UnitStatus> units_;
    std::uint64_t rounds_ended_ = 0;
    // The parse readers share; guarded by its own lock so that a parse never holds mutex_.
    mutable std::mutex parsed_mutex_;
    mutable std::vector<ParsedSnapshot> parsed_;

    std::vector<RoundListener> listeners_;  // fixed before the lines start
    bool keep_snapshots_ = false;           // fixed before the lines start
};
