#pragma once

#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "framework/clock.h"

// A clock that stands still until the test moves it. Local time and epoch seconds move together.
class FakeClock : public framework::Clock {
public:
    explicit FakeClock(
        boost::posix_time::ptime start = boost::posix_time::time_from_string("2026-12-07 15:03:21"))
        : now_(start) {}

    boost::posix_time::ptime local_now() const override { return now_; }
    std::time_t epoch_now() const override {
        static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
        return static_cast<std::time_t>((now_ - epoch).total_seconds());
    }

    void advance(long seconds) { now_ += boost::posix_time::seconds(seconds); }
    void set(boost::posix_time::ptime t) { now_ = t; }

private:
    boost::posix_time::ptime now_;
};
