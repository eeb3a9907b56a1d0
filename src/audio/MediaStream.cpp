// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/MediaStream.h"

#include "audio/Decoder.h"
#include "audio/Dither.h"
#include "audio/FileProbe.h"
#include "audio/WmaStream.h"
#include "platform/FilePath.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace audio {
namespace {

using detail::ChannelLayout;
using detail::DecodeStream;

struct MediaFormat {
    std::array<const char*, 3> extensions;
    const char* name;
    const char* demuxer;              // the name of the demuxer FFmpeg's probe picks for such content
    std::array<AVCodecID, 3> codecs;  // none listed: any audio codec
    std::uint32_t ctype;
};

constexpr std::array kFormats{
    MediaFormat{{".flac"}, "FLAC", "flac", {AV_CODEC_ID_FLAC}, CTYPE_FLAC},
    MediaFormat{
        {".ogg", ".oga"}, "Ogg", "ogg", {AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC}, CTYPE_OGG},
    MediaFormat{{".opus"}, "Opus", "ogg", {AV_CODEC_ID_OPUS}, CTYPE_OPUS},
    MediaFormat{{".m4a", ".m4b", ".mp4"},
                "M4A",
                "mov,mp4,m4a,3gp,3g2,mj2",
                {AV_CODEC_ID_AAC, AV_CODEC_ID_ALAC},
                CTYPE_MP4},
    MediaFormat{{".aif", ".aiff", ".aifc"}, "AIFF", "aiff", {}, CTYPE_AIFF},
};

const MediaFormat* FormatOf(const QString& path) {
    const QString extension = FileExtension(path);
    for (const MediaFormat& format : kFormats) {
        for (const char* claimed : format.extensions) {
            if (claimed != nullptr && extension.compare(QLatin1String(claimed), Qt::CaseInsensitive) == 0) {
                return &format;
            }
        }
    }
    return nullptr;
}

bool CodecFits(const MediaFormat& format, AVCodecID codec) {
    return format.codecs[0] == AV_CODEC_ID_NONE ||
           std::find(format.codecs.begin(), format.codecs.end(), codec) != format.codecs.end();
}

// A film is not an audio file, even in an .mp4; a cover picture is.
bool HasVideo(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* st = format.streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            return true;
        }
    }
    return false;
}

// The samples that decoding yields when the container states them: FLAC's STREAMINFO total, the last
// Ogg granule (less Opus's pre-skip, which the decoder drops), the MP4 edit list's duration, AIFF's
// frame count. 0 when the container does not state them, or FFmpeg only guessed them from the bitrate.
std::uint64_t StatedSamples(const AVFormatContext& format, const AVStream& st, int rate) {
    if (format.duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st.duration == AV_NOPTS_VALUE ||
        st.duration <= 0) {
        return 0;
    }
    std::int64_t samples = av_rescale_q(st.duration, st.time_base, AVRational{1, rate});
    if (st.codecpar->codec_id == AV_CODEC_ID_OPUS) {
        samples -= st.codecpar->initial_padding;
    }
    return samples > 0 ? static_cast<std::uint64_t>(samples) : 0;
}

// The container's length when it states none exactly, never below what was read.
std::uint64_t EstimatedSamples(const AVFormatContext& format, int rate) {
    if (format.duration == AV_NOPTS_VALUE || format.duration <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(
        av_rescale_q(format.duration, AVRational{1, AV_TIME_BASE}, AVRational{1, rate}));
}

// The resolution of the source in bits: 24 for a 24-bit FLAC or AIFF, 32 for a decoder that gives
// floating point (every lossy one).
std::uint32_t SourceBits(const AVCodecParameters& par, AVSampleFormat decoded) {
    switch (decoded) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            return 8;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            return 16;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            return par.bits_per_raw_sample > 0 ? static_cast<std::uint32_t>(par.bits_per_raw_sample) : 32;
        default:
            return 32;
    }
}

