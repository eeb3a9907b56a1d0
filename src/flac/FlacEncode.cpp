// SPDX-License-Identifier: GPL-3.0-or-later
#include "flac/FlacEncode.h"

#include <FLAC/stream_encoder.h>

// Exported by libFLAC and used by its own flac tool (--no-md5-sum), but declared only in a header
// that is not installed. Each segment's encoder would otherwise checksum its samples again, for
// nothing: the stream's checksum is of the whole audio, which only the writer sees.
extern "C" FLAC_API FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                               FLAC__bool value);

#include <QCryptographicHash>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace flac {
namespace {

constexpr std::uint32_t kBlockSize = 4096;
constexpr int kSeekPointSeconds = 10;
constexpr int kPaddingBytes = 8192;
constexpr std::uint32_t kMaxBlockLength = 0xFFFFFF;

enum BlockType : std::uint8_t {
    kStreamInfo = 0,
    kPadding = 1,
    kSeekTable = 3,
    kVorbisComment = 4,
    kPicture = 6
};

struct EncoderDelete {
    void operator()(FLAC__StreamEncoder* p) const { FLAC__stream_encoder_delete(p); }
};
using EncoderPtr = std::unique_ptr<FLAC__StreamEncoder, EncoderDelete>;

void PutBE(QByteArray& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void PutLE32(QByteArray& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void PutBlock(QByteArray& out, BlockType type, const QByteArray& body, bool last) {
    out.append(static_cast<char>((last ? 0x80 : 0) | type));
    PutBE(out, static_cast<std::uint64_t>(body.size()), 3);
    out.append(body);
}

struct StreamTotals {
    std::uint32_t minFrameBytes = 0;
    std::uint32_t maxFrameBytes = 0;
    QByteArray md5 = QByteArray(16, '\0');
};

QByteArray StreamInfo(const PcmFormat& format, std::uint64_t totalFrames, const StreamTotals& totals) {
    QByteArray body;
    PutBE(body, kBlockSize, 2);
    PutBE(body, kBlockSize, 2);
    PutBE(body, totals.minFrameBytes, 3);
    PutBE(body, totals.maxFrameBytes, 3);
    const std::uint64_t packed = (static_cast<std::uint64_t>(format.sampleRate) << 44) |
                                 (static_cast<std::uint64_t>(format.channels - 1) << 41) |
                                 (static_cast<std::uint64_t>(format.bits - 1) << 36) |
                                 (totalFrames & 0xFFFFFFFFFULL);
    PutBE(body, packed, 8);
    body.append(totals.md5);
    return body;
}

// The frames a seek point names: the one holding every tenth second, each once.
std::vector<std::uint64_t> SeekFrames(const PcmFormat& format, std::uint64_t totalFrames) {
    std::vector<std::uint64_t> frames;
    const std::uint64_t step = static_cast<std::uint64_t>(format.sampleRate) * kSeekPointSeconds;
    for (std::uint64_t sample = 0; sample < totalFrames; sample += step) {
        const std::uint64_t frame = sample / kBlockSize;
        if (frames.empty() || frames.back() != frame) {
            frames.push_back(frame);
        }
    }
    return frames;
}

QByteArray SeekTable(const std::vector<std::uint64_t>& seekFrames,
                     const std::vector<std::uint64_t>& frameOffsets, std::uint64_t totalFrames) {
    QByteArray body;
    for (const std::uint64_t frame : seekFrames) {
        const std::uint64_t sample = frame * kBlockSize;
        PutBE(body, sample, 8);
        PutBE(body, frame < frameOffsets.size() ? frameOffsets[frame] : 0, 8);
        PutBE(body, std::min<std::uint64_t>(kBlockSize, totalFrames - sample), 2);
    }
    return body;
}

// FLAC's frame header codes the frame number the way UTF-8 codes a character.
QByteArray CodedNumber(std::uint64_t number) {
    QByteArray out;
    if (number < 0x80) {
        out.append(static_cast<char>(number));
        return out;
    }
    int continuation = 1;
    while (continuation < 6 && number >= (std::uint64_t{1} << (6 * continuation + 6 - continuation))) {
        ++continuation;
    }
    const auto lead = static_cast<std::uint8_t>((0xFF00 >> (continuation + 1)) & 0xFF);
    out.append(static_cast<char>(lead | (number >> (6 * continuation))));
    for (int i = continuation - 1; i >= 0; --i) {
        out.append(static_cast<char>(0x80 | ((number >> (6 * i)) & 0x3F)));
    }
    return out;
}

int CodedNumberLength(std::uint8_t first) {
    int ones = 0;
    while (ones < 8 && (first & (0x80 >> ones)) != 0) {
        ++ones;
    }
    return ones == 0 ? 1 : ones;
}

// CRC-16 (polynomial 0x8005, from 0) is linear: crc(A + B) = crc(A) carried through |B| zero bytes,
// xor crc(B). This carries crc through count zero bytes by squaring the one-byte step (as zlib combines
// CRC-32s), in a few dozen operations whatever the count.
std::uint16_t Crc16AfterZeros(std::uint16_t crc, std::size_t count) {
    // Column i of a step: where bit i of the register goes.
    using Step = std::array<std::uint16_t, 16>;
    const auto apply = [](const Step& step, std::uint16_t value) {
        std::uint16_t sum = 0;
        for (int i = 0; value != 0; ++i, value = static_cast<std::uint16_t>(value >> 1)) {
            if ((value & 1) != 0) {
                sum ^= step[static_cast<std::size_t>(i)];
            }
        }
        return sum;
    };
    const auto square = [&](const Step& step) {
        Step twice{};
        for (std::size_t i = 0; i < 16; ++i) {
            twice[i] = apply(step, step[i]);
        }
        return twice;
    };
    // The steps for 1, 2, 4, ... zero bytes, made once.
    static const auto steps = [&] {
        Step bit{};
        for (std::size_t i = 0; i < 15; ++i) {
            bit[i] = static_cast<std::uint16_t>(1u << (i + 1));
        }
        bit[15] = 0x8005;
        std::array<Step, 64> powers{};
        powers[0] = square(square(square(bit)));
        for (std::size_t k = 1; k < powers.size(); ++k) {
            powers[k] = square(powers[k - 1]);
        }
        return powers;
    }();
    for (std::size_t k = 0; count != 0; ++k, count >>= 1) {
        if ((count & 1) != 0) {
            crc = apply(steps[k], crc);
        }
    }
    return crc;
}

// One frame as the encoder of a segment wrote it, given its number in the whole stream. False when
// the bytes are not a frame of a fixed block size.
bool AppendRenumbered(QByteArray& out, const std::uint8_t* frame, std::size_t size, std::uint64_t number) {
    if (size < 8 || frame[0] != 0xFF || frame[1] != 0xF8) {
        return false;
    }
    const int blockCode = frame[2] >> 4;
    const int rateCode = frame[2] & 0x0F;
    const std::size_t numberEnd = 4 + static_cast<std::size_t>(CodedNumberLength(frame[4]));
    const std::size_t headerEnd = numberEnd +
                                  (blockCode == 6   ? 1
                                   : blockCode == 7 ? 2
                                                    : 0) +
                                  (rateCode == 12                       ? 1
                                   : (rateCode == 13 || rateCode == 14) ? 2
                                                                        : 0);
    if (headerEnd + 3 > size) {
        return false;
    }
    const qsizetype start = out.size();
    out.append(reinterpret_cast<const char*>(frame), 4);
    out.append(CodedNumber(number));
    out.append(reinterpret_cast<const char*>(frame + numberEnd),
               static_cast<qsizetype>(headerEnd - numberEnd));
    const auto* header = reinterpret_cast<const std::uint8_t*>(out.constData() + start);
    out.append(static_cast<char>(Crc8(header, static_cast<std::size_t>(out.size() - start))));
    const auto newHeaderSize = static_cast<std::size_t>(out.size() - start);
    // The subframes, without the old header's checksum and the old frame checksum.
    const std::size_t bodySize = size - headerEnd - 3;
    out.append(reinterpret_cast<const char*>(frame + headerEnd + 1), static_cast<qsizetype>(bodySize));
    // The frame's checksum follows from the encoder's, which covered the same subframes behind the
    // old header: only the two headers are read, not the whole frame again.
    const auto oldCrc = static_cast<std::uint16_t>(frame[size - 2] << 8 | frame[size - 1]);
    const std::uint16_t headers =
        Crc16(frame, headerEnd + 1) ^
        Crc16(reinterpret_cast<const std::uint8_t*>(out.constData() + start), newHeaderSize);
    PutBE(out, static_cast<std::uint16_t>(oldCrc ^ Crc16AfterZeros(headers, bodySize)), 2);
    return true;
}

struct Segment {
    QByteArray bytes;
    std::vector<std::uint32_t> frameSizes;
    QString error;
};

struct SegmentWriter {
    Segment& segment;
    std::uint64_t nextNumber = 0;
    bool malformed = false;
};

FLAC__StreamEncoderWriteStatus CollectFrame(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                            size_t bytes, uint32_t samples, uint32_t, void* data) {
    auto* writer = static_cast<SegmentWriter*>(data);
    if (samples == 0) {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;  // the segment's own metadata
    }
    const qsizetype before = writer->segment.bytes.size();
    if (!AppendRenumbered(writer->segment.bytes, buffer, bytes, writer->nextNumber++)) {
        writer->malformed = true;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    writer->segment.frameSizes.push_back(static_cast<std::uint32_t>(writer->segment.bytes.size() - before));
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

// The first count samples of pcm as libFLAC takes them, into samples.
void ToSamples(const PcmFormat& format, const char* pcm, std::size_t count,
               std::vector<FLAC__int32>& samples) {
    if (samples.size() < count) {
        samples.resize(count);
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm);
    FLAC__int32* out = samples.data();
    switch (format.bits) {
        case 8:
            for (std::size_t i = 0; i < count; ++i) {
                out[i] = static_cast<int>(p[i]) - 128;
            }
            break;
        case 16: {
            // Read as little-endian 16-bit words, eight at a time so the compiler widens them at once.
            std::size_t i = 0;
            for (; i + 8 <= count; i += 8) {
                std::array<std::int16_t, 8> words{};
                std::memcpy(words.data(), pcm + 2 * i, sizeof(words));
                for (std::size_t k = 0; k < words.size(); ++k) {
                    out[i + k] = words[k];
                }
            }
            for (; i < count; ++i) {
                std::int16_t word = 0;
                std::memcpy(&word, pcm + 2 * i, 2);
                out[i] = word;
            }
            break;
        }
        case 24:
            for (std::size_t i = 0; i < count; ++i, p += 3) {
                out[i] = static_cast<std::int32_t>(
                             static_cast<std::uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) >>
                         8;
            }
            break;
        default:
            for (std::size_t i = 0; i < count; ++i, p += 4) {
                out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | p[1] << 8 | p[2] << 16 |
                                                   static_cast<std::uint32_t>(p[3]) << 24);
            }
            break;
    }
}

// Encodes frames frames of pcm into segment, whose buffers are kept from the segment before. The
// samples are unpacked a block at a time, into a buffer that stays in the cache.
void EncodeSegment(const PcmFormat& format, int level, const char* pcm, std::uint32_t frames,
                   std::uint64_t firstNumber, Segment& segment) {
    segment.bytes.resize(0);
    segment.frameSizes.clear();
    segment.error.clear();
    SegmentWriter writer{segment, firstNumber};
    const EncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder ||
        !FLAC__stream_encoder_set_channels(encoder.get(), static_cast<uint32_t>(format.channels)) ||
        !FLAC__stream_encoder_set_bits_per_sample(encoder.get(), static_cast<uint32_t>(format.bits)) ||
        !FLAC__stream_encoder_set_sample_rate(encoder.get(), static_cast<uint32_t>(format.sampleRate)) ||
        !FLAC__stream_encoder_set_compression_level(encoder.get(), static_cast<uint32_t>(level)) ||
        !FLAC__stream_encoder_set_blocksize(encoder.get(), kBlockSize) ||
        !FLAC__stream_encoder_set_streamable_subset(encoder.get(), format.bits <= 24) ||
        !FLAC__stream_encoder_set_do_md5(encoder.get(), false) ||
        !FLAC__stream_encoder_set_total_samples_estimate(encoder.get(), frames) ||
        FLAC__stream_encoder_init_stream(encoder.get(), CollectFrame, nullptr, nullptr, nullptr, &writer) !=
            FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        segment.error = QStringLiteral("the FLAC encoder does not take %1 Hz, %2 channels, %3 bits")
                            .arg(format.sampleRate)
                            .arg(format.channels)
                            .arg(format.bits);
        return;
    }
    const auto frameBytes = static_cast<std::size_t>(format.bits / 8 * format.channels);
    std::vector<FLAC__int32> samples;
    bool encoded = true;
    for (std::uint32_t done = 0; done < frames && encoded; done += kBlockSize) {
        const std::uint32_t count = std::min(kBlockSize, frames - done);
        ToSamples(format, pcm + done * frameBytes, static_cast<std::size_t>(count) * format.channels,
                  samples);
        encoded = FLAC__stream_encoder_process_interleaved(encoder.get(), samples.data(), count) != 0;
    }
    const bool finished = FLAC__stream_encoder_finish(encoder.get()) != 0;
    if (!encoded || !finished || writer.malformed) {
        segment.error =
            QStringLiteral("the FLAC encoder failed: %1")
                .arg(QLatin1String(FLAC__stream_encoder_get_resolved_state_string(encoder.get())));
    }
}

// FLAC's checksum is of the signed samples; unsigned 8-bit PCM differs from them in its top bit.
void AddToChecksum(QCryptographicHash& md5, const PcmFormat& format, const char* pcm, std::size_t size) {
    if (format.bits != 8) {
        md5.addData(QByteArrayView(pcm, static_cast<qsizetype>(size)));
        return;
    }
    QByteArray flipped(pcm, static_cast<qsizetype>(size));
    for (char& c : flipped) {
        c = static_cast<char>(c ^ 0x80);
    }
    md5.addData(flipped);
}

bool ReadFully(const PcmRead& read, char* data, std::int64_t size) {
    std::int64_t filled = 0;
    while (filled < size) {
        const std::int64_t got = read(data + filled, size - filled);
        if (got <= 0) {
            return false;
        }
        filled += got;
    }
    return true;
}

bool Write(QIODevice& out, const QByteArray& bytes) {
    return out.write(bytes) == bytes.size();
}

// Everything before the first frame: the stream information, the seek table (where the device can
// seek) for totalFrames with the frames' offsets where known, the comments, the pictures, the padding.
QByteArray Head(const PcmFormat& format, std::uint64_t totalFrames, const StreamTotals& totals,
                const std::vector<std::uint64_t>& frameOffsets, const Metadata& metadata, bool seekable,
                qsizetype padding) {
    QByteArray head = QByteArrayLiteral("fLaC");
    PutBlock(head, kStreamInfo, StreamInfo(format, totalFrames, totals), false);
    const std::vector<std::uint64_t> seekFrames =
        seekable ? SeekFrames(format, totalFrames) : std::vector<std::uint64_t>{};
    if (!seekFrames.empty()) {
        PutBlock(head, kSeekTable, SeekTable(seekFrames, frameOffsets, totalFrames), false);
    }
    PutBlock(head, kVorbisComment, VorbisCommentBody(metadata.comments), false);
    for (const Picture& picture : metadata.pictures) {
        const QByteArray body = PictureBody(picture);
        if (static_cast<std::uint32_t>(body.size()) <= kMaxBlockLength) {
            PutBlock(head, kPicture, body, false);
        }
    }
    PutBlock(head, kPadding, QByteArray(padding, '\0'), true);
    return head;
}

// Moves the bytes from from to end of out shift bytes on, the last ones first.
bool MoveOn(QIODevice& out, qint64 from, qint64 end, qint64 shift) {
    constexpr qint64 kChunk = qint64{1} << 20;
    for (qint64 stop = end; stop > from;) {
        const qint64 start = std::max(from, stop - kChunk);
        if (!out.seek(start)) {
            return false;
        }
        const QByteArray chunk = out.read(stop - start);
        if (chunk.size() != stop - start || !out.seek(start + shift) || !Write(out, chunk)) {
            return false;
        }
        stop = start;
    }
    return true;
}

}  // namespace

std::uint8_t Crc8(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            auto c = static_cast<std::uint8_t>(i);
            for (int bit = 0; bit < 8; ++bit) {
                c = static_cast<std::uint8_t>((c & 0x80) != 0 ? (c << 1) ^ 0x07 : c << 1);
            }
            t[static_cast<std::size_t>(i)] = c;
        }
        return t;
    }();
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[crc ^ data[i]];
    }
    return crc;
}

