#include "control_requests.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "catalogue/control_codes.h"
#include "host_runtime/modbus_frame.h"

namespace {

constexpr int kSnapshotText = px46tr_k::kControlSnapshotText;
constexpr int kSnapshotAddress = px46tr_k::kControlSnapshotAddress;
constexpr int kWriteRegister = px46tr_k::kControlWriteRegister;
constexpr int kWriteRegisters = px46tr_k::kControlWriteRegisters;
constexpr int kWriteOutcome = 1;  // any code the device does not list
constexpr std::int32_t kConfirmed = px46tr_k::kWriteConfirmed;
constexpr std::int32_t kPending = px46tr_k::kWritePending;

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

std::shared_ptr<const std::string> shared_snapshot_text(SPModbus& device) {
    try {
        return std::make_shared<const std::string>(snapshot_text(device));
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

const Json::Value& snapshot_tree(SPModbus& device) {
    const Json::Value* tree = nullptr;
    int length = 0;
    if (device.DeviceIoControl(kSnapshotAddress, nullptr, 0, &tree, sizeof tree, length) != 0 ||
        length != static_cast<int>(sizeof tree) || tree == nullptr) {
        throw std::runtime_error("the device refused its snapshot's address");
    }
    return *tree;
}

void save_snapshot(SPModbus& device, const std::string& path) {
    const std::string text = snapshot_text(device);
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write snapshot file " + path +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
    }
}

WriteOutcome write_and_confirm(SPModbus& device, BusPump& pump, const std::vector<std::uint16_t>& words) {
    WriteOutcome result;
    const int code = words.size() == 2 ? kWriteRegister : kWriteRegisters;
    int out_len = 0;
    if (device.DeviceIoControl(code, words.data(), static_cast<int>(2 * words.size()), nullptr, 0, out_len) !=
        0) {
        result.line = describe(words) + ": refused by the device";
        return result;
    }
    const std::size_t failed = pump.failed();
    pump.pump_all();
    if (pump.failed() != failed) result.failure = pump.last_failure();
    std::int32_t outcome = kPending;
    device.DeviceIoControl(kWriteOutcome, nullptr, 0, &outcome, sizeof outcome, out_len);
    result.confirmed = outcome == kConfirmed;
    const LinkResult& failure = result.failure;
    if (result.confirmed) {
        result.line = describe(words) + ": confirmed by the unit";
    } else if (failure.failure == LinkFailure::exception) {
        char code[8];
        std::snprintf(code, sizeof code, "%02X", failure.exception_code);
        result.line = describe(words) + ": refused by the unit: exception " + code + " (" +
                      modbus_frame::exception_name(failure.exception_code) + ")";
    } else if (failure.failure != LinkFailure::none) {
        result.line = describe(words) + ": not answered by the unit (" + failure.error + ")";
    } else if (outcome == kPending) {
        result.line = describe(words) + ": not answered by the unit";
    } else {
        result.line =
            describe(words) + ": not confirmed by the unit (outcome " + std::to_string(outcome) + ")";
    }
    return result;
}

std::string write_not_sent(const std::vector<std::uint16_t>& words) {
    return describe(words) + ": not sent, the rounds were interrupted";
}
