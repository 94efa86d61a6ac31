#include "round_lines.h"

#include <cstdio>
#include <vector>

namespace {

// Decodes the round stamp at the end of a published record.
std::string stamp_text(const std::vector<unsigned char>& record) {
    if (record.size() < 7) return "none";
    const unsigned char* b = record.data() + record.size() - 7;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", b[0] | (b[1] << 8), b[2], b[3], b[4],
                  b[5], b[6]);
    return text;
}

}  // namespace

std::string hint(const LinkResult& failure, const RunnerOptions& options, bool tcp, bool any_completed) {
    if (failure.failure == LinkFailure::timeout && tcp) {
        std::string text = any_completed ? "" : ", check the unit id";
        if (failure.first_on_connection && options.pause_after_connect_seconds <= 0) {
            text +=
                "; a gateway that drops a request sent right after connecting needs --pause-after-connect";
        }
        return text;
    }
    if (failure.failure == LinkFailure::exception && failure.exception_code == 0x06 &&
        options.busy_retries == 0) {
        return "; a unit busy while it measures needs --busy-retries";
    }
    return std::string();
}

std::string stop_cause(const RunObserver::RoundTally& tally, const std::string& last_error) {
    return "at step " + std::to_string(tally.reads) + " of 62" +
           (last_error.empty() ? "" : " (" + last_error + ")");
}

std::string round_summary(int round, const RunObserver::RoundTally& tally, const RoundTraffic& traffic,
                          const std::string& last_error) {
    std::string line = "round " + std::to_string(round) + ": " + std::to_string(tally.reads) + " reads";
    if (tally.published > 0) {
        line += ", record published (" + std::to_string(tally.last_record.size()) + " bytes, stamp " +
                stamp_text(tally.last_record) + ")";
    } else {
        line += ", round not completed " + stop_cause(tally, traffic.failures > 0 ? last_error : "");
    }
    char timing[96];
    std::snprintf(timing, sizeof timing, "; %.3f s, %zu requests, %zu failures", traffic.seconds,
                  traffic.requests, traffic.failures);
    line += ", " + std::to_string(tally.alarm_reports) + " alarm reports, " + std::to_string(tally.stored) +
            " saved to the host's history" + timing;
    if (traffic.failures > 0 && tally.published > 0) line += " (" + last_error + ")";
    return line;
}
