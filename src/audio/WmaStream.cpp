// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/WmaStream.h"

#include "audio/Decoder.h"
#include "audio/FfmpegStream.h"
#include "platform/FilePath.h"

#include <QByteArray>

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>

namespace audio::detail {
namespace {

std::uint64_t ContainerSamples(const AVFormatContext& format, const AVStream& st, int rate) {
    const AVRational perSample{1, rate};
    std::int64_t samples = 0;
    if (st.duration != AV_NOPTS_VALUE && st.duration > 0) {
        samples = av_rescale_q(st.duration, st.time_base, perSample);
    } else if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
        samples = av_rescale_q(format.duration, AVRational{1, AV_TIME_BASE}, perSample);
    }
    return samples > 0 ? static_cast<std::uint64_t>(samples) : 0;
}

}  // namespace

std::unique_ptr<DecodeStream> OpenWmaStream(const QString& path) {
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
    ffmpeg::InputPtr format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0 || !codec) {
        return nullptr;
    }
    const AVStream* st = format->streams[index];
    ffmpeg::CodecContextPtr codecContext = OpenDecoder(*st, *codec, false);
    if (!codecContext) {
        return nullptr;
    }
    const int rate = codecContext->sample_rate;
    const int inChans = codecContext->ch_layout.nb_channels;
    if (rate <= 0 || inChans <= 0) {
        return nullptr;
    }
    FfmpegShape shape;
    shape.rate = static_cast<std::uint32_t>(rate);
    shape.chans = static_cast<std::uint32_t>(std::min(inChans, 2));
    shape.ctype = CTYPE_WMA;
    shape.lengthBytes = ContainerSamples(*format, *st, rate) * shape.chans * 2;
    return FfmpegStream::Start({std::move(format), std::move(codecContext), index}, shape);
}

}  // namespace audio::detail
