#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "site_status.h"
#include "trend_ring.h"

// The trend ring of every unit of a site, fed after each completed round from the unit's
// snapshot. Only a round whose data starts a new slot of its ring reads the snapshot (the parse
// the status shares with every other reader), so the line thread pays for one parse a slot at
// most, not one a round.
class SiteTrends {
public:
    // Rings for `units` units: the units the site's status describes, in its order.
    explicit SiteTrends(std::size_t units);
    // Its listener holds its address.
    SiteTrends(const SiteTrends&) = delete;
    SiteTrends& operator=(const SiteTrends&) = delete;

    // Follows `status`'s rounds from now on, and makes it keep each unit's snapshot. Called before
    // the lines start; `status` outlives the run.
    void follow(SiteStatus& status);

    // The unit's ring; nullptr for a unit it has none of.
    const TrendRing* ring(std::size_t unit) const;

    // Feeds the ring of `unit` from its status after a round, reading the snapshot through
    // `status` when the ring wants a point. Called on the unit's line thread with no lock held.
    void round_ended(const SiteStatus& status, std::size_t unit, const UnitStatus& now);

private:
    std::vector<std::unique_ptr<TrendRing>> rings_;  // fixed once made
};
