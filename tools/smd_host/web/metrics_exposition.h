#pragma once

#include <chrono>
#include <string>

#include "site_status.h"
#include "web_reply.h"

// A site's status in the Prometheus text exposition format (version 0.0.4), for a Prometheus
// server to scrape from /metrics. Every unit's series carry the labels line (its line's name, as
// the runner's messages give it), unit (its Modbus unit id) and data_id:
//
//   px46tr_k_signal{...,signal="A路进线-电压"}              gauge: every numeric snapshot member
//   px46tr_k_alarm_active{...,alarm="A路进线总开关状态"}     gauge, 1 or 0: every coded member
//                                                           (alarm and state), 1 while it reads "告警"
//   px46tr_k_rounds_total{...,result="completed|failed"}    counter
//   px46tr_k_round_duration_seconds                         histogram (_bucket, _sum, _count)
//   px46tr_k_data_age_seconds                               gauge: since the last completed round;
//                                                           absent before the first
//
// and every line's link counters, labelled line: px46tr_k_link_requests_total,
// px46tr_k_link_failures_total, px46tr_k_link_retries_total, px46tr_k_link_busy_retries_total,
// px46tr_k_link_reconnects_total. The snapshot families are absent for a unit before its first
// snapshot.

// The exposition of `status` as it stands at `now`.
std::string metrics_text(const SiteStatus& status, std::chrono::system_clock::time_point now);

// A label value as the format writes it between its double quotes: backslash, double quote and
// line feed escaped; every other byte (UTF-8 names included) as it is.
std::string escape_label_value(const std::string& value);

// Serves /metrics from `status`, which must outlive the handler.
WebHandler metrics_handler(const SiteStatus& status);
