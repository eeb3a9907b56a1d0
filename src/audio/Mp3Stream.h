// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/DecodeStream.h"
#include "audio/Decoder.h"
#include "platform/FilePath.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace audio::detail {

// Making a libmpg123 handle costs more than opening a file, finding its format and decoding its first
// frames with one: a list of thousands of files reuses a few handles, each closed and set back to
// libmpg123's defaults in between.
class Mpg123Handles {
public:
    static mpg123_handle* Take() {
        Mpg123Handles& pool = Pool();
        {
            std::lock_guard lock(pool.mutex_);
            if (!pool.idle_.empty()) {
                mpg123_handle* mh = pool.idle_.back();
                pool.idle_.pop_back();
                return mh;
            }
        }
        return Make();
    }

    static void Give(mpg123_handle* mh) {
        if (mh == nullptr) {
            return;
        }
        mpg123_close(mh);
        Mpg123Handles& pool = Pool();
        if (pool.Reset(mh)) {
            std::lock_guard lock(pool.mutex_);
            if (pool.idle_.size() < kKept) {
                pool.idle_.push_back(mh);
                return;
            }
        }
        mpg123_delete(mh);
    }

private:
    // The window's thread and the join's decoder working ahead use one or two at a time.
    static constexpr std::size_t kKept = 4;

    // The defaults are those of a new handle, which is then the first one kept.
    Mpg123Handles() {
        mpg123_handle* mh = Make();
        double unused = 0;
        known_ = mh != nullptr && mpg123_getparam(mh, MPG123_FLAGS, &flags_, &unused) == MPG123_OK &&
                 mpg123_getparam(mh, MPG123_RESYNC_LIMIT, &resyncLimit_, &unused) == MPG123_OK;
        if (mh != nullptr) {
            idle_.push_back(mh);
        }
    }

    static Mpg123Handles& Pool() {
        // Never destroyed: streams still open at exit give their handles back after static clean-up.
        static auto* const pool = new Mpg123Handles;
        return *pool;
    }

    static mpg123_handle* Make() {
        int err = MPG123_OK;
        return mpg123_new(nullptr, &err);
    }

    bool Reset(mpg123_handle* mh) const {
        return known_ && mpg123_param(mh, MPG123_FLAGS, flags_, 0.0) == MPG123_OK &&
               mpg123_param(mh, MPG123_RESYNC_LIMIT, resyncLimit_, 0.0) == MPG123_OK &&
               mpg123_format_all(mh) == MPG123_OK;
    }

    bool known_ = false;
    long flags_ = 0;
    long resyncLimit_ = 0;
    std::mutex mutex_;
    std::vector<mpg123_handle*> idle_;
};

