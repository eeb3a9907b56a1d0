// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

// The state of the dither's noise. A fixed start makes two joins of the same inputs equal to the byte.
struct DitherNoise {
    std::uint32_t state = 0x2545F491u;
};

// Reduces samples of 32 bits (wider sources, 24-bit or float, scaled to the full 32-bit range) to 16
// bits with triangular dither of one 16-bit step either way, rounding to the nearest and clipping.
// Cutting the low bits off instead would leave a distortion that follows the signal.
void DitherTo16(const std::int32_t* in, std::int16_t* out, std::size_t count, DitherNoise& noise);

}  // namespace audio
