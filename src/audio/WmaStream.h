// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/DecodeStream.h"
#include "audio/Decoder.h"
#include "audio/FfmpegOwners.h"
#include "platform/FilePath.h"

#include <QByteArray>
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace audio::detail {

using FormatContextPtr = ffmpeg::InputPtr;
using ffmpeg::CodecContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using SwrPtr = ffmpeg::SwrContextPtr;

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

// The audio of an ASF file (WMA, or whatever audio codec FFmpeg can decode in it), converted by
// libswresample to signed 16-bit with more than two channels mixed down to stereo. The length is the
// container's, known without decoding.
class WmaStream final : public DecodeStream {
public:
    static std::unique_ptr<DecodeStream> Open(const QString& path) {
        const AVInputFormat* asf = av_find_input_format("asf");
        if (!asf) {
            return nullptr;
        }
        const QByteArray name = platform::EncodeName(path);
        AVFormatContext* rawFormat = nullptr;
        // Naming the demuxer keeps other formats out: this opening is for WMA files only.
        if (avformat_open_input(&rawFormat, name.constData(), asf, nullptr) < 0) {
            return nullptr;
        }
        FormatContextPtr format(rawFormat);
        if (avformat_find_stream_info(format.get(), nullptr) < 0) {
            return nullptr;
        }
        const AVCodec* codec = nullptr;
        const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (index < 0 || !codec) {
            return nullptr;
        }
        const AVStream* st = format->streams[index];
        CodecContextPtr codecContext(avcodec_alloc_context3(codec));
        if (!codecContext || avcodec_parameters_to_context(codecContext.get(), st->codecpar) < 0 ||
            avcodec_open2(codecContext.get(), codec, nullptr) < 0) {
            return nullptr;
        }
        const int rate = codecContext->sample_rate;
        const int inChans = codecContext->ch_layout.nb_channels;
        if (rate <= 0 || inChans <= 0) {
            return nullptr;
        }
        const auto chans = static_cast<std::uint32_t>(inChans > 2 ? 2 : inChans);
        const std::uint64_t bytes = ContainerSamples(*format, *st, rate) * chans * 2;
        FramePtr frame(av_frame_alloc());
        PacketPtr packet(av_packet_alloc());
        if (!frame || !packet) {
            return nullptr;
        }
        std::unique_ptr<WmaStream> stream(new WmaStream(static_cast<std::uint32_t>(rate), chans, bytes));
        stream->Adopt(std::move(format), std::move(codecContext), std::move(frame), std::move(packet), index);
        if (!stream->Prime()) {
            return nullptr;
        }
        return stream;
    }

protected:
    bool DecodeMore(std::vector<std::uint8_t>& out) override {
        // Every pass reads a packet or receives a frame, so a finite file ends the loop; the bound
        // guards against a demuxer that stops advancing.
        constexpr int kMaxPasses = 1 << 16;
        for (int pass = 0; pass < kMaxPasses && !failed_; ++pass) {
            const int rc = avcodec_receive_frame(codec_.get(), frame_.get());
            if (rc == 0) {
                const bool ok = Convert(frame_.get(), out);
                av_frame_unref(frame_.get());
                if (!ok) {
                    failed_ = true;
                } else if (!out.empty()) {
                    return true;
                }
            } else if (rc == AVERROR_EOF) {
                return FlushResampler(out);
            } else if (rc != AVERROR(EAGAIN)) {
                failed_ = true;
            } else {
                SendNextPacket();
            }
        }
        return false;
    }

private:
    WmaStream(std::uint32_t rate, std::uint32_t chans, std::uint64_t lengthBytes)
        : DecodeStream(rate, chans, CTYPE_WMA, lengthBytes, false) {}

    void Adopt(FormatContextPtr format, CodecContextPtr codec, FramePtr frame, PacketPtr packet,
               int streamIndex) {
        format_ = std::move(format);
        codec_ = std::move(codec);
        frame_ = std::move(frame);
        packet_ = std::move(packet);
        streamIndex_ = streamIndex;
    }

    static std::uint64_t ContainerSamples(const AVFormatContext& format, const AVStream& st, int rate) {
        const AVRational perSample{1, rate};
        std::int64_t samples = 0;
        if (st.duration != AV_NOPTS_VALUE && st.duration > 0) {
            samples = av_rescale_q(st.duration, st.time_base, perSample);
        } else if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
            samples = av_rescale_q(format.duration, AVRational{1, AV_TIME_BASE}, perSample);
        }
        return samples > 0 ? static_cast<std::uint64_t>(samples) : 0;
    }

    void SendNextPacket() {
        if (draining_) {
            failed_ = true;  // the decoder wants input after the end: it will never finish
            return;
        }
        if (av_read_frame(format_.get(), packet_.get()) < 0) {
            // End of file, or a read error: either way the decoder gives out what it holds.
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            return;
        }
        if (packet_->stream_index == streamIndex_) {
            // A damaged packet (a cut-off last one, say) is skipped; other failures end the stream.
            const int rc = avcodec_send_packet(codec_.get(), packet_.get());
            if (rc < 0 && rc != AVERROR_INVALIDDATA) {
                failed_ = true;
            }
        }
        av_packet_unref(packet_.get());
    }

    bool Convert(const AVFrame* frame, std::vector<std::uint8_t>& out) {
        if (frame->nb_samples <= 0) {
            return true;
        }
        if (!MatchResampler(frame)) {
            return false;
        }
        const int maxOut = swr_get_out_samples(swr_.get(), frame->nb_samples);
        if (maxOut < 0) {
            return false;
        }
        const std::size_t old = out.size();
        out.resize(old + static_cast<std::size_t>(maxOut) * FrameBytes());
        std::uint8_t* dst = out.data() + old;
        const int n = swr_convert(swr_.get(), &dst, maxOut,
                                  const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        out.resize(old + static_cast<std::size_t>(n > 0 ? n : 0) * FrameBytes());
        return n >= 0;
    }

    bool FlushResampler(std::vector<std::uint8_t>& out) {
        if (!swr_ || flushed_) {
            return false;
        }
        flushed_ = true;
        const int maxOut = swr_get_out_samples(swr_.get(), 0);
        if (maxOut <= 0) {
            return false;
        }
        out.resize(static_cast<std::size_t>(maxOut) * FrameBytes());
        std::uint8_t* dst = out.data();
        const int n = swr_convert(swr_.get(), &dst, maxOut, nullptr, 0);
        out.resize(static_cast<std::size_t>(n > 0 ? n : 0) * FrameBytes());
        return !out.empty();
    }

    // The decoder may report its real sample format and layout only with the first frame, and could
    // change them midway, so the resampler follows the frames.
    bool MatchResampler(const AVFrame* frame) {
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
        // Without a channel order the mixer cannot tell front from surround; take the usual layout.
        ChannelLayout mixLayout;
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(mixLayout.get(), frame->ch_layout.nb_channels);
        } else if (av_channel_layout_copy(mixLayout.get(), &frame->ch_layout) < 0) {
            return false;
        }
        ChannelLayout outLayout;
        av_channel_layout_default(outLayout.get(), static_cast<int>(Channels()));
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, outLayout.get(), AV_SAMPLE_FMT_S16, static_cast<int>(Rate()),
                                mixLayout.get(), static_cast<AVSampleFormat>(frame->format),
                                frame->sample_rate, 0, nullptr) < 0) {
            return false;
        }
        swr_.reset(raw);
        return swr_init(swr_.get()) >= 0;
    }

    FormatContextPtr format_;
    CodecContextPtr codec_;
    FramePtr frame_;
    PacketPtr packet_;
    SwrPtr swr_;
    ChannelLayout inLayout_;
    int inFormat_ = -1;
    int inRate_ = 0;
    int streamIndex_ = -1;
    bool draining_ = false;
    bool flushed_ = false;
    bool failed_ = false;
};

}  // namespace audio::detail
