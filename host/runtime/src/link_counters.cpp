#include "host_runtime/link_counters.h"

#include <cstdio>
#include <string>

void LinkCounters::book_round(bool completed, double seconds) {
    ++(completed ? rounds_completed : rounds_abandoned);
    last_round_seconds = seconds;
}

std::string LinkCounters::describe() const {
    char text[360];
    std::snprintf(text, sizeof text,
                  "requests %llu, replies %llu, failures %llu, time-outs %llu, exceptions %llu, "
                  "retries %llu, busy retries %llu, reconnects %llu, rounds completed %llu, abandoned %llu, "
                  "last round %.3f s",
                  static_cast<unsigned long long>(requests), static_cast<unsigned long long>(replies),
                  static_cast<unsigned long long>(failures), static_cast<unsigned long long>(timeouts),
                  static_cast<unsigned long long>(exceptions), static_cast<unsigned long long>(retries),
                  static_cast<unsigned long long>(busy_retries), static_cast<unsigned long long>(reconnects),
                  static_cast<unsigned long long>(rounds_completed),
                  static_cast<unsigned long long>(rounds_abandoned), last_round_seconds);
    return last_failure.empty() ? text : text + ("; last failure: " + last_failure);
}
