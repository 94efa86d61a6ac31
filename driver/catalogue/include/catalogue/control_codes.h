#pragma once

#include <cstdint>

// The control request codes the unit's driver answers, and what a register write leaves to read
// back. Header only: a program that drives the plug-in through the host's interface includes it
// without linking the driver.
namespace px46tr_k {

// Register writes. The code is also the step the device awaits the write's reply at.
inline constexpr int kControlWriteRegister = 206;   // register, value
inline constexpr int kControlWriteRegisters = 210;  // first register, values...
// JSON requests passed to the host's handler; they take the line as well.
inline constexpr int kControlRequest = 310;        // JSON
inline constexpr int kControlSignalRequest = 320;  // JSON with "signal_id"
// The snapshot.
inline constexpr int kControlSnapshotText = 801;     // as compact JSON text
inline constexpr int kControlSnapshotAddress = 803;  // the address of its value (pointer width)

// At most this many registers in one write (the Modbus standard's limit for write multiple
// registers).
inline constexpr int kMaxWriteRegisters = 123;

// The outcome of the last register write, which any other code copies out (4 bytes).
inline constexpr std::int32_t kWritePending = -1;
inline constexpr std::int32_t kWriteConfirmed = 1;
inline constexpr std::int32_t kWriteRefused = 3;

}  // namespace px46tr_k
