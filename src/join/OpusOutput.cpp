// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/OpusOutput.h"

#include "audio/FfmpegOwners.h"
#include "encode/modules/BlockedEncoder.h"
#include "join/InterleavedResampler.h"
#include "join/OggPages.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <QCryptographicHash>
#include <QIODevice>

#include <algorithm>
#include <optional>

namespace join {
namespace {

constexpr int kStreamRate = 48000;

// Blocks of 30 s, each encoder first hearing the 2 s before its block: its rate control and
// predictions then meet a single encoder's (with music, to the bit), and SILK at low rates drifts no
// further than a single encoder's own run does (bench/opus-seams). The lead-in costs 7% more encoding.
constexpr int kBlockFrames = 1500;
constexpr int kLeadInFrames = 100;

OpusResult Failed(OpusResult::Fault fault, const QString& error = {}) {
    return {fault, error};
}

void PutLE(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

ffmpeg::CodecContextPtr OpenOpus(int channels, int kbps) {
    const AVCodec* opus = avcodec_find_encoder_by_name("libopus");
    ffmpeg::CodecContextPtr codec(opus != nullptr ? avcodec_alloc_context3(opus) : nullptr);
    if (!codec) {
        return nullptr;
    }
    codec->sample_fmt = AV_SAMPLE_FMT_FLT;
    codec->sample_rate = kStreamRate;
    codec->time_base = AVRational{1, kStreamRate};
    codec->bit_rate = static_cast<std::int64_t>(kbps) * 1000;
    // opusenc's complexity, so that its speed and ours compare.
    codec->compression_level = 10;
    av_channel_layout_default(&codec->ch_layout, channels);
    if (avcodec_open2(codec.get(), opus, nullptr) < 0) {
        return nullptr;
    }
    return codec;
}

// Identification header: mapping family 0 (mono or stereo), no gain; the input rate is the join's.
QByteArray OpusHead(int channels, int preSkip, int inputRate) {
    QByteArray head = QByteArrayLiteral("OpusHead");
    head.append(char{1});
    head.append(static_cast<char>(channels));
    PutLE(head, static_cast<std::uint32_t>(preSkip), 2);
    PutLE(head, static_cast<std::uint32_t>(inputRate), 4);
    PutLE(head, 0, 2);
    head.append(char{0});
    return head;
}

QByteArray OpusTags(const flac::Metadata& metadata) {
    QStringList comments = metadata.comments;
    for (const flac::Picture& picture : metadata.pictures) {
        comments << QStringLiteral("METADATA_BLOCK_PICTURE=") +
                        QString::fromLatin1(flac::PictureBody(picture).toBase64());
    }
    return QByteArrayLiteral("OpusTags") + flac::VorbisCommentBody(comments);
}

// The stream's serial number from its headers, so that the same join gives the same bytes.
int SerialOf(const QByteArray& headers) {
    const QByteArray digest = QCryptographicHash::hash(headers, QCryptographicHash::Md5);
    std::uint32_t serial = 0;
    for (int i = 0; i < 4; ++i) {
        serial = serial << 8 | static_cast<std::uint8_t>(digest[i]);
    }
    return static_cast<int>(serial & 0x7FFFFFFF);
}

// The encoder's packets as pages. Each packet waits for the next, so that the last is known: it
// ends the stream, its granule position the joined length, which trims the padding of its frame.
class PacketPages {
public:
    PacketPages(OggPages& pages, int preSkip, int frameSize, int channels)
        : pages_(pages), preSkip_(preSkip), frameSize_(frameSize), channels_(channels) {}

    void SetTotal(std::int64_t samples) { total_ = samples; }

    // A packet's time stamp is where its audio starts in the input; those past the input's end
    // (the encoder's flush) hold nothing a decoder keeps.
    bool Add(const AVPacket& packet) {
        if (total_ && packet.pts >= *total_) {
            return true;
        }
        const bool written = !held_ || pages_.Add(*held_, heldEnd_, false, false);
        held_ = QByteArray(reinterpret_cast<const char*>(packet.data), packet.size);
        heldEnd_ = packet.pts + preSkip_ + frameSize_;
        return written;
    }
    // An empty join gets one frame with no data, which decoders take for a lost one, trimmed away
    // whole: a stream needs an audio page to end on.
    bool Finish() {
        const char empty = static_cast<char>(0xF8 | (channels_ == 2 ? 0x04 : 0));  // CELT, 20 ms
        return pages_.Add(held_.value_or(QByteArray(1, empty)), preSkip_ + total_.value_or(0), true, true);
    }

private:
    OggPages& pages_;
    const int preSkip_;
    const int frameSize_;
    const int channels_;
    std::optional<std::int64_t> total_;
    std::optional<QByteArray> held_;
    std::int64_t heldEnd_ = 0;
};

std::unique_ptr<blocked::BlockedEncoder> BlocksFor(int channels, int kbps, AVCodecContext& first,
                                                   PacketPages& pages) {
    const int threads = WorkerThreads("WAVESTITCH_OPUS_THREADS");
    blocked::BlockPlan plan;
    plan.open = [channels, kbps] { return OpenOpus(channels, kbps); };
    plan.channels = channels;
    plan.interleaved = true;
    // One thread encodes the stream whole, as one encoder: no block is ever complete.
    const int blockFrames = threads < 2 ? 1 << 30 : EnvInt("WAVESTITCH_OPUS_BLOCK_FRAMES", kBlockFrames);
    plan.leadInFrames =
        static_cast<std::size_t>(std::min(EnvInt("WAVESTITCH_OPUS_LEAD_IN", kLeadInFrames), blockFrames));
    return std::make_unique<blocked::BlockedEncoder>(
        std::move(plan), &first, threads, blockFrames,
        [&pages](AVPacket* packet) { return pages.Add(*packet); });
}

}  // namespace

int DefaultOpusKbps(int sourceChannels) {
    return StereoAtMost(sourceChannels) == 1 ? 64 : 96;
}

OpusResult EncodeOpus(QIODevice& out, const PcmSource& source, const OpusSettings& settings,
                      const PcmRead& read, const PcmProgress& progress) {
    const int channels = StereoAtMost(source.channels);
    const int kbps = settings.kbps > 0 ? settings.kbps : DefaultOpusKbps(source.channels);
    const ffmpeg::CodecContextPtr codec =
        kbps >= kOpusMinKbps && kbps <= kOpusMaxKbps ? OpenOpus(channels, kbps) : nullptr;
    if (!codec) {
        return Failed(OpusResult::Fault::Refused,
                      QStringLiteral("the Opus encoder refuses %1 kbps").arg(kbps));
    }
    InterleavedResampler resampled(source.sampleRate, kStreamRate, channels);
    if (!resampled.Opened()) {
        return Failed(OpusResult::Fault::Refused,
                      QStringLiteral("no resampler from %1 Hz").arg(source.sampleRate));
    }
    const QByteArray head = OpusHead(channels, codec->initial_padding, source.sampleRate);
    const QByteArray tags = OpusTags(settings.metadata);
    OggPages pages(out, SerialOf(head + tags));
    if (!pages.Add(head, 0, false, true) || !pages.Add(tags, 0, false, true)) {
        return Failed(OpusResult::Fault::Write, out.errorString());
    }

    PacketPages packets(pages, codec->initial_padding, codec->frame_size, channels);
    const std::unique_ptr<blocked::BlockedEncoder> blocks = BlocksFor(channels, kbps, *codec, packets);
    PlanarFeed feed(source);
    std::vector<std::vector<float>> planes(static_cast<std::size_t>(channels));
    const auto take = [&](void** to, int frames) { return resampled.Take(to, frames); };
    std::uint64_t frames = 0;
    for (;;) {
        const std::int64_t got = feed.Read(read);
        if (got < 0) {
            return Failed(OpusResult::Fault::Read);
        }
        if (got == 0) {
            break;
        }
        std::vector<const std::uint8_t*> in;
        std::vector<void*> to;
        for (std::vector<float>& plane : planes) {
            plane.resize(static_cast<std::size_t>(got));
            in.push_back(reinterpret_cast<const std::uint8_t*>(plane.data()));
            to.push_back(plane.data());
        }
        feed.Take(to.data(), static_cast<std::size_t>(got));
        frames += static_cast<std::uint64_t>(got);
        if (!resampled.Convert(in.data(), static_cast<int>(got)) || !blocks->Add(resampled.Frames(), take)) {
            return Failed(OpusResult::Fault::Write, out.errorString());
        }
        if (progress && !progress(frames)) {
            return Failed(OpusResult::Fault::Cancelled);
        }
    }
    const auto total =
        static_cast<std::int64_t>((frames * kStreamRate + static_cast<std::uint64_t>(source.sampleRate) / 2) /
                                  static_cast<std::uint64_t>(source.sampleRate));
    if (!resampled.Flush()) {
        return Failed(OpusResult::Fault::Write);
    }
    resampled.EndAt(total);
    packets.SetTotal(total);
    if (!blocks->Finish(resampled.Frames(), take) || !packets.Finish()) {
        return Failed(OpusResult::Fault::Write, out.errorString());
    }
    if (progress) {
        progress(frames);
    }
    return {};
}

}  // namespace join
