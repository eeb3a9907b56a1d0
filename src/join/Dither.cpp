// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Dither.h"

#include "join/SampleConvert.h"

#include <algorithm>
#include <cmath>

namespace join {

std::uint64_t Dither16::Next() {
    // splitmix64: fast, and any seed gives a full-period sequence.
    state_ += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::int16_t Dither16::Reduce(double value) {
    constexpr double kFullScale = 32768.0;
    constexpr double kUnit = 1.0 / 4294967296.0;
    if (std::isnan(value)) {
        value = 0.0;
    }
    if (value > kFullScale || value < -kFullScale) {
        ++clipped_;
    }
    // Two uniform values in [0, 1) from one draw; their difference is triangular in (-1, 1).
    const std::uint64_t r = Next();
    const double noise = static_cast<double>(r >> 32) * kUnit - static_cast<double>(r & 0xFFFFFFFFu) * kUnit;
    const double rounded = std::floor(value + noise + 0.5);
    return static_cast<std::int16_t>(std::clamp(rounded, -kFullScale, kFullScale - 1.0));
}

double Level16(const std::uint8_t* sample, int bits, bool isFloat) {
    return isFloat ? static_cast<double>(FloatSample(sample, bits)) * 32768.0
                   : static_cast<double>(LeftAligned(sample, bits)) / 65536.0;
}

}  // namespace join
