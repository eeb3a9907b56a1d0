// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace join {

// Brings samples deeper than 16 bits to the 16 bits the encoders take, with triangular (TPDF)
// dither of +-1 step of the 16-bit result: truncating would add distortion that follows the signal.
// The noise comes from a fixed seed, so a join gives the same output on every run.
class Dither16 {
public:
    // value: the sample in 16-bit steps, 32768 being full scale. Beyond full scale (float samples
    // above 1.0) it is clipped and counted.
    std::int16_t Reduce(double value);
    // Samples beyond full scale so far.
    std::uint64_t Clipped() const { return clipped_; }

private:
    std::uint64_t Next();

    std::uint64_t state_ = 0x5745415645535449u;
    std::uint64_t clipped_ = 0;
};

// A sample of bits bits in 16-bit steps: an integer of 8 to 32 bits, or IEEE float of 32 or 64.
double Level16(const std::uint8_t* sample, int bits, bool isFloat);

}  // namespace join
