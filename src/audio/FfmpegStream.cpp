// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/FfmpegStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace audio::detail {

ffmpeg::CodecContextPtr OpenDecoder(const AVStream& st, const AVCodec& codec, bool manualSkip) {
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(&codec));
    if (!context || avcodec_parameters_to_context(context.get(), st.codecpar) < 0) {
        return nullptr;
    }
    if (manualSkip) {
        context->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    }
    // FLAC frames decode on every core, as the ffmpeg tool does it; a decoder that cannot ignores this.
    if (codec.id == AV_CODEC_ID_FLAC) {
        context->thread_count = 0;
        context->thread_type = FF_THREAD_FRAME;
    }
    if (avcodec_open2(context.get(), &codec, nullptr) < 0) {
        return nullptr;
    }
    return context;
}

FfmpegStream::FfmpegStream(FfmpegSource source, const FfmpegShape& shape, ffmpeg::FramePtr frame,
                           ffmpeg::PacketPtr packet)
    : DecodeStream(shape.rate, shape.chans, shape.ctype, shape.lengthBytes, shape.exact, shape.bits,
                   shape.isFloat),
      source_(std::move(source)),
      frame_(std::move(frame)),
      packet_(std::move(packet)),
      narrow_(!shape.isFloat && (shape.bits == 24 || (shape.bits == 16 && shape.sourceBits > 16))),
      swrFormat_(shape.isFloat                  ? AV_SAMPLE_FMT_FLT
                 : shape.bits == 16 && !narrow_ ? AV_SAMPLE_FMT_S16
                                                : AV_SAMPLE_FMT_S32) {
    SetSourceBits(shape.sourceBits);
}

std::unique_ptr<DecodeStream> FfmpegStream::Start(FfmpegSource source, const FfmpegShape& shape) {
    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet || !source.format || !source.codec) {
        return nullptr;
    }
    std::unique_ptr<FfmpegStream> stream(
        new FfmpegStream(std::move(source), shape, std::move(frame), std::move(packet)));
    if (!stream->Prime()) {
        return nullptr;
    }
    return stream;
}

bool FfmpegStream::DecodeMore(std::vector<std::uint8_t>& out) {
    // Every pass reads a packet or receives a frame; the bound guards against a demuxer that
    // stops advancing.
    constexpr int kMaxPasses = 1 << 16;
    for (int pass = 0; pass < kMaxPasses && !failed_; ++pass) {
        const int rc = avcodec_receive_frame(source_.codec.get(), frame_.get());
        if (rc == 0) {
            TakeSkip(*frame_);
            const bool ok = Convert(frame_.get(), frame_->nb_samples, out);
            av_frame_unref(frame_.get());
            if (!ok) {
                failed_ = true;
            } else if (!out.empty()) {
                return true;
            }
        } else if (rc == AVERROR_EOF) {
            if (!swr_ || flushed_) {
                return false;
            }
            flushed_ = true;
            return Convert(nullptr, 0, out) && !out.empty();
        } else if (rc != AVERROR(EAGAIN)) {
            failed_ = true;
        } else {
            SendNextPacket();
        }
    }
    return false;
}

// Left to us by AV_CODEC_FLAG2_SKIP_MANUAL, a skip may be longer than its frame: it goes on into the next.
void FfmpegStream::TakeSkip(const AVFrame& frame) {
    if (const AVFrameSideData* side = av_frame_get_side_data(&frame, AV_FRAME_DATA_SKIP_SAMPLES);
        side != nullptr && side->size >= 4) {
        const std::uint8_t* d = side->data;
        skip_ += d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint64_t>(d[3]) << 24);
    }
}

// Drops what remains of the start's skip from the frames just converted, from old on.
void FfmpegStream::DropSkipped(std::vector<std::uint8_t>& out, std::size_t old) {
    const std::size_t frames = (out.size() - old) / FrameBytes();
    const auto dropped = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, frames));
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(old),
              out.begin() + static_cast<std::ptrdiff_t>(old + dropped * FrameBytes()));
    skip_ -= dropped;
}

