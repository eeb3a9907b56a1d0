// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Dither.h"

#include <algorithm>

namespace audio {

namespace {

// xorshift32: fast, and good enough for noise that only has to be uncorrelated with the signal.
std::uint32_t Next(DitherNoise& noise) {
    std::uint32_t x = noise.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    noise.state = x;
    return x;
}

}  // namespace

void DitherTo16(const std::int32_t* in, std::int16_t* out, std::size_t count, DitherNoise& noise) {
    constexpr std::int64_t kStep = 1 << 16;  // one 16-bit step in 32-bit units
    for (std::size_t i = 0; i < count; ++i) {
        // The difference of two uniform values in [0, step) is triangular over (-step, step).
        const std::int64_t triangle =
            static_cast<std::int64_t>(Next(noise) >> 16) - static_cast<std::int64_t>(Next(noise) >> 16);
        const std::int64_t value = (static_cast<std::int64_t>(in[i]) + triangle + kStep / 2) >> 16;
        out[i] = static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
    }
}

}  // namespace audio
