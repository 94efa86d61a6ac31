#include "record_snapshot.h"

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

Json::Value snapshot_of_record(const std::vector<std::uint8_t>& record) {
    return RecordSnapshot().build(record);
}
