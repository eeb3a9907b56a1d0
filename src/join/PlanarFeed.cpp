// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/PlanarFeed.h"

#include "join/SampleConvert.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace join {
namespace {

// Frames read from the temporary file at a time.
constexpr std::size_t kReadFrames = 16384;

}  // namespace

int StereoAtMost(int sourceChannels) {
    return sourceChannels == 1 ? 1 : 2;
}

PlanarFeed::PlanarFeed(const PcmSource& source)
    : source_(source),
      bytesPerSample_(std::max(source.bits / 8, 1)),
      planes_(static_cast<std::size_t>(StereoAtMost(source.channels))),
      raw_(kReadFrames * FrameBytes()) {}

std::size_t PlanarFeed::FrameBytes() const {
    return static_cast<std::size_t>(source_.channels * bytesPerSample_);
}

std::int64_t PlanarFeed::Read(const PcmRead& read) {
    const std::int64_t got = read(raw_.data() + carried_, static_cast<std::int64_t>(raw_.size() - carried_));
    if (got <= 0) {
        return got;
    }
    const std::size_t held = carried_ + static_cast<std::size_t>(got);
    const std::size_t frames = held / FrameBytes();
    Append(raw_.data(), frames);
    carried_ = held - frames * FrameBytes();
    std::memmove(raw_.data(), raw_.data() + frames * FrameBytes(), carried_);
    return static_cast<std::int64_t>(frames);
}

void PlanarFeed::Append(const char* raw, std::size_t frames) {
    const std::size_t used = planes_.front().size();
    std::array<float*, 2> to{};
    for (std::size_t c = 0; c < planes_.size(); ++c) {
        planes_[c].resize(used + frames);
        to[c] = planes_[c].data() + used;
    }
    Convert(raw, frames, to.data());
}

void PlanarFeed::Convert(const char* raw, std::size_t frames, float* const* planes) const {
    const std::size_t frameBytes = FrameBytes();
    // 16-bit stereo, the join's usual PCM, without the general path's calls per sample: a 16-bit
    // sample over 32768 is the very float the general path makes of it.
    if (!source_.isFloat && source_.bits == 16 && source_.channels == 2) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(raw);
        for (std::size_t f = 0; f < frames; ++f, p += 4) {
            planes[0][f] = static_cast<float>(static_cast<std::int16_t>(p[0] | p[1] << 8)) / 32768.0f;
            planes[1][f] = static_cast<float>(static_cast<std::int16_t>(p[2] | p[3] << 8)) / 32768.0f;
        }
        return;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        const char* frame = raw + f * frameBytes;
        if (source_.channels <= 2) {
            for (int c = 0; c < source_.channels; ++c) {
                planes[c][f] = Level(frame, c);
            }
            continue;
        }
        std::array<float, 2> sums{};
        std::array<int, 2> counts{};
        for (int c = 0; c < source_.channels; ++c) {
            sums[static_cast<std::size_t>(c % 2)] += Level(frame, c);
            ++counts[static_cast<std::size_t>(c % 2)];
        }
        planes[0][f] = sums[0] / static_cast<float>(counts[0]);
        planes[1][f] = sums[1] / static_cast<float>(counts[1]);
    }
}

void PlanarFeed::Take(void* const* planes, std::size_t frames) {
    for (std::size_t c = 0; c < planes_.size(); ++c) {
        std::memcpy(planes[c], planes_[c].data() + taken_, frames * sizeof(float));
    }
    taken_ += frames;
    if (taken_ == planes_.front().size()) {
        for (std::vector<float>& plane : planes_) {
            plane.clear();
        }
        taken_ = 0;
    }
}

float PlanarFeed::Level(const char* frame, int channel) const {
    const auto* p = reinterpret_cast<const std::uint8_t*>(frame + channel * bytesPerSample_);
    if (source_.isFloat) {
        return FloatSample(p, source_.bits);
    }
    // Unsigned 8-bit PCM straight to its level, not through the 8-to-16-bit widening table.
    if (source_.bits == 8) {
        return static_cast<float>(p[0] - 128) / 128.0f;
    }
    return static_cast<float>(LeftAligned(p, source_.bits)) / 2147483648.0f;
}

}  // namespace join