QByteArray VorbisCommentBody(const QStringList& comments) {
    QByteArray body;
    const QByteArray vendor = QByteArrayLiteral("Wavestitch " WAVESTITCH_VERSION);
    PutLE32(body, static_cast<std::uint32_t>(vendor.size()));
    body.append(vendor);
    PutLE32(body, static_cast<std::uint32_t>(comments.size()));
    for (const QString& comment : comments) {
        const QByteArray text = comment.toUtf8();
        PutLE32(body, static_cast<std::uint32_t>(text.size()));
        body.append(text);
    }
    return body;
}

QByteArray PictureBody(const Picture& picture) {
    QByteArray body;
    const QByteArray mime = picture.mimeType.toLatin1();
    const QByteArray description = picture.description.toUtf8();
    PutBE(body, static_cast<std::uint32_t>(picture.type), 4);
    PutBE(body, static_cast<std::uint32_t>(mime.size()), 4);
    body.append(mime);
    PutBE(body, static_cast<std::uint32_t>(description.size()), 4);
    body.append(description);
    body.append(QByteArray(16, '\0'));  // width, height, depth, colours
    PutBE(body, static_cast<std::uint32_t>(picture.data.size()), 4);
    body.append(picture.data);
    return body;
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            auto c = static_cast<std::uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit) {
                c = static_cast<std::uint16_t>((c & 0x8000) != 0 ? (c << 1) ^ 0x8005 : c << 1);
            }
            t[static_cast<std::size_t>(i)] = c;
        }
        return t;
    }();
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