// A media file's audio through FFmpeg, as 16-bit PCM with more than two channels mixed down to stereo.
// A source of more than 16 bits, or of floating point, is taken at 32 bits and dithered down, so that
// delivering its own depth later only drops the last step.
class MediaStream final : public DecodeStream {
public:
    MediaStream(std::uint32_t rate, std::uint32_t chans, std::uint32_t ctype, std::uint64_t lengthBytes,
                bool exact, std::uint32_t sourceBits)
        : DecodeStream(rate, chans, ctype, lengthBytes, exact), dither_(sourceBits > 16) {
        SetSourceBits(sourceBits);
    }

    void Adopt(ffmpeg::InputPtr format, ffmpeg::CodecContextPtr codec, ffmpeg::FramePtr frame,
               ffmpeg::PacketPtr packet, int streamIndex) {
        format_ = std::move(format);
        codec_ = std::move(codec);
        frame_ = std::move(frame);
        packet_ = std::move(packet);
        streamIndex_ = streamIndex;
    }

    bool Start() { return Prime(); }

protected:
    bool DecodeMore(std::vector<std::uint8_t>& out) override {
        // Every pass reads a packet or receives a frame; the bound guards against a demuxer that
        // stops advancing.
        constexpr int kMaxPasses = 1 << 16;
        for (int pass = 0; pass < kMaxPasses && !failed_; ++pass) {
            const int rc = avcodec_receive_frame(codec_.get(), frame_.get());
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

private:
    // With a stated length the decoder leaves trimming to us (AV_CODEC_FLAG2_SKIP_MANUAL): the samples it
    // would skip at the start go, but not those it would discard at the end, since the stated length ends
    // the stream. FFmpeg 5.1 times a Vorbis stream's end trimming from packet times that count the first
    // packet, which yields nothing: it would end that stream short of its last granule.
    void TakeSkip(const AVFrame& frame) {
        if (const AVFrameSideData* side = av_frame_get_side_data(&frame, AV_FRAME_DATA_SKIP_SAMPLES);
            side != nullptr && side->size >= 4) {
            const std::uint8_t* d = side->data;
            skip_ += d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint64_t>(d[3]) << 24);
        }
    }

    // Drops what remains of the start's skip from the frames just converted, from old on.
    void DropSkipped(std::vector<std::uint8_t>& out, std::size_t old) {
        const std::size_t frames = (out.size() - old) / FrameBytes();
        const auto dropped = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, frames));
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(old),
                  out.begin() + static_cast<std::ptrdiff_t>(old + dropped * FrameBytes()));
        skip_ -= dropped;
    }

    void SendNextPacket() {
        if (draining_) {
            failed_ = true;
            return;
        }
        if (av_read_frame(format_.get(), packet_.get()) < 0) {
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            return;
        }
        if (packet_->stream_index == streamIndex_) {
            const int rc = avcodec_send_packet(codec_.get(), packet_.get());
            if (rc < 0 && rc != AVERROR_INVALIDDATA) {
                failed_ = true;
            }
        }
        av_packet_unref(packet_.get());
    }

    // frame null flushes the resampler.
    bool Convert(const AVFrame* frame, int samples, std::vector<std::uint8_t>& out) {
        if (frame != nullptr && (samples <= 0 || !MatchResampler(frame))) {
            return samples <= 0;
        }
        const int maxOut = swr_get_out_samples(swr_.get(), samples);
        if (maxOut < 0) {
            return false;
        }
        const std::size_t values = static_cast<std::size_t>(maxOut) * Channels();
        const std::size_t old = out.size();
        std::uint8_t* dst = nullptr;
        if (dither_) {
            wide_.resize(values);
            dst = reinterpret_cast<std::uint8_t*>(wide_.data());
        } else {
            out.resize(old + values * 2);
            dst = out.data() + old;
        }
        const int n =
            swr_convert(swr_.get(), &dst, maxOut,
                        frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, samples);
        const std::size_t got = static_cast<std::size_t>(n > 0 ? n : 0) * Channels();
        out.resize(old + got * 2);
        if (dither_) {
            DitherTo16(wide_.data(), reinterpret_cast<std::int16_t*>(out.data() + old), got, noise_);
        }
        DropSkipped(out, old);
        return n >= 0;
    }

    // The decoder may tell its real sample format and layout only with the first frame, and change
    // them midway (a chained Ogg file), so the resampler follows the frames.
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
        ChannelLayout mixLayout;
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(mixLayout.get(), frame->ch_layout.nb_channels);
        } else if (av_channel_layout_copy(mixLayout.get(), &frame->ch_layout) < 0) {
            return false;
        }
        ChannelLayout outLayout;
        av_channel_layout_default(outLayout.get(), static_cast<int>(Channels()));
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, outLayout.get(), dither_ ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16,
                                static_cast<int>(Rate()), mixLayout.get(),
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr) < 0) {
            return false;
        }
        swr_.reset(raw);
        return swr_init(swr_.get()) >= 0;
    }

    ffmpeg::InputPtr format_;
    ffmpeg::CodecContextPtr codec_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::SwrContextPtr swr_;
    ChannelLayout inLayout_;
    std::vector<std::int32_t> wide_;
    DitherNoise noise_;
    const bool dither_;
    std::uint64_t skip_ = 0;
    int inFormat_ = -1;
    int inRate_ = 0;
    int streamIndex_ = -1;
    bool draining_ = false;
    bool flushed_ = false;
    bool failed_ = false;
};

}  // namespace

