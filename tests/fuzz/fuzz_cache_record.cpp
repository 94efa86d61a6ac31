// A stored record of any bytes and length handed back through LoadFromCache, under the profiles
// that build the snapshot after a round, and the snapshot fetched as text and by address.
//
// Input: profile choice, whether and how many minutes later a second load follows, then the
// record bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/px46tr_k_data.h"
#include "device_harness.h"
#include "fuzz_support.h"

namespace {

// The snapshot as the host fetches it with request 801: one JSON object on one line. (Output
// areas of every size are the control request target's business.)
void fetch_snapshot_text(TestDevice& device) {
    static std::vector<char> text(1 << 20);
    int out_len = 0;
    FUZZ_CHECK(device.DeviceIoControl(px46tr_k::kControlSnapshotText, nullptr, 0, text.data(),
                                      static_cast<int>(text.size()), out_len) == 0);
    FUZZ_CHECK(out_len > 2 && text[0] == '{' && text[static_cast<std::size_t>(out_len) - 1] == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int kProfiles[] = {1, 3, 5, 2};
    FuzzInput input(data, size);
    const int b_mode = input.pick(kProfiles);
    const std::uint8_t later = input.byte();
    const std::vector<std::uint8_t> record = input.rest();

    DeviceHarness h;
    h.device.InitSetting(example_settings(b_mode));

    const bool taken = h.device.LoadFromCache(record.data(), static_cast<int>(record.size()));
    FUZZ_CHECK(taken == (record.size() == px46tr_k::kRecordSize));
    FUZZ_CHECK(h.device.data_ready_ == taken);
    if (!taken) {
        // The same bytes cut or padded to a record's length.
        std::vector<std::uint8_t> fitted = record;
        fitted.resize(px46tr_k::kRecordSize);
        FUZZ_CHECK(h.device.LoadFromCache(fitted.data(), static_cast<int>(fitted.size())));
    }
    fetch_snapshot_text(h.device);

    // Now and then a later round of the same record: rules raised by the first are judged again,
    // analogue values reported when their period has passed.
    if (later % 2 == 1) {
        h.clock.advance(60L * (later / 2) + 1);
        const std::vector<std::uint8_t> again = h.device.record();
        FUZZ_CHECK(h.device.LoadFromCache(again.data(), static_cast<int>(again.size())));
    }

    const Json::Value* address = nullptr;
    int out_len = 0;
    FUZZ_CHECK(h.device.DeviceIoControl(px46tr_k::kControlSnapshotAddress, nullptr, 0, &address,
                                        sizeof address, out_len) == 0);
    FUZZ_CHECK(address == &h.device.json_.root() && address->isObject());
    return 0;
}
