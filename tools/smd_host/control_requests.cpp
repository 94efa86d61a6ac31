#include "control_requests.h"

#include <fstream>
#include <stdexcept>

namespace {

constexpr int kSnapshotText = 801;
constexpr int kWriteRegister = 206;
constexpr int kWriteRegisters = 210;
constexpr int kWriteOutcome = 1;  // any code the device does not list
constexpr std::int32_t kConfirmed = 1;
constexpr std::int32_t kPending = -1;

std::string describe(const std::vector<std::uint16_t>& words) {
    std::string text = "write " + std::to_string(words.at(0)) + "=";
    for (std::size_t i = 1; i < words.size(); ++i) {
        text += (i > 1 ? "," : "") + std::to_string(words[i]);
    }
    return text;
}

}  // namespace

std::string snapshot_text(SPModbus& device) {
    int needed = 0;
    device.DeviceIoControl(kSnapshotText, nullptr, 0, nullptr, 0, needed);
    std::string text(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    int length = 0;
    if (device.DeviceIoControl(kSnapshotText, nullptr, 0, text.data(), needed, length) != 0) {
        throw std::runtime_error("the device refused its snapshot");
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void save_snapshot(SPModbus& device, const std::string& path) {
    const std::string text = snapshot_text(device);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) throw std::runtime_error("cannot write snapshot file " + path);
}

std::string write_and_confirm(SPModbus& device, BusPump& pump, const std::vector<std::uint16_t>& words) {
    const int code = words.size() == 2 ? kWriteRegister : kWriteRegisters;
    int out_len = 0;
    if (device.DeviceIoControl(code, words.data(), static_cast<int>(2 * words.size()), nullptr, 0, out_len) !=
        0) {
        return describe(words) + ": refused by the device";
    }
    pump.pump_all();
    std::int32_t outcome = kPending;
    device.DeviceIoControl(kWriteOutcome, nullptr, 0, &outcome, sizeof outcome, out_len);
    if (outcome == kConfirmed) return describe(words) + ": confirmed by the unit";
    if (outcome == kPending) return describe(words) + ": not answered by the unit";
    return describe(words) + ": not confirmed by the unit (outcome " + std::to_string(outcome) + ")";
}
