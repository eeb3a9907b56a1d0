// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>
#include <cstddef>
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
    // Inline, and without std::floor (a library call on plain x86-64): it runs for every sample of a
    // lossy input and of every MP3 or WMA output of deeper audio.
    std::int32_t Reduce(double value) {
        constexpr double kUnit = 1.0 / 4294967296.0;
        if (std::isnan(value)) {
            value = 0.0;
        }
        if (value > fullScale_ || value < -fullScale_) {
            ++clipped_;
            // A step beyond full scale still clips whatever the noise, as the value itself would.
            value = value > 0 ? fullScale_ + 1.0 : -fullScale_ - 1.0;
        }
        // Two uniform values in [0, 1) from one draw; their difference is triangular in (-1, 1).
        const std::uint64_t r = Next();
        const double noise =
            static_cast<double>(r >> 32) * kUnit - static_cast<double>(r & 0xFFFFFFFFu) * kUnit;
        const double sum = value + noise + 0.5;
        auto floored = static_cast<std::int64_t>(sum);  // toward zero: one less below zero
        floored -= static_cast<std::int64_t>(sum < static_cast<double>(floored));
        const auto top = static_cast<std::int64_t>(fullScale_);
        return static_cast<std::int32_t>(floored < -top ? -top : floored > top - 1 ? top - 1 : floored);
    }
    // A full-range 32-bit sample to 16 bits, with the same triangular noise in whole 32-bit steps: the
    // decoders' loop over every sample of a lossy input, in integers only.
    std::int16_t Reduce32To16(std::int32_t sample) {
        const std::uint64_t r = Next();
        return Noised(sample, r >> 48, (r >> 32) & 0xFFFF);
    }
    // The same for count samples, two to a draw of the generator: the decoders' loop over every
    // sample of a lossy input.
    void Reduce32To16(const std::int32_t* in, std::int16_t* out, std::size_t count) {
        std::size_t i = 0;
        for (; i + 1 < count; i += 2) {
            const std::uint64_t r = Next();
            out[i] = Noised(in[i], r >> 48, (r >> 32) & 0xFFFF);
            out[i + 1] = Noised(in[i + 1], (r >> 16) & 0xFFFF, r & 0xFFFF);
        }
        if (i < count) {
            out[i] = Reduce32To16(in[i]);
        }
    }
    // Samples beyond full scale so far.
    std::uint64_t Clipped() const { return clipped_; }

private:
    // sample with the difference of two uniform 16-bit values added, rounded to 16 bits.
    static std::int16_t Noised(std::int32_t sample, std::uint64_t a, std::uint64_t b) {
        const std::int64_t value =
            (std::int64_t{sample} + static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b) + 0x8000) >>
            16;
        return static_cast<std::int16_t>(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
    }

    std::uint64_t Next() {
        // splitmix64: fast, and any seed gives a full-period sequence.
        state_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    double fullScale_;
    std::uint64_t state_ = 0x5745415645535449u;
    std::uint64_t clipped_ = 0;
};

}  // namespace audio
