// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Dither.h"

#include <algorithm>
#include <cmath>

namespace audio {

std::uint64_t Dither::Next() {
    // splitmix64: fast, and any seed gives a full-period sequence.
    state_ += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::int32_t Dither::Reduce(double value) {
    constexpr double kUnit = 1.0 / 4294967296.0;
    if (std::isnan(value)) {
        value = 0.0;
    }
    if (value > fullScale_ || value < -fullScale_) {
        ++clipped_;
    }
    // Two uniform values in [0, 1) from one draw; their difference is triangular in (-1, 1).
    const std::uint64_t r = Next();
    const double noise = static_cast<double>(r >> 32) * kUnit - static_cast<double>(r & 0xFFFFFFFFu) * kUnit;
    const double rounded = std::floor(value + noise + 0.5);
    return static_cast<std::int32_t>(std::clamp(rounded, -fullScale_, fullScale_ - 1.0));
}

}  // namespace audio
