#pragma once

#include <ctime>
#include <map>
#include <optional>

#include "site_status.h"
#include "site_view.h"

// The site's view as `status` stands at `now`: a row per unit and per line, and the detail of one
// unit: the unit with data id `detail_data_id` when given, else the first whose last round did not
// complete, else the first that has active alarms, else the first. `profiles` maps data ids to their units'
// operator profiles (one not there runs the default profile).
SiteViewFrame site_view_frame(const SiteStatus& status, std::optional<unsigned int> detail_data_id,
                              const std::map<unsigned int, int>& profiles, std::time_t now);
