// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/FfmpegOwners.h"

#include <cstdint>
#include <vector>

namespace join {

// Float planes at one rate to interleaved float at another, through libswresample's SoX resampler
// where the rates differ (at the same rate, only interleaved). The samples made wait in it until an
// encoder takes them from the front.
class InterleavedResampler {
public:
    InterleavedResampler(int inRate, int outRate, int channels);
    // False when libswresample could not be set up.
    bool Opened() const { return swr_ != nullptr; }

    bool Convert(const std::uint8_t** planes, int frames) { return Made(planes, frames) >= 0; }
    // Takes what the resampler still holds.
    bool Flush();
    // Cuts or pads the end so that exactly total frames were made, which the rounding of the
    // resampler's flush does not promise.
    void EndAt(std::int64_t total);
    // The frames made and not yet taken.
    int Frames() const { return static_cast<int>(samples_.size() / channels_); }
    // Moves the first frames into planes[0], interleaved.
    bool Take(void** planes, int frames);

private:
    // The frames made, or a negative error.
    int Made(const std::uint8_t** planes, int frames);

    ffmpeg::SwrContextPtr swr_;
    const std::size_t channels_;
    std::vector<float> samples_;
    std::int64_t made_ = 0;
};

}  // namespace join
