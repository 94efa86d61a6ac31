#pragma once

#include <optional>
#include <string>

#include "page_files.h"
#include "site_status.h"
#include "site_trends.h"
#include "web_reply.h"

// The runner's live page, a handler of its HTTP endpoint:
//   /                          the site: a tile per unit (its data from /api/units)
//   /units/<data_id>           a unit: lines A and B, feeders, active alarms, trend plots
//   /api/units/<data_id>/view  the unit page's data (JSON)
//   /api/units/<data_id>/trend the unit's trend ring (JSON)
//   /assets/...                the page's scripts and style, and the chart library
// Data ids are written in decimal without leading zeros; any other path, and a data id the site
// has no unit of, is not the page's (none). Every reply is made from the site's status and
// trends: nothing here sends a request to a unit or changes one.
class SitePage {
public:
    // The page of `status`'s `units` units. Made before the lines start: from then on it keeps a
    // trend ring for each unit, fed by the status's rounds (which it makes keep snapshots).
    // `status` outlives it.
    SitePage(SiteStatus& status, std::size_t units, PageFiles files);
    SitePage(const SitePage&) = delete;
    SitePage& operator=(const SitePage&) = delete;

    // Safe on several threads at once: it only reads the status, the trends and its own files.
    std::optional<WebReply> reply(const std::string& path) const;
    WebHandler handler() const {
        return [this](const std::string& path) { return reply(path); };
    }

    const PageFiles& files() const { return files_; }
    const SiteTrends& trends() const { return trends_; }

private:
    std::optional<WebReply> unit_data(std::size_t unit, const std::string& what) const;

    const SiteStatus& status_;
    SiteTrends trends_;
    const PageFiles files_;
};
