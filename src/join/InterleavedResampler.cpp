// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/InterleavedResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>

namespace join {
namespace {

ffmpeg::SwrContextPtr OpenSwr(int inRate, int outRate, int channels) {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    SwrContext* created = nullptr;
    if (swr_alloc_set_opts2(&created, &layout, AV_SAMPLE_FMT_FLT, outRate, &layout, AV_SAMPLE_FMT_FLTP,
                            inRate, 0, nullptr) < 0) {
        return nullptr;
    }
    ffmpeg::SwrContextPtr swr(created);
    if (inRate != outRate && av_opt_set_int(swr.get(), "resampler", SWR_ENGINE_SOXR, 0) < 0) {
        return nullptr;
    }
    return swr_init(swr.get()) < 0 ? nullptr : std::move(swr);
}

}  // namespace

InterleavedResampler::InterleavedResampler(int inRate, int outRate, int channels)
    : swr_(OpenSwr(inRate, outRate, channels)), channels_(static_cast<std::size_t>(channels)) {}

bool InterleavedResampler::Flush() {
    for (;;) {
        const int made = Made(nullptr, 0);
        if (made <= 0) {
            return made == 0;
        }
    }
}

void InterleavedResampler::EndAt(std::int64_t total) {
    const std::int64_t frames = std::max<std::int64_t>(Frames() + total - made_, 0);
    samples_.resize(static_cast<std::size_t>(frames) * channels_);
    made_ = total;
}

bool InterleavedResampler::Take(void** planes, int frames) {
    const std::size_t floats = static_cast<std::size_t>(frames) * channels_;
    std::copy_n(samples_.begin(), floats, static_cast<float*>(planes[0]));
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(floats));
    return true;
}

int InterleavedResampler::Made(const std::uint8_t** planes, int frames) {
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room < 0) {
        return room;
    }
    const std::size_t used = samples_.size();
    samples_.resize(used + static_cast<std::size_t>(room) * channels_);
    auto* out = reinterpret_cast<std::uint8_t*>(samples_.data() + used);
    const int made = swr_convert(swr_.get(), &out, room, planes, frames);
    samples_.resize(used + static_cast<std::size_t>(std::max(made, 0)) * channels_);
    made_ += std::max(made, 0);
    return made;
}

}  // namespace join