struct StreamEncoder::Work {
    QByteArray pcm;  // a segment's room, filled from the start
    std::uint64_t frames = 0;
    std::uint64_t firstNumber = 0;
    Segment segment;
    std::future<void> done;
};

struct StreamEncoder::Impl {
    Impl(const PcmFormat& pcm, QIODevice& device, const EncodeOptions& chosen, Progress told)
        : format(pcm),
          out(device),
          options(chosen),
          progress(std::move(told)),
          seekable(!device.isSequential()),
          threads(chosen.threads > 0 ? chosen.threads
                                     : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))),
          frameBytes(static_cast<std::size_t>(pcm.bits / 8 * pcm.channels)),
          segmentBytes(static_cast<qsizetype>(
              kBlockSize * static_cast<std::uint64_t>(std::max(1, chosen.segmentBlocks)) * frameBytes)) {
        totals.minFrameBytes = 0xFFFFFF;
    }

    bool Failed() const { return !result.error.isEmpty() || result.cancelled; }

    // The bytes the next segment takes. The first segments are short, so the encoders start at once,
    // and so are the last ones expected, so the encoders end together (audio beyond what was expected
    // goes in whole segments again): where the segments are cut does not change the frames.
    std::size_t SegmentLimit() const {
        constexpr std::uint64_t kShortest = 16;
        const auto longest = static_cast<std::uint64_t>(segmentBytes) / frameBytes / kBlockSize;
        std::uint64_t blocks = std::min(longest, kShortest << std::min<std::uint64_t>(nextSegment, 16));
        if (expected > frames) {
            const std::uint64_t left = (expected - frames) / kBlockSize;
            blocks = std::min(blocks, std::max(kShortest, left / (2 * static_cast<std::uint64_t>(threads))));
        }
        return static_cast<std::size_t>(std::min(blocks, longest) * kBlockSize) * frameBytes;
    }

    // The segment being filled, its room made or taken from one written before.
    Work& Filling() {
        if (!filling) {
            if (spare.empty()) {
                filling = std::make_unique<Work>();
                filling->pcm = QByteArray(segmentBytes, Qt::Uninitialized);
            } else {
                filling = std::move(spare.back());
                spare.pop_back();
            }
            filled = 0;
        }
        return *filling;
    }

    // Hands the whole frames of the segment being filled to an encoder of their own, and writes the
    // segments before it in order while too many are being encoded.
    void Dispatch() {
        std::unique_ptr<Work> work = std::move(filling);
        work->frames = filled / frameBytes;
        work->firstNumber = nextNumber;
        nextNumber += (work->frames + kBlockSize - 1) / kBlockSize;
        ++nextSegment;
        frames += work->frames;
        const std::size_t bytes = work->frames * frameBytes;
        AddToChecksum(md5, format, work->pcm.constData(), bytes);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++encoding;
        }
        work->done = std::async(std::launch::async, [this, w = work.get()] {
            EncodeSegment(format, options.level, w->pcm.constData(), static_cast<std::uint32_t>(w->frames),
                          w->firstNumber, w->segment);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                --encoding;
            }
            encoded.notify_one();
        });
        pending.push_back(std::move(work));
        // On while an encoder is free, or about to be: the next segment is read while every encoder is
        // at work, so none waits for it. A segment that takes longer than those after it holds up only
        // the writing, until a few more wait behind it.
        const std::size_t busy = static_cast<std::size_t>(threads) + 1;
        for (;;) {
            while (!pending.empty() &&
                   pending.front()->done.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
                WriteFront();
            }
            if (pending.size() > 2 * static_cast<std::size_t>(threads)) {
                WriteFront();
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex);
            if (encoding < busy) {
                break;
            }
            encoded.wait(lock, [this, busy] { return encoding < busy; });
        }
    }

    void WriteFront() {
        std::unique_ptr<Work> work = std::move(pending.front());
        pending.pop_front();
        work->done.get();
        const Segment& segment = work->segment;
        if (!Failed() && !segment.error.isEmpty()) {
            result.error = segment.error;
        } else if (!Failed()) {
            for (const std::uint32_t size : segment.frameSizes) {
                frameOffsets.push_back(streamBytes);
                streamBytes += size;
                totals.minFrameBytes = std::min(totals.minFrameBytes, size);
                totals.maxFrameBytes = std::max(totals.maxFrameBytes, size);
            }
            if (!Write(out, segment.bytes)) {
                result.error = out.errorString();
            } else {
                written += work->frames;
                if (progress && !progress(written)) {
                    result.cancelled = true;
                }
            }
        }
        spare.push_back(std::move(work));
    }

    void Drain() {
        while (!pending.empty()) {
            WriteFront();
        }
    }

    PcmFormat format;
    QIODevice& out;
    EncodeOptions options;
    Progress progress;
    bool seekable;
    int threads;
    std::size_t frameBytes;
    qsizetype segmentBytes;

    qint64 headAt = 0;
    QByteArray head;  // as Begin wrote it
    EncodeResult result;
    QCryptographicHash md5{QCryptographicHash::Md5};
    StreamTotals totals;
    std::uint64_t streamBytes = 0;
    std::vector<std::uint64_t> frameOffsets;
    std::uint64_t frames = 0;  // handed to encoders
    std::uint64_t written = 0;
    std::uint64_t nextNumber = 0;
    std::uint64_t nextSegment = 0;
    std::uint64_t expected = 0;  // frames in all, as Begin was told
    std::unique_ptr<Work> filling;
    std::size_t filled = 0;
    std::deque<std::unique_ptr<Work>> pending;
    std::vector<std::unique_ptr<Work>> spare;
    std::mutex mutex;
    std::condition_variable encoded;
    std::size_t encoding = 0;  // segments at an encoder, under mutex
};

