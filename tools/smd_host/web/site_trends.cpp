#include "site_trends.h"

SiteTrends::SiteTrends(std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) rings_.push_back(std::make_unique<TrendRing>());
}

void SiteTrends::follow(SiteStatus& status) {
    status.keep_snapshots();
    status.add_round_listener(
        [this, &status](std::size_t unit, const UnitStatus& now) { round_ended(status, unit, now); });
}

const TrendRing* SiteTrends::ring(std::size_t unit) const {
    return unit < rings_.size() ? rings_[unit].get() : nullptr;
}

void SiteTrends::round_ended(const SiteStatus& status, std::size_t unit, const UnitStatus& now) {
    if (unit >= rings_.size() || now.state != RoundState::completed || !now.data_time || !now.snapshot)
        return;
    const std::int64_t time_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.data_time->time_since_epoch()).count();
    TrendRing& ring = *rings_[unit];
    if (!ring.wants(time_ms)) return;
    const auto tree = status.snapshot_tree(unit);
    if (tree) ring.add(trend_point(*tree, time_ms));
}
