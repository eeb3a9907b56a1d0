// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace audio {

// Brings deeper or float samples to integers of 16 or 24 bits with triangular (TPDF) dither of +-1
// step of the result: truncating would add distortion that follows the signal. The noise comes from a
// fixed seed, so the same samples give the same output on every run.
class Dither {
public:
    // bits: 16 or 24.
    explicit Dither(int bits) : fullScale_(static_cast<double>(std::int64_t{1} << (bits - 1))) {}
    // value: the sample in steps of the result, full scale being 2^(bits-1). Beyond full scale (float
    // samples above 1.0) it is clipped and counted.
    std::int32_t Reduce(double value);
    // Samples beyond full scale so far.
    std::uint64_t Clipped() const { return clipped_; }

private:
    std::uint64_t Next();

    double fullScale_;
    std::uint64_t state_ = 0x5745415645535449u;
    std::uint64_t clipped_ = 0;
};

}  // namespace audio
