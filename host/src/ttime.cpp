#include "host/ttime.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

ttime get_ttime(boost::posix_time::ptime t) {
    ttime out{};
    if (t.is_special()) return out;
    const auto date = t.date();
    const auto time = t.time_of_day();
    out.year = static_cast<std::uint16_t>(date.year());
    out.month = static_cast<std::uint8_t>(date.month().as_number());
    out.day = static_cast<std::uint8_t>(date.day());
    out.hour = static_cast<std::uint8_t>(time.hours());
    out.minute = static_cast<std::uint8_t>(time.minutes());
    out.second = static_cast<std::uint8_t>(time.seconds());
    return out;
}
