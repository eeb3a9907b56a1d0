// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/M4bOutput.h"

#include "audio/FfmpegOwners.h"
#include "encode/modules/BlockedEncoder.h"
#include "join/MuxerMetadata.h"
#include "join/PlanarFeed.h"
#include "platform/FilePath.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <array>
#include <cstring>

namespace join {
namespace {

constexpr std::array kAacRates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
M4bResult Failed(M4bResult::Fault fault, const QString& error = {}) {
    return {fault, error};
}

ffmpeg::CodecContextPtr OpenAac(const M4bSource& source, int kbps, bool globalHeader) {
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    ffmpeg::CodecContextPtr codec(aac != nullptr ? avcodec_alloc_context3(aac) : nullptr);
    if (!codec) {
        return nullptr;
    }
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = source.sampleRate;
    codec->time_base = AVRational{1, source.sampleRate};
    codec->bit_rate = static_cast<std::int64_t>(kbps) * 1000;
    codec->profile = FF_PROFILE_AAC_LOW;
    av_channel_layout_default(&codec->ch_layout, StereoAtMost(source.channels));
    if (globalHeader) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(codec.get(), aac, nullptr) < 0) {
        return nullptr;
    }
    return codec;
}

// The front cover as an attached picture, which the muxer writes as the covr atom. MP4 knows JPEG
// and PNG covers only; another picture, or one whose size cannot be read, is left out.
struct Cover {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
};

int Be16(const QByteArray& bytes, qsizetype at) {
    return static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]);
}

// The muxer wants the picture's size: PNG has it in its header chunk, JPEG in its start-of-frame segment.
Cover CoverOf(const QByteArray& image) {
    if (image.startsWith("\x89PNG\r\n\x1A\n") && image.size() >= 24) {
        return {AV_CODEC_ID_PNG, Be16(image, 16) << 16 | Be16(image, 18),
                Be16(image, 20) << 16 | Be16(image, 22)};
    }
    if (!image.startsWith("\xFF\xD8")) {
        return {};
    }
    for (qsizetype at = 2; at + 9 <= image.size() && static_cast<unsigned char>(image[at]) == 0xFF;) {
        const int marker = static_cast<unsigned char>(image[at + 1]);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            return {AV_CODEC_ID_MJPEG, Be16(image, at + 7), Be16(image, at + 5)};
        }
        at += 2 + Be16(image, at + 2);
    }
    return {};
}

bool AddCoverStream(AVFormatContext& out, const Cover& cover) {
    AVStream* stream = avformat_new_stream(&out, nullptr);
    if (stream == nullptr) {
        return false;
    }
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = cover.codec;
    stream->codecpar->width = cover.width;
    stream->codecpar->height = cover.height;
    stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    stream->time_base = AVRational{1, 90000};
    return true;
}

bool WriteCover(AVFormatContext& out, int streamIndex, const QByteArray& cover) {
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(cover.size())) < 0) {
        return false;
    }
    std::memcpy(packet->data, cover.constData(), static_cast<std::size_t>(cover.size()));
    packet->stream_index = streamIndex;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->pts = 0;
    packet->dts = 0;
    return av_interleaved_write_frame(&out, packet.get()) >= 0;
}

bool WritePacket(const AVCodecContext& codec, AVFormatContext& out, AVPacket* packet) {
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, codec.time_base, out.streams[0]->time_base);
    return av_interleaved_write_frame(&out, packet) >= 0;
}

// The stream goes to encoders on every core when there are several, a long block each (or a few
// rounds of them, for a long book). A block's fresh encoder hears the frame after it, which the
// encoder needs before it gives the packet of a frame, and a long stretch before it: the encoder's
// rate control settles only over hundreds of frames, and with fewer a tonal block came out up to
// 10 dB worse than one encoder makes it. A fresh encoder also works harder while it settles, so
// blocks are few. A block's packets wait until the blocks before it are written: at most some
// 16 MB of them a block, and at most four workers.
std::unique_ptr<blocked::BlockedEncoder> BlocksFor(const M4bSource& source, int kbps, AVCodecContext& first,
                                                   AVFormatContext& out) {
    const int threads = std::min(WorkerThreads("WAVESTITCH_M4B_THREADS"), 4);
    blocked::BlockPlan plan;
    const bool globalHeader = (first.flags & AV_CODEC_FLAG_GLOBAL_HEADER) != 0;
    plan.open = [source, kbps, globalHeader] { return OpenAac(source, kbps, globalHeader); };
    plan.channels = first.ch_layout.nb_channels;
    constexpr std::int64_t kBlockBytes = 16 << 20;
    const std::int64_t heldFrames =
        kBlockBytes * 8 / (std::int64_t{kbps} * 1000) * source.sampleRate / first.frame_size;
    const int blockFrames =
        std::clamp(EnvInt("WAVESTITCH_M4B_BLOCK_FRAMES", static_cast<int>(heldFrames)), 8, 1 << 20);
    plan.leadInFrames =
        static_cast<std::size_t>(std::min(EnvInt("WAVESTITCH_M4B_LEAD_IN", 1024), blockFrames));
    plan.leadOutFrames = 1;
    return std::make_unique<blocked::BlockedEncoder>(
        std::move(plan), &first, threads, blockFrames,
        [&first, &out](AVPacket* packet) { return WritePacket(first, out, packet); });
}

}  // namespace

