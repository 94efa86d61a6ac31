#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "unit_sim/register_image.h"

// Makes the simulated unit look alive: at each step the scaled measurements that are not zero in
// the base image move within half a percent of their base value, and the energies count up.
namespace unit_sim {

class Drift {
public:
    explicit Drift(const RegisterImage& base, std::uint32_t seed = 1);

    // Moves the values in `registers`, which hold registers 0 to 7465.
    void step(std::uint16_t* registers);

private:
    struct Moving {
        int reg;
        bool pair;     // signed 32-bit in two registers, else unsigned 16-bit
        bool counter;  // an energy: counts up
        std::int64_t base;
        std::int64_t step;  // an energy's raw increment per 0.01 of its unit
    };
    std::vector<Moving> moving_;
    std::mt19937 random_;
};

}  // namespace unit_sim
