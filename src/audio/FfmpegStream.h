// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/DecodeStream.h"
#include "audio/Dither.h"
#include "audio/FfmpegOwners.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <cstdint>
#include <memory>
#include <vector>

namespace audio::detail {

// An AVChannelLayout may own a custom channel map.
class ChannelLayout {
public:
    ChannelLayout() = default;
    ~ChannelLayout() { av_channel_layout_uninit(&layout_); }
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    AVChannelLayout* get() { return &layout_; }

private:
    AVChannelLayout layout_{};
};

// An opened file and the decoder of the audio stream to decode.
struct FfmpegSource {
    ffmpeg::InputPtr format;
    ffmpeg::CodecContextPtr codec;
    int streamIndex = -1;
};

// What a stream over an FfmpegSource hands out.
struct FfmpegShape {
    std::uint32_t rate = 0;
    std::uint32_t chans = 0;  // 1 or 2: more are mixed down
    std::uint32_t ctype = 0;
    std::uint64_t lengthBytes = 0;
    bool exact = false;  // the length ends the stream
    std::uint32_t sourceBits = 0;
    // What the stream hands out: 16, 24 (packed) or 32-bit integers, or 32-bit float. A source deeper
    // than 16 bits handed out at 16 is dithered down.
    std::uint32_t bits = 16;
    bool isFloat = false;
};

// The decoder of st, opened. manualSkip leaves the samples to skip at the start to the stream (it
// drops them) and ignores those FFmpeg would discard at the end.
ffmpeg::CodecContextPtr OpenDecoder(const AVStream& st, const AVCodec& codec, bool manualSkip);

// A file's audio through FFmpeg, as interleaved PCM of the shape's format; libswresample converts it
// and mixes more than two channels down to stereo.
class FfmpegStream final : public DecodeStream {
public:
    // Takes source over and decodes the first block; nullptr when that fails.
    static std::unique_ptr<DecodeStream> Start(FfmpegSource source, const FfmpegShape& shape);

protected:
    bool DecodeMore(std::vector<std::uint8_t>& out) override;

private:
    FfmpegStream(FfmpegSource source, const FfmpegShape& shape, ffmpeg::FramePtr frame,
                 ffmpeg::PacketPtr packet);

    void TakeSkip(const AVFrame& frame);
    void DropSkipped(std::vector<std::uint8_t>& out, std::size_t old);
    void SendNextPacket();
    bool Convert(const AVFrame* frame, int samples, std::vector<std::uint8_t>& out);
    // Brings count samples of wide_ to the stream's 16 or 24 bits at out.
    void Narrow(std::size_t count, std::uint8_t* out);
    bool MatchResampler(const AVFrame* frame);

    FfmpegSource source_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::SwrContextPtr swr_;
    ChannelLayout inLayout_;
    std::vector<std::int32_t> wide_;
    std::vector<std::int16_t> narrowed_;
    Dither dither_{16};
    // Taken from libswresample at 32 bits and narrowed: to 24 bits, or dithered to 16.
    const bool narrow_;
    const AVSampleFormat swrFormat_;
    std::uint64_t skip_ = 0;
    int inFormat_ = -1;
    int inRate_ = 0;
    bool draining_ = false;
    bool flushed_ = false;
    bool failed_ = false;
};

}  // namespace audio::detail
