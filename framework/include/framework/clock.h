#pragma once

#include <ctime>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace framework {

// Where a device reads the time: the local wall clock for round stamps and data age, and seconds
// since the epoch for report periods. Tests install a clock they move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Local wall-clock time in whole seconds.
    virtual boost::posix_time::ptime local_now() const {
        return boost::posix_time::second_clock::local_time();
    }
    // Seconds since the epoch.
    virtual std::time_t epoch_now() const { return std::time(nullptr); }
};

// The process's clock, the system's own.
inline const Clock& system_clock() {
    static const Clock clock;
    return clock;
}

}  // namespace framework
