#pragma once

#include <chrono>
#include <string>

#include "site_status.h"
#include "web_reply.h"

// The units of a site as JSON, for scripts and the page:
//
//   GET /api/units                      every unit, in the site's order:
//     [{"line": "line 1 (tcp:10.0.0.7:502)", "unit": 1, "data_id": 101, "name": "line 1 unit 1
//       (data id 101)", "state": "completed", "data_age_seconds": 0.4 (null before the first
//       completed round), "active_alarms": 2, "active_alarm_names": ["...", "..."],
//       "rounds_completed": 12, "rounds_failed": 0, "last_error": ""}]
//   GET /api/units/<data_id>/snapshot   the unit's snapshot text (its 801 reply) as the device
//                                       wrote it after its last completed round; 404 for a data
//                                       id the site does not have and before the first snapshot.

// The /api/units list as `status` stands at `now`.
std::string units_json(const SiteStatus& status, std::chrono::system_clock::time_point now);

// Serves the two paths above from `status`, which must outlive the handler.
WebHandler units_api_handler(const SiteStatus& status);
