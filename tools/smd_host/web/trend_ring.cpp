#include "trend_ring.h"

#include <limits>

#include "catalogue/signal_catalogue.h"

namespace {

std::string line_member(std::size_t field, const char* letter) {
    return px46tr_k::compose_name(px46tr_k::inline_measurement(field)->format, "", letter);
}

std::string ambient_member(int reg) {
    return px46tr_k::fixed_signal_at(px46tr_k::kAmbientSignals, reg)->name;
}

// Floor division: slots stay one spacing wide on both sides of the epoch.
std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

const std::array<TrendSeries, kTrendSeriesCount>& trend_series() {
    namespace field = px46tr_k::inline_field;
    static const std::array<TrendSeries, kTrendSeriesCount> series = {{
        {"voltage_a", "voltage", line_member(field::kVoltage, "A")},
        {"voltage_b", "voltage", line_member(field::kVoltage, "B")},
        {"current_a", "current", line_member(field::kCurrent, "A")},
        {"current_b", "current", line_member(field::kCurrent, "B")},
        {"power_a", "power", line_member(field::kPower, "A")},
        {"power_b", "power", line_member(field::kPower, "B")},
        {"temperature", "temperature", ambient_member(px46tr_k::kAmbientTemperatureRegister)},
        {"humidity", "humidity", ambient_member(px46tr_k::kAmbientHumidityRegister)},
    }};
    return series;
}

TrendPoint trend_point(const Json::Value& snapshot, std::int64_t time_ms) {
    TrendPoint point;
    point.time_ms = time_ms;
    for (std::size_t i = 0; i < kTrendSeriesCount; ++i) {
        const std::string& name = trend_series()[i].member;
        const Json::Value* value =
            snapshot.isObject() ? snapshot.find(name.data(), name.data() + name.size()) : nullptr;
        point.values[i] = value != nullptr && value->isNumeric() ? value->asDouble()
                                                                 : std::numeric_limits<double>::quiet_NaN();
    }
    return point;
}

TrendRing::TrendRing(std::size_t capacity, std::chrono::milliseconds spacing)
    : spacing_(spacing.count() > 0 ? spacing : kDefaultSpacing), points_(capacity > 0 ? capacity : 1) {}

std::int64_t TrendRing::slot_of(std::int64_t time_ms) const { return floor_div(time_ms, spacing_.count()); }

bool TrendRing::wants(std::int64_t time_ms) const {
    const std::int64_t slot = slot_of(time_ms);
    std::lock_guard<std::mutex> lock(mutex_);
    return !has_slot_ || slot != last_slot_;
}

void TrendRing::add(const TrendPoint& point) {
    const std::int64_t slot = slot_of(point.time_ms);
    std::lock_guard<std::mutex> lock(mutex_);
    if (has_slot_ && slot == last_slot_) return;
    has_slot_ = true;
    last_slot_ = slot;
    points_[next_] = point;
    next_ = (next_ + 1) % points_.size();
    if (size_ < points_.size()) ++size_;
}

std::vector<TrendPoint> TrendRing::points() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TrendPoint> out;
    out.reserve(size_);
    const std::size_t first = (next_ + points_.size() - size_) % points_.size();
    for (std::size_t i = 0; i < size_; ++i) out.push_back(points_[(first + i) % points_.size()]);
    return out;
}
