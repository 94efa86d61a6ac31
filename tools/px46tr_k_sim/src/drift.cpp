#include "unit_sim/drift.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "catalogue/signal_catalogue.h"

namespace unit_sim {

namespace {

// Record offsets of the energy fields: of both lines and of every feeder.
std::set<std::size_t> energy_offsets() {
    std::set<std::size_t> offsets;
    for (const auto& line : px46tr_k::kInlineLines) {
        offsets.insert(line.record_offset + px46tr_k::inline_field::kEnergy);
    }
    for (int n = 1; n <= px46tr_k::kFeederCount; ++n) {
        offsets.insert(px46tr_k::feeder_field_offset(n, px46tr_k::feeder_field::kEnergy));
    }
    return offsets;
}

}  // namespace

Drift::Drift(const RegisterImage& base, std::uint32_t seed) : random_(seed) {
    using Kind = px46tr_k::SignalSource::Kind;
    const std::set<std::size_t> energies = energy_offsets();
    for (const auto& signal : px46tr_k::snapshot_signals()) {
        const auto& source = signal.source;
        if (signal.coding != px46tr_k::Coding::number || signal.divisor == 1.0f) continue;
        if (source.kind != Kind::register_pair && source.kind != Kind::register16) continue;
        const bool pair = source.kind == Kind::register_pair;
        // The image keeps the registers in the record's order and byte order: the signal's own
        // decoding reads its value there.
        const std::int64_t value = source.field(
            reinterpret_cast<const std::uint8_t*>(base.registers().data() + source.first_register));
        if (value == 0) continue;
        const double scale = static_cast<double>(signal.divisor) * signal.second_divisor;
        moving_.push_back(Moving{source.first_register, pair, energies.count(source.record_offset) > 0, value,
                                 std::max<std::int64_t>(1, std::llround(scale / 100))});
    }
}

void Drift::step(std::uint16_t* registers) {
    std::uniform_real_distribution<double> wobble(-0.005, 0.005);
    std::uniform_int_distribution<int> count_up(1, 5);
    for (Moving& m : moving_) {
        std::int64_t value;
        if (m.counter) {
            m.base += m.step * count_up(random_);
            value = m.base;
        } else {
            value = m.base + std::llround(static_cast<double>(m.base) * wobble(random_));
        }
        if (m.pair) {
            const auto raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
            registers[m.reg] = static_cast<std::uint16_t>(raw >> 16);
            registers[m.reg + 1] = static_cast<std::uint16_t>(raw & 0xffffu);
        } else {
            registers[m.reg] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(value, 0, 0xffff));
        }
    }
}

}  // namespace unit_sim
