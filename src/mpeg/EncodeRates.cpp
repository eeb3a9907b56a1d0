// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpeg/EncodeRates.h"

#include <array>
#include <cstdlib>

namespace mpeg {
namespace {

constexpr std::array<int, 9> kRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::array<int, 14> kMpeg1Kbps{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 14> kMpeg2Kbps{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::size_t kMpeg25Count = 8;  // the MPEG 2 bitrates up to 64

int Nearest(std::span<const int> values, long wanted) {
    int best = values.front();
    for (const int value : values) {
        if (std::labs(value - wanted) <= std::labs(best - wanted)) {
            best = value;
        }
    }
    return best;
}

}  // namespace

int Mp3SampleRate(int rate) {
    return Nearest(kRates, rate);
}

std::span<const int> Mp3Bitrates(int sampleRate) {
    if (sampleRate >= 32000) {
        return kMpeg1Kbps;
    }
    const std::span<const int> mpeg2(kMpeg2Kbps);
    return sampleRate >= 16000 ? mpeg2 : mpeg2.first(kMpeg25Count);
}

int Mp3Bitrate(int sampleRate, long kbps) {
    return Nearest(Mp3Bitrates(sampleRate), kbps);
}

}  // namespace mpeg
