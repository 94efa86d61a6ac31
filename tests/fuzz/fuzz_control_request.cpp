// Control requests of any code, input and sizes, between polling rounds and write replies, under
// the unicom and mobile profiles.
//
// Input: profile choice, then up to 8 operations: a request (code, output size, how the input is
// passed, input bytes), carrying the queued Modbus requests, a polling round, or time passing.

#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "device_harness.h"
#include "fuzz_support.h"

namespace {

constexpr int kCodes[] = {206, 210, 310, 320, 801, 803, 0, 5, -1, 207, 802, INT_MIN, INT_MAX};
constexpr int kOutSizes[] = {0, 1, 3, 4, 7, 8, 16, 4096, 1 << 17, -1, INT_MIN};

// One request as a host might make it. Buffers are exactly as large as their sizes say, so that
// AddressSanitizer sees any access past them; negative sizes come with real buffers too.
void request(TestDevice& device, int b_mode, FuzzInput& input) {
    const std::uint8_t code_choice = input.byte();
    const int code = code_choice < 208 ? kCodes[code_choice % std::size(kCodes)] : input.i32();
    const std::uint8_t size_choice = input.byte();
    const int out_size = size_choice < 224 ? kOutSizes[size_choice % std::size(kOutSizes)] : input.u16();
    const std::uint8_t in_mode = input.byte() % 8;
    const std::vector<std::uint8_t> payload = input.sized_bytes(600);

    std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[payload.size()]);
    if (!payload.empty()) std::memcpy(in.get(), payload.data(), payload.size());
    int in_len = static_cast<int>(payload.size());
    const void* in_ptr = in.get();
    if (in_mode == 5) {
        in_ptr = nullptr;
        in_len = 0;
    } else if (in_mode == 6) {
        in_len = -1;
    } else if (in_mode == 7) {
        in_len = INT_MIN;
    }
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[out_size > 0 ? out_size : 0]);
    void* out_ptr = out_size == 0 && size_choice % 2 == 0 ? nullptr : out.get();

    const int step = device.step_;
    const int write_result = device.write_transaction().write_result_;
    int out_len = -99;
    int result;
    try {
        result = device.DeviceIoControl(code, in_ptr, in_len, out_ptr, out_size, out_len);
    } catch (const Json::Exception&) {
        // A "signal_id" that is no text, outside the unicom profile: the library's error is
        // meant to reach the host.
        FUZZ_CHECK(code == px46tr_k::kControlSignalRequest && b_mode != 1);
        return;
    }

    FUZZ_CHECK(out_len >= 0);
    if (in_len < 0 || out_size < 0) {
        FUZZ_CHECK(result == -1 && out_len == 0);
        FUZZ_CHECK(device.step_ == step && device.write_transaction().write_result_ == write_result);
    }
    if (code == px46tr_k::kControlSnapshotText && result == 0) {
        FUZZ_CHECK(out_len > 0 && out_len <= out_size);
        const char* text = static_cast<const char*>(out_ptr);
        Json::Value parsed;
        FUZZ_CHECK(Json::Reader().parse(text, text + out_len, parsed, false));
    }
    if (code == px46tr_k::kControlSnapshotAddress && result == 0) {
        const Json::Value* address = nullptr;
        std::memcpy(&address, out_ptr, sizeof address);
        FUZZ_CHECK(address == &device.json_.root());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int kProfiles[] = {1, 3};
    FuzzInput input(data, size);
    const int b_mode = input.pick(kProfiles);

    DeviceHarness h;
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = b_mode;
    h.device.InitSetting(settings);

    for (int op = 0; op < 8 && !input.empty(); ++op) {
        switch (input.byte() % 8) {
            case 0:
                h.pump.pump_all();  // the unit answers what the device queued
                break;
            case 1:
                h.run_round();
                break;
            case 2:
                h.clock.advance(61);
                break;
            default:
                request(h.device, b_mode, input);
                break;
        }
    }
    return 0;
}