void FfmpegStream::SendNextPacket() {
    if (draining_) {
        failed_ = true;
        return;
    }
    if (av_read_frame(source_.format.get(), packet_.get()) < 0) {
        draining_ = true;
        avcodec_send_packet(source_.codec.get(), nullptr);
        return;
    }
    if (packet_->stream_index == source_.streamIndex) {
        const int rc = avcodec_send_packet(source_.codec.get(), packet_.get());
        if (rc < 0 && rc != AVERROR_INVALIDDATA) {
            failed_ = true;
        }
    }
    av_packet_unref(packet_.get());
}

// frame null flushes the resampler.
bool FfmpegStream::Convert(const AVFrame* frame, int samples, std::vector<std::uint8_t>& out) {
    if (frame != nullptr && (samples <= 0 || !MatchResampler(frame))) {
        return samples <= 0;
    }
    const int maxOut = swr_get_out_samples(swr_.get(), samples);
    if (maxOut < 0) {
        return false;
    }
    const std::size_t values = static_cast<std::size_t>(maxOut) * Channels();
    const std::size_t sampleBytes = Bits() / 8;
    const std::size_t old = out.size();
    std::uint8_t* dst = nullptr;
    if (narrow_) {
        wide_.resize(values);
        dst = reinterpret_cast<std::uint8_t*>(wide_.data());
    } else {
        out.resize(old + values * sampleBytes);
        dst = out.data() + old;
    }
    const int n =
        swr_convert(swr_.get(), &dst, maxOut,
                    frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, samples);
    const std::size_t got = static_cast<std::size_t>(n > 0 ? n : 0) * Channels();
    out.resize(old + got * sampleBytes);
    if (narrow_) {
        Narrow(got, out.data() + old);
    }
    DropSkipped(out, old);
    return n >= 0;
}

void FfmpegStream::Narrow(std::size_t count, std::uint8_t* out) {
    if (Bits() == 16) {
        // out is where whole frames of 16-bit samples begin in a vector: aligned for them.
        if (reinterpret_cast<std::uintptr_t>(out) % alignof(std::int16_t) == 0) {
            dither_.Reduce32To16(wide_.data(), reinterpret_cast<std::int16_t*>(out), count);
            return;
        }
        narrowed_.resize(count);
        dither_.Reduce32To16(wide_.data(), narrowed_.data(), count);
        std::memcpy(out, narrowed_.data(), 2 * count);
        return;
    }
    // A source of up to 24 bits comes with its low byte clear, so this is exact; only a mix of more
    // channels than two has anything to round.
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t value = std::min<std::int64_t>((std::int64_t{wide_[i]} + 0x80) >> 8, 0x7FFFFF);
        out[3 * i] = static_cast<std::uint8_t>(value);
        out[3 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        out[3 * i + 2] = static_cast<std::uint8_t>(value >> 16);
    }
}

// The decoder may tell its real sample format and layout only with the first frame, and change
// them midway (a chained Ogg file), so the resampler follows the frames.
bool FfmpegStream::MatchResampler(const AVFrame* frame) {
    if (swr_ && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
        av_channel_layout_compare(&frame->ch_layout, inLayout_.get()) == 0) {
        return true;
    }
    swr_.reset();
    av_channel_layout_uninit(inLayout_.get());
    if (av_channel_layout_copy(inLayout_.get(), &frame->ch_layout) < 0) {
        return false;
    }
    inFormat_ = frame->format;
    inRate_ = frame->sample_rate;
    ChannelLayout mixLayout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(mixLayout.get(), frame->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(mixLayout.get(), &frame->ch_layout) < 0) {
        return false;
    }
    ChannelLayout outLayout;
    av_channel_layout_default(outLayout.get(), static_cast<int>(Channels()));
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, outLayout.get(), swrFormat_, static_cast<int>(Rate()), mixLayout.get(),
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0) {
        return false;
    }
    swr_.reset(raw);
    return swr_init(swr_.get()) >= 0;
}

}  // namespace audio::detail