StreamEncoder::StreamEncoder(const PcmFormat& format, QIODevice& out, const EncodeOptions& options,
                             Progress progress)
    : impl_(std::make_unique<Impl>(format, out, options, std::move(progress))) {}

StreamEncoder::~StreamEncoder() {
    // Nothing more is written: the segments in flight are only waited for.
    impl_->result.cancelled = true;
    impl_->Drain();
}

bool StreamEncoder::Begin(std::uint64_t expectedFrames, const Metadata& metadata) {
    Impl& d = *impl_;
    d.expected = expectedFrames;
    d.headAt = d.out.pos();
    d.head = Head(d.format, expectedFrames, {}, {}, metadata, d.seekable, d.seekable ? kPaddingBytes : 0);
    if (!Write(d.out, d.head)) {
        d.result.error = d.out.errorString();
    }
    return !d.Failed();
}

bool StreamEncoder::Push(const char* data, std::size_t size) {
    Impl& d = *impl_;
    while (size > 0 && !d.Failed()) {
        Work& work = d.Filling();
        const std::size_t limit = d.SegmentLimit();
        const std::size_t part = std::min(size, limit - std::min(limit, d.filled));
        std::memcpy(work.pcm.data() + d.filled, data, part);
        d.filled += part;
        data += part;
        size -= part;
        if (d.filled >= limit) {
            d.Dispatch();
        }
    }
    return !d.Failed();
}

