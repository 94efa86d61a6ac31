#pragma once

#include <cstdint>

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/host_api.h"

// The host's 7-byte date-time: year (native 16-bit), month, day, hour, minute, second.
#pragma pack(push, 1)
struct ttime {
    std::uint16_t year;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};
#pragma pack(pop)
static_assert(sizeof(ttime) == 7, "the host's date-time is 7 bytes");

// Converts a date-time to the host's 7-byte form. A not-a-date-time value gives all zeros.
SMD_HOST_API ttime get_ttime(boost::posix_time::ptime t);
