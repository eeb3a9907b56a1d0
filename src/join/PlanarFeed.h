// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace join {

// The joined PCM as the temporary file holds it: interleaved, little-endian, 8-bit unsigned, 16-,
// 24- or 32-bit signed, or 32-bit float.
struct PcmSource {
    int sampleRate = 0;
    int channels = 0;
    int bits = 16;
    bool isFloat = false;
};

// Reads up to size bytes of PCM into data; returns the bytes read, 0 at the end, -1 on failure.
using PcmRead = std::function<std::int64_t(char* data, std::int64_t size)>;
// Told the frames encoded so far; false cancels.
using PcmProgress = std::function<bool(std::uint64_t frames)>;

// The lossy encoders hold at most two channels here: wider sources are mixed to stereo, as MP3 and
// WMA are.
int StereoAtMost(int sourceChannels);

// The source's frames as the lossy encoders take them: float planes of one or two channels. Wider
// sources go down to stereo as the other encoders' feed does it, even channels to the left and odd
// ones to the right, averaged.
class PlanarFeed {
public:
    explicit PlanarFeed(const PcmSource& source);

    // Reads the next piece of the source and appends its whole frames to the planes, keeping a
    // partial frame for the next read. Returns the frames appended, 0 at the end, -1 on failure.
    std::int64_t Read(const PcmRead& read);
    std::size_t Frames() const { return planes_.front().size() - taken_; }
    // Copies the next frames into planes and forgets them.
    void Take(void* const* planes, std::size_t frames);

    // Bytes of one frame of the source's PCM.
    std::size_t FrameBytes() const;
    // Turns frames of the source's PCM at raw into the planes' first frames; safe on several
    // threads at once.
    void Convert(const char* raw, std::size_t frames, float* const* planes) const;

private:
    void Append(const char* raw, std::size_t frames);
    float Level(const char* frame, int channel) const;

    PcmSource source_;
    int bytesPerSample_;
    std::vector<std::vector<float>> planes_;
    std::size_t taken_ = 0;
    std::vector<char> raw_;
    std::size_t carried_ = 0;  // bytes of a partial frame kept from the last read
};

}  // namespace join