EncodeResult StreamEncoder::Finish(const Metadata& metadata) {
    Impl& d = *impl_;
    if (d.filling && d.filled >= d.frameBytes && !d.Failed()) {
        d.Dispatch();
    }
    d.Drain();
    if (d.Failed() || !d.seekable) {
        d.result.ok = !d.Failed();
        return d.result;
    }
    // The end: the stream information and the seek table complete, the comments as they are now.
    d.totals.md5 = d.md5.result();
    if (d.totals.minFrameBytes > d.totals.maxFrameBytes) {
        d.totals.minFrameBytes = 0;
    }
    const qint64 end = d.out.pos();
    QByteArray head = Head(d.format, d.frames, d.totals, d.frameOffsets, metadata, true, 0);
    bool done = false;
    if (head.size() <= d.head.size()) {
        head =
            Head(d.format, d.frames, d.totals, d.frameOffsets, metadata, true, d.head.size() - head.size());
        // Only what changed is written again.
        qsizetype first = 0;
        while (first < head.size() && head[first] == d.head[first]) {
            ++first;
        }
        qsizetype last = head.size();
        while (last > first && head[last - 1] == d.head[last - 1]) {
            --last;
        }
        done = d.out.seek(d.headAt + first) && Write(d.out, head.mid(first, last - first)) && d.out.seek(end);
    } else {
        // The audio makes way for the head, with the usual padding after it.
        head = Head(d.format, d.frames, d.totals, d.frameOffsets, metadata, true, kPaddingBytes);
        const qint64 shift = head.size() - d.head.size();
        done = MoveOn(d.out, d.headAt + d.head.size(), end, shift) && d.out.seek(d.headAt) &&
               Write(d.out, head) && d.out.seek(end + shift);
    }
    if (!done) {
        d.result.error = d.out.errorString();
        return d.result;
    }
    d.head = head;
    d.result.ok = true;
    return d.result;
}