int DefaultM4bKbps(int sourceChannels) {
    return 64 * StereoAtMost(sourceChannels);
}

bool AacTakesRate(int sampleRate) {
    return std::find(kAacRates.begin(), kAacRates.end(), sampleRate) != kAacRates.end();
}

M4bResult EncodeM4b(const QString& path, const M4bSource& source, const M4bSettings& settings,
                    const M4bRead& read, const M4bProgress& progress) {
    if (!AacTakesRate(source.sampleRate)) {
        return Failed(M4bResult::Fault::Refused,
                      QStringLiteral("AAC has no sample rate of %1 Hz").arg(source.sampleRate));
    }
    // The muxer reopens the file by its name to move the index before the audio.
    const QByteArray name = platform::EncodeName(path);
    AVFormatContext* created = nullptr;
    if (avformat_alloc_output_context2(&created, nullptr, "ipod", name.constData()) < 0) {
        return Failed(M4bResult::Fault::Write, QStringLiteral("no MP4 muxer"));
    }
    const ffmpeg::OutputPtr out(created);
    const int kbps = settings.kbps > 0 ? settings.kbps : DefaultM4bKbps(source.channels);
    const ffmpeg::CodecContextPtr codec =
        OpenAac(source, kbps, (out->oformat->flags & AVFMT_GLOBALHEADER) != 0);
    if (!codec) {
        return Failed(
            M4bResult::Fault::Refused,
            QStringLiteral("the AAC encoder refuses %1 Hz at %2 kbps").arg(source.sampleRate).arg(kbps));
    }
    AVStream* audio = avformat_new_stream(out.get(), nullptr);
    if (audio == nullptr || avcodec_parameters_from_context(audio->codecpar, codec.get()) < 0) {
        return Failed(M4bResult::Fault::Write, QStringLiteral("out of memory"));
    }
    audio->time_base = codec->time_base;
    const M4bMetadata& metadata = settings.metadata;
    const Cover cover = CoverOf(metadata.tags.cover);
    const bool hasCover = cover.codec != AV_CODEC_ID_NONE && cover.width > 0 && cover.height > 0;
    SetMuxerTags(&out->metadata, metadata.tags, "date");
    if ((hasCover && !AddCoverStream(*out, cover)) ||
        !AddMuxerChapters(*out, metadata.chapters, source.sampleRate)) {
        return Failed(M4bResult::Fault::Write, QStringLiteral("out of memory"));
    }
    if (avio_open(&out->pb, name.constData(), AVIO_FLAG_WRITE) < 0) {
        return Failed(M4bResult::Fault::Create);
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    av_dict_set(&options, "brand", settings.music ? "M4A " : "M4B ", 0);
    const int headed = avformat_write_header(out.get(), &options);
    av_dict_free(&options);
    if (headed < 0 || (hasCover && !WriteCover(*out, 1, metadata.tags.cover))) {
        return Failed(M4bResult::Fault::Write);
    }

    // The workers read their blocks through the stream: made before them, it outlives them.
    const PlanarFeed feed(source);
    blocked::WholeStream stream;
    stream.samples = source.frames;
    stream.read = [&feed, &read](void** planes, std::size_t from, int samples) {
        std::vector<char> raw(static_cast<std::size_t>(samples) * feed.FrameBytes());
        const auto size = static_cast<std::int64_t>(raw.size());
        if (read(raw.data(), size, from * feed.FrameBytes()) != size) {
            return false;
        }
        feed.Convert(raw.data(), static_cast<std::size_t>(samples), reinterpret_cast<float* const*>(planes));
        return true;
    };
    stream.progress = [&progress](std::size_t samples) { return !progress || progress(samples); };
    const std::unique_ptr<blocked::BlockedEncoder> blocks = BlocksFor(source, kbps, *codec, *out);
    switch (blocks->EncodeWhole(stream)) {
        case blocked::WholeResult::Done:
            break;
        case blocked::WholeResult::ReadFailed:
            return Failed(M4bResult::Fault::Read);
        case blocked::WholeResult::Failed:
            return Failed(M4bResult::Fault::Write);
        case blocked::WholeResult::Cancelled:
            return Failed(M4bResult::Fault::Cancelled);
    }
    // The trailer writes the index and moves it before the audio; both can meet a full disk.
    if (av_write_trailer(out.get()) < 0 || avio_closep(&out->pb) < 0) {
        return Failed(M4bResult::Fault::Write);
    }
    if (progress) {
        progress(source.frames);
    }
    return {};
}

}  // namespace join
