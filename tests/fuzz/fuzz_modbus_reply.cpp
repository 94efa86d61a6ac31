// Modbus replies of any length at any step: a round is started and taken to some step with the
// simulated unit's replies, or a write (206, 210) or control request (310, 320) is made pending,
// then a fuzzed word vector is delivered as the reply to what the device awaits.
//
// Input: profile choice, then up to 12 operations: start a round, let the unit answer a number
// of requests, deliver a fuzzed reply, or make a write or control request pending.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "catalogue/px46tr_k_data.h"
#include "catalogue/register_map.h"
#include "device_harness.h"
#include "fuzz_support.h"

namespace {

// A reply of up to 255 words, taken for the device's oldest queued request, if any.
void deliver_fuzzed_reply(DeviceHarness& h, FuzzInput& input) {
    std::vector<std::uint16_t> words(input.byte());
    for (auto& word : words) word = input.u16();
    (void)h.device.take_request();

    const int step = h.device.step_;
    const std::vector<std::uint8_t> before = h.device.record();
    const int result = h.device.deliver_reply(words);
    const std::vector<std::uint8_t> after = h.device.record();

    // A reply changes at most its own block of the record (and, at the round's end, the stamp).
    std::size_t block_begin = 0;
    std::size_t block_end = 0;
    if (step >= px46tr_k::kFirstStep && step <= px46tr_k::kLastStep) {
        const auto& row = px46tr_k::kRegisterMap[static_cast<std::size_t>(step - px46tr_k::kFirstStep)];
        block_begin = row.record_offset;
        block_end = row.record_offset + row.bytes();
        if (words.size() >= static_cast<std::size_t>(row.count)) {
            FUZZ_CHECK(std::memcmp(after.data() + block_begin, words.data(), row.bytes()) == 0);
        }
    } else if (step == px46tr_k::kControlWriteRegister || step == px46tr_k::kControlWriteRegisters) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(h.device.write_transaction().write_result_ == px46tr_k::kWriteConfirmed ||
                   h.device.write_transaction().write_result_ == px46tr_k::kWriteRefused);
    } else {
        FUZZ_CHECK(result == 1 && h.device.step_ == step);
    }
    for (std::size_t i = 0; i < offsetof(PX46TR_K_Data_t, round_stamp); ++i) {
        if (i < block_begin || i >= block_end) FUZZ_CHECK(before[i] == after[i]);
    }
}

void make_pending(DeviceHarness& h, int code, const std::vector<std::uint16_t>& words) {
    int out_len = 0;
    h.device.DeviceIoControl(code, words.data(), static_cast<int>(words.size() * 2), nullptr, 0, out_len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int kProfiles[] = {1, 2};
    FuzzInput input(data, size);

    DeviceHarness h;
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = input.pick(kProfiles);
    h.device.InitSetting(settings);
    for (int reg = 0; reg < 8; ++reg) h.unit.set(reg, static_cast<std::uint16_t>(0x1111 * (reg + 1)));

    for (int op = 0; op < 12 && !input.empty(); ++op) {
        switch (input.byte() % 8) {
            case 0:
                h.device.RefreshStatus();
                break;
            case 1:
                for (int n = input.byte(); n > 0 && h.pump.pump_one(); --n) {
                }
                break;
            case 2:
                make_pending(h, px46tr_k::kControlWriteRegister, {input.u16(), input.u16()});
                break;
            case 3: {
                std::vector<std::uint16_t> words(1 + input.byte() % 124);
                for (auto& word : words) word = input.u16();
                make_pending(h, px46tr_k::kControlWriteRegisters, words);
                break;
            }
            case 4:
                make_pending(h,
                             input.byte() % 2 ? px46tr_k::kControlRequest : px46tr_k::kControlSignalRequest,
                             {0x7b7b, 0x7d7d});  // "{{}}" does not parse; the step moves all the same
                break;
            default:
                deliver_fuzzed_reply(h, input);
                break;
        }
    }
    h.pump.pump_all();  // whatever the device still awaits, answered by the unit
    return 0;
}