const EncodeResult& StreamEncoder::State() const {
    return impl_->result;
}

std::uint64_t StreamEncoder::Frames() const {
    return impl_->frames + (impl_->filling ? impl_->filled / impl_->frameBytes : 0);
}

EncodeResult EncodeFlac(const PcmFormat& format, std::uint64_t totalFrames, const PcmRead& read,
                        QIODevice& out, const Metadata& metadata, const EncodeOptions& options,
                        const Progress& progress) {
    StreamEncoder encoder(format, out, options, progress);
    if (!encoder.Begin(totalFrames, metadata)) {
        return encoder.State();
    }
    // Read straight into the segments' room.
    StreamEncoder::Impl& d = *encoder.impl_;
    std::uint64_t taken = 0;
    while (taken < totalFrames && !d.Failed()) {
        const std::uint64_t frames =
            std::min<std::uint64_t>(d.SegmentLimit() / d.frameBytes, totalFrames - taken);
        StreamEncoder::Work& work = d.Filling();
        if (!ReadFully(read, work.pcm.data(), static_cast<std::int64_t>(frames * d.frameBytes))) {
            d.result.error = QStringLiteral("the joined audio ended before its %1 frames").arg(totalFrames);
            d.filling.reset();
            break;
        }
        d.filled = frames * d.frameBytes;
        taken += frames;
        d.Dispatch();
    }
    return encoder.Finish(metadata);
}

}  // namespace flac