const char* MediaFormatName(const QString& path) {
    const MediaFormat* format = FormatOf(path);
    return format ? format->name : nullptr;
}

std::unique_ptr<DecodeStream> detail::OpenMediaStream(const QString& path) {
    const MediaFormat* kind = FormatOf(path);
    if (kind == nullptr) {
        return nullptr;
    }
    AVFormatContext* raw = nullptr;
    // FFmpeg's probe tells the format by the content; a file whose content is another format than its
    // extension claims gets another demuxer, and is refused.
    if (avformat_open_input(&raw, platform::EncodeName(path).constData(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    ffmpeg::InputPtr format(raw);
    if (std::strcmp(format->iformat->name, kind->demuxer) != 0 ||
        avformat_find_stream_info(format.get(), nullptr) < 0 || HasVideo(*format)) {
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0 || codec == nullptr || !CodecFits(*kind, codec->id)) {
        return nullptr;
    }
    const AVStream* st = format->streams[index];
    const int rate = st->codecpar->sample_rate;
    const std::uint64_t stated = rate > 0 ? StatedSamples(*format, *st, rate) : 0;
    ffmpeg::CodecContextPtr codecContext(avcodec_alloc_context3(codec));
    if (!codecContext || avcodec_parameters_to_context(codecContext.get(), st->codecpar) < 0) {
        return nullptr;
    }
    if (stated > 0) {
        codecContext->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    }
    if (avcodec_open2(codecContext.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    const int inChans = codecContext->ch_layout.nb_channels;
    if (rate <= 0 || inChans <= 0) {
        return nullptr;
    }
    const auto chans = static_cast<std::uint32_t>(inChans > 2 ? 2 : inChans);
    const std::uint64_t samples = stated > 0 ? stated : EstimatedSamples(*format, rate);
    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        return nullptr;
    }
    const std::uint32_t ctype = codec->id == AV_CODEC_ID_OPUS ? CTYPE_OPUS : kind->ctype;
    auto stream =
        std::make_unique<MediaStream>(static_cast<std::uint32_t>(rate), chans, ctype, samples * chans * 2,
                                      stated > 0, SourceBits(*st->codecpar, codecContext->sample_fmt));
    stream->Adopt(std::move(format), std::move(codecContext), std::move(frame), std::move(packet), index);
    if (!stream->Start()) {
        return nullptr;
    }
    return stream;
}

}  // namespace audio
