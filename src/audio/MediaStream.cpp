// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/MediaStream.h"

#include "audio/Decoder.h"
#include "audio/FfmpegStream.h"
#include "audio/FileProbe.h"
#include "platform/FilePath.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace audio {
namespace {

using detail::DecodeStream;
using detail::FfmpegShape;
using detail::FfmpegStream;
using detail::OpenDecoder;

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
// Ogg granule (less Opus's pre-skip, which is dropped), the MP4 edit list's duration, AIFF's
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

// A lossy decoder's floating point holds no depth of the source's own (an Opus file was not made
// from 24 bits more than from 16), so lossy sources are handed out at 16 bits, as MP3 and WMA are:
// joined to a WAV, they give a 16-bit file. A lossless one keeps its depth: packed 24 bits up to 24.
void ChooseDelivery(AVCodecID codec, AVSampleFormat decoded, FfmpegShape& shape) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    const bool lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0 &&
                          (descriptor->props & AV_CODEC_PROP_LOSSY) == 0;
    if (!lossless || shape.sourceBits <= 16) {
        return;
    }
    shape.isFloat = decoded == AV_SAMPLE_FMT_FLT || decoded == AV_SAMPLE_FMT_FLTP ||
                    decoded == AV_SAMPLE_FMT_DBL || decoded == AV_SAMPLE_FMT_DBLP;
    shape.bits = shape.isFloat || shape.sourceBits > 24 ? 32 : 24;
}

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
    // The stated length ends the stream, and FFmpeg's own trimming of the end is left aside: FFmpeg 5.1
    // times a Vorbis stream's end from packet times that count the first packet, which yields nothing,
    // and would end the stream short of its last granule.
    ffmpeg::CodecContextPtr codecContext = OpenDecoder(*st, *codec, stated > 0);
    if (!codecContext || rate <= 0 || codecContext->ch_layout.nb_channels <= 0) {
        return nullptr;
    }
    FfmpegShape shape;
    shape.rate = static_cast<std::uint32_t>(rate);
    shape.chans = static_cast<std::uint32_t>(std::min(codecContext->ch_layout.nb_channels, 2));
    shape.ctype = codec->id == AV_CODEC_ID_OPUS ? CTYPE_OPUS : kind->ctype;
    shape.exact = stated > 0;
    shape.sourceBits = SourceBits(*st->codecpar, codecContext->sample_fmt);
    ChooseDelivery(codec->id, codecContext->sample_fmt, shape);
    shape.lengthBytes =
        (stated > 0 ? stated : EstimatedSamples(*format, rate)) * shape.chans * (shape.bits / 8);
    return FfmpegStream::Start({std::move(format), std::move(codecContext), index}, shape);
}

}  // namespace audio
