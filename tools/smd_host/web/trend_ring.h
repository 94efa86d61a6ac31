#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

// What a unit's trend follows: the line voltages, currents and powers of lines A and B, the
// ambient temperature and humidity. Each is a snapshot member, named from the catalogue.
struct TrendSeries {
    const char* key;       // the page's name for it, e.g. "voltage_a"
    const char* quantity;  // "voltage", "current", "power", "temperature" or "humidity"
    std::string member;    // the snapshot member it is read from
};
inline constexpr std::size_t kTrendSeriesCount = 8;
// In the order of TrendPoint::values.
const std::array<TrendSeries, kTrendSeriesCount>& trend_series();

struct TrendPoint {
    std::int64_t time_ms = 0;  // the data's time (when its round completed), ms since the epoch
    // Per trend_series(); NaN where the snapshot has no number for the member.
    std::array<double, kTrendSeriesCount> values{};
};

// The point a snapshot gives at `time_ms`.
TrendPoint trend_point(const Json::Value& snapshot, std::int64_t time_ms);

// The last hour of one unit's trend: at most one point per slot of `spacing` (the first round
// whose data falls in a slot gives it), `capacity` points at most, the oldest overwritten. Its
// memory is fixed when it is made: however long the runner runs, the ring does not grow. The
// default keeps one point per 5 s, 720 points: an hour.
//
// One writer (the unit's line thread) and any number of readers (the server's threads).
// Lock order: TrendRing::mutex_ is taken alone, for a copy at most, never while another lock
// is held.
class TrendRing {
public:
    static constexpr std::chrono::milliseconds kDefaultSpacing{5000};
    static constexpr std::size_t kDefaultCapacity = 720;

    explicit TrendRing(std::size_t capacity = kDefaultCapacity,
                       std::chrono::milliseconds spacing = kDefaultSpacing);

    // Whether data of `time_ms` would give a point (its slot has none yet): a writer asks before
    // it reads a snapshot, so that rounds in between cost nothing.
    bool wants(std::int64_t time_ms) const;
    // Adds the point, unless its slot already has one.
    void add(const TrendPoint& point);
    // The points, oldest first.
    std::vector<TrendPoint> points() const;

    std::size_t capacity() const { return points_.size(); }
    std::chrono::milliseconds spacing() const { return spacing_; }

private:
    std::int64_t slot_of(std::int64_t time_ms) const;

    const std::chrono::milliseconds spacing_;
    mutable std::mutex mutex_;        // guards the members below
    std::vector<TrendPoint> points_;  // sized once: capacity
    std::size_t next_ = 0;            // where the next point goes
    std::size_t size_ = 0;
    bool has_slot_ = false;
    std::int64_t last_slot_ = 0;
};