struct Mpg123Return {
    void operator()(mpg123_handle* p) const { Mpg123Handles::Give(p); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Return>;

// libmpg123 before 1.27 needs its global set-up; later versions treat this as a no-op.
inline bool Mpg123Ready() {
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

// An MP3 (or MPEG layer 1/2) file decoded by libmpg123. The length is exact, with encoder delay and
// padding trimmed: it comes from the encoder's Info frame when that frame accounts for every byte of
// audio in the file, and otherwise from a scan of every frame header at opening.
class Mp3Stream final : public DecodeStream {
public:
    static std::unique_ptr<DecodeStream> Open(const QString& path) {
        const Start start = Mpg123Ready() ? StartOf(path) : Start::NotMpeg;
        if (start == Start::NotMpeg) {
            return nullptr;
        }
        Mpg123Ptr mh(Mpg123Handles::Take());
        if (!mh || !Configure(mh.get()) ||
            (start == Start::UntrustedInfoFrame &&
             mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0.0) != MPG123_OK)) {
            return nullptr;
        }
        const QByteArray name = platform::EncodeName(path);
        long rate = 0;
        int chans = 0;
        int encoding = 0;
        // Fixing the output to the first frame's format makes libmpg123 convert any later frames of
        // another rate or channel count, so the stream keeps one format from start to end. The fix
        // applies to the open file: opening it again would only read its first frames once more.
        if (mpg123_open(mh.get(), name.constData()) != MPG123_OK ||
            mpg123_getformat(mh.get(), &rate, &chans, &encoding) != MPG123_OK || rate <= 0 ||
            (chans != 1 && chans != 2) || mpg123_format_none(mh.get()) != MPG123_OK ||
            mpg123_format(mh.get(), rate, chans, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            return nullptr;
        }
        // Without a scan, libmpg123 takes the frame count from the Info frame, also for its gapless end.
        if (start != Start::WholeInfoFrame && mpg123_scan(mh.get()) != MPG123_OK) {
            return nullptr;
        }
        // Random bytes can pass for a header now and then; a stream needs frames and audio in them.
        const off_t samples = mpg123_length(mh.get());
        if (samples <= 0 || mpg123_framelength(mh.get()) <= 0) {
            return nullptr;
        }
        const std::uint64_t bytes =
            static_cast<std::uint64_t>(samples) * static_cast<std::uint64_t>(chans) * 2;
        std::unique_ptr<Mp3Stream> stream(new Mp3Stream(std::move(mh), static_cast<std::uint32_t>(rate),
                                                        static_cast<std::uint32_t>(chans), bytes));
        if (!stream->Prime()) {
            return nullptr;
        }
        return stream;
    }

protected:
    bool DecodeMore(std::vector<std::uint8_t>& out) override {
        // NEW_FORMAT and empty reads make no progress; a file cannot produce many in a row, so the
        // bound only guards against a decoder that stops advancing.
        constexpr int kMaxIdleReads = 64;
        constexpr std::size_t kBlockBytes = 32768;
        // The first block only shows that the file decodes: a list of thousands of files probes
        // each of them, and a frame of audio is enough for that.
        constexpr std::size_t kFirstBlockBytes = 1152 * 2 * 2;
        for (int i = 0; i < kMaxIdleReads; ++i) {
            out.resize(primed_ ? kBlockBytes : kFirstBlockBytes);
            std::size_t done = 0;
            const int rc = mpg123_read(mh_.get(), out.data(), out.size(), &done);
            out.resize(done - done % FrameBytes());
            if (!out.empty()) {
                primed_ = true;
                return true;
            }
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
                // MPG123_DONE, or an error after the audio (trailing garbage, a cut-off last frame):
                // both end the stream.
                return false;
            }
        }
        return false;
    }

private:
    Mp3Stream(Mpg123Ptr mh, std::uint32_t rate, std::uint32_t chans, std::uint64_t lengthBytes)
        : DecodeStream(rate, chans, CTYPE_MP3, lengthBytes, true), mh_(std::move(mh)) {}

    static bool Configure(mpg123_handle* mh) {
        // Gapless trims the encoder delay and padding of the LAME/Info tag. A second Info frame, as in
        // two MP3 files joined by plain concatenation, must not end the stream, so no
        // MPG123_NO_FRANKENSTEIN. An unlimited resync lets trailing junk end the stream cleanly.
        // ID3v2 tags are read by the tag reader; libmpg123 only needs to step over them, however large
        // their pictures.
        return mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0) ==
                   MPG123_OK &&
               mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_NO_FRANKENSTEIN, 0.0) == MPG123_OK &&
               mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0.0) == MPG123_OK;
    }

    // One frame as libmpg123's parser found it: where it starts in the file and what kind it is.
    struct Frame {
        off_t pos = 0;
        mpg123_frameinfo2 info{};
        bool SameKind(const Frame& other) const {
            return info.version == other.info.version && info.layer == other.info.layer &&
                   info.rate == other.info.rate;
        }
        off_t End() const { return pos + info.framesize; }
    };

    static bool NextFrame(mpg123_handle* mh, Frame& frame) {
        const int rc = mpg123_framebyframe_next(mh);
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            return false;
        }
        frame.pos = mpg123_framepos(mh);
        return mpg123_info(mh, &frame.info) == MPG123_OK && frame.info.framesize > 0;
    }

    // WholeInfoFrame: an Info frame whose byte count is the file's audio, so its frame count can be
    // believed; a second file appended, a cut or a rewrite after encoding would change that size.
    enum class Start { NotMpeg, Frames, InfoFrame, WholeInfoFrame, UntrustedInfoFrame };

    // Any file has bytes that pass for a frame header now and then, and libmpg123 takes a free-format
    // size from the distance to the next such bytes, so an AAC or MP4 file named .mp3 would decode to
    // noise. MPEG audio shows itself by frames of one kind that follow each other without a gap, or
    // by an encoder's Info frame in front.
    static Start StartOf(const QString& path) {
        constexpr int kFramesToFollow = 3;
        Mpg123Ptr mh(Mpg123Handles::Take());
        Frame first;
        if (!mh || !Configure(mh.get()) ||
            mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0.0) != MPG123_OK ||
            mpg123_open(mh.get(), platform::EncodeName(path).constData()) != MPG123_OK ||
            !NextFrame(mh.get(), first)) {
            return Start::NotMpeg;
        }
        if (const std::optional<InfoCounts> claimed = InfoFrameCount(mh.get(), first.info)) {
            // A frame takes more than 16 bytes. libmpg123 works out the length of a stream whose rate
            // changes with a loop over every frame the tag claims, so a damaged count of billions
            // would hold the open for a minute: such a tag is not believed.
            if (static_cast<qint64>(claimed->frames) > platform::FileStatus(path).Size() / 16) {
                return Start::UntrustedInfoFrame;
            }
            // libmpg123 reads no VBRI frame, so only a Xing/Info count can stand for a scan.
            const off_t audioEnd = AudioEnd(path);
            return claimed->xing && claimed->frames > 0 && claimed->bytes > 0 &&
                           static_cast<off_t>(claimed->bytes) == audioEnd - first.pos &&
                           LastFrameMatches(path, first.pos, audioEnd)
                       ? Start::WholeInfoFrame
                       : Start::InfoFrame;
        }
        off_t end = first.End();
        for (int i = 0; i < kFramesToFollow; ++i) {
            Frame next;
            if (!NextFrame(mh.get(), next)) {
                // A stream of a frame or two: its frames must take the file up to its tags.
                return end == AudioEnd(path) ? Start::Frames : Start::NotMpeg;
            }
            if (next.pos != end || !next.SameKind(first)) {
                return Start::NotMpeg;
            }
            end = next.End();
        }
        return Start::Frames;
    }

    struct InfoCounts {
        bool xing = false;  // false: a VBRI frame
        std::uint32_t frames = 0;
        std::uint32_t bytes = 0;  // from the Info frame to the end of the audio
    };

    // The frame and byte counts that the Xing/Info frame of LAME and others, or the Fraunhofer VBRI
    // frame, states (0 when it states none); nothing when the frame is audio.
    static std::optional<InfoCounts> InfoFrameCount(mpg123_handle* mh, const mpg123_frameinfo2& info) {
        unsigned char* body = nullptr;
        std::size_t bytes = 0;
        if (info.layer != 3 || mpg123_framedata(mh, nullptr, &body, &bytes) != MPG123_OK || !body) {
            return std::nullopt;
        }
        const auto tagAt = [&](std::size_t at, const char* tag) {
            return at + 4 <= bytes && std::memcmp(body + at, tag, 4) == 0;
        };
        const auto wordAt = [&](std::size_t at) {
            return at + 4 <= bytes ? qFromBigEndian<quint32>(body + at) : 0u;
        };
        const bool mono = info.mode == MPG123_M_MONO;
        const std::size_t sideInfo = info.version == MPG123_1_0 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        // The tag follows the side information; LAME leaves no room for the checksum in front of it.
        const std::size_t crc = (info.flags & MPG123_CRC) != 0 ? 2 : 0;
        for (const std::size_t at : {sideInfo, sideInfo + crc}) {
            if (tagAt(at, "Xing") || tagAt(at, "Info")) {
                // Each count is there only when its flag is set, one after the other.
                constexpr quint32 kHasFrames = 1;
                constexpr quint32 kHasBytes = 2;
                const quint32 flags = wordAt(at + 4);
                const bool hasFrames = (flags & kHasFrames) != 0;
                return InfoCounts{true, hasFrames ? wordAt(at + 8) : 0u,
                                  (flags & kHasBytes) != 0 ? wordAt(at + (hasFrames ? 12 : 8)) : 0u};
            }
        }
        if (tagAt(32, "VBRI")) {
            return InfoCounts{false, wordAt(32 + 14), wordAt(32 + 10)};
        }
        return std::nullopt;
    }

    // A Layer III frame header's kind (rate and whether mono, in one number) and its frame size;
    // nothing for other layers, free format or bytes that are no header.
    struct Layer3Kind {
        int kind = 0;
        qint64 bytes = 0;
    };
    static std::optional<Layer3Kind> Layer3Header(const char* at) {
        const quint32 h = qFromBigEndian<quint32>(at);
        const unsigned version = (h >> 19) & 3;  // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
        const unsigned layer = (h >> 17) & 3;    // 1: Layer III
        const unsigned bitrateIndex = (h >> 12) & 15;
        const unsigned rateIndex = (h >> 10) & 3;
        if ((h >> 21) != 0x7ff || version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
            rateIndex == 3) {
            return std::nullopt;
        }
        static constexpr int kKbps[2][15] = {
            {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
        static constexpr int kRates[3] = {44100, 48000, 32000};
        const bool mpeg1 = version == 3;
        const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
        const bool mono = ((h >> 6) & 3) == 3;
        return Layer3Kind{
            rate * 2 + (mono ? 1 : 0),
            (mpeg1 ? 144 : 72) * 1000 * kKbps[mpeg1 ? 0 : 1][bitrateIndex] / rate + ((h >> 9) & 1)};
    }

    // Files joined and then given one new Info frame have a right byte count but a frame count in
    // more than one rate. The last frame, the one that ends the audio, must be of the Info frame's
    // kind; free format, whose size no header gives, is left to the scan.
    static bool LastFrameMatches(const QString& path, off_t infoPos, off_t audioEnd) {
        constexpr qint64 kLongestFrame = 1441;
        QFile file;
        if (!platform::OpenFile(file, path, QIODevice::ReadOnly) || !file.seek(infoPos)) {
            return false;
        }
        const QByteArray infoHeader = file.read(4);
        const qint64 tailPos = std::max<qint64>(infoPos + 4, audioEnd - kLongestFrame - 4);
        const std::optional<Layer3Kind> info =
            infoHeader.size() == 4 ? Layer3Header(infoHeader.constData()) : std::nullopt;
        if (!info || !file.seek(tailPos)) {
            return false;
        }
        const QByteArray tail = file.read(audioEnd - tailPos);
        bool matched = false;
        for (qsizetype i = 0; i + 4 <= tail.size(); ++i) {
            // Bytes inside a frame can pass for a header that happens to end there too; any kind
            // other than the Info frame's sends the file to the scan.
            const std::optional<Layer3Kind> last = Layer3Header(tail.constData() + i);
            if (last && i + last->bytes == tail.size()) {
                if (last->kind != info->kind) {
                    return false;
                }
                matched = true;
            }
        }
        return matched;
    }

    // Where the audio of the file ends: its size less an ID3v1 tag and an APE tag before it.
    static off_t AudioEnd(const QString& path) {
        QFile file;
        if (!platform::OpenFile(file, path, QIODevice::ReadOnly)) {
            return -1;
        }
        qint64 end = file.size();
        const auto bytesAt = [&](qint64 at, qint64 n) {
            return at >= 0 && file.seek(at) ? file.read(n) : QByteArray();
        };
        if (bytesAt(end - 128, 3) == "TAG") {
            end -= 128;
        }
        const QByteArray ape = bytesAt(end - 32, 32);
        if (ape.size() == 32 && ape.startsWith("APETAGEX")) {
            const auto word = [&](int at) { return qFromLittleEndian<quint32>(ape.constData() + at); };
            // The size counts the items and this footer; a header, when flagged, comes in front.
            end -= static_cast<qint64>(word(12)) + ((word(20) & 0x80000000u) != 0 ? 32 : 0);
        }
        return static_cast<off_t>(end);
    }

    Mpg123Ptr mh_;
    bool primed_ = false;
};

}  // namespace audio::detail
