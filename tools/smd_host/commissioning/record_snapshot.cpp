#include "record_snapshot.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/px46tr_k.h"

namespace {

// The driver's snapshot build over a record placed by hand, as a cache load would place it but
// without the round completion that would publish it and stamp it anew.
class RecordSnapshot : public PX46TR_K {
public:
    Json::Value build(const std::vector<std::uint8_t>& record) {
        if (record.size() != sizeof data_) throw std::runtime_error("a stored record is 3921 bytes");
        place_completed_record(record.data());
        update_time_ = boost::posix_time::ptime(boost::gregorian::date(1970, 1, 1));
        GenJsonData();
        return json_.root();
    }
};

}  // namespace

std::string iso_8601_time(const std::string& driver_time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char rest = 0;
    if (std::sscanf(driver_time.c_str(), "%d-%d-%d %d:%d:%d%c", &year, &month, &day, &hour, &minute, &second,
                    &rest) != 6) {
        return driver_time;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

Json::Value snapshot_of_record(const std::vector<std::uint8_t>& record) {
    return RecordSnapshot().build(record);
}
