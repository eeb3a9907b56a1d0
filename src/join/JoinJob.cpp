// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/JoinJob.h"

#include "audio/Decoder.h"
#include "audio/Dither.h"
#include "audio/FileProbe.h"
#include "audio/Waveinf.h"
#include "encode/Wavtomp3.h"
#include "encode/Wavtowma.h"
#include "join/DecodeAhead.h"
#include "join/JoinHost.h"
#include "join/Mp3Copy.h"
#include "join/OutputMetadata.h"
#include "join/PacedCopy.h"
#include "join/SampleConvert.h"
#include "join/WavOutput.h"
#include "platform/Descriptor.h"
#include "platform/FilePath.h"
#include "platform/SignalCleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace join {
namespace {

constexpr std::size_t kBlock = 10240;
constexpr std::size_t kWideBlock = 20480;

// The temporary PCM file of a join, held with an exclusive lock from creation to deletion, so a
// join given the same name (another job of this program) fails with a message instead of deleting
// or overwriting this one's data, and the clean-up of other copies of the program leaves it alone.
class TempPcm {
public:
    explicit TempPcm(QString path) : file_(std::move(path)) {}
    ~TempPcm() { file_.close(); }

    enum class Created { Yes, Locked, Failed };

    // Deletes the leftovers of joins that ended without cleaning up and creates the new file.
    // Locked when another join holds it; Failed when it cannot be created at all (a missing or
    // unwritable temporary folder).
    Created Create() {
        RemoveLeftovers(QFileInfo(file_.fileName()).absolutePath());
        onSignal_.emplace(QFile::encodeName(file_.fileName()));
        // Another copy's clean-up may delete the new file before it is locked; it is made again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!RemoveLeftover(file_.fileName())) {
                return Created::Locked;
            }
            if (!file_.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
                return Created::Failed;
            }
            // Nobody holds a file just made but a clean-up about to delete it, so waiting is short.
            if (flock(file_.handle(), LOCK_EX) != 0) {
                return Created::Failed;
            }
            if (StillNamed(file_)) {
                return Created::Yes;
            }
            file_.close();
        }
        return Created::Locked;
    }
    QFile& File() { return file_; }
    void Remove() { file_.remove(); }

    // False when another join holds the file.
    static bool RemoveLeftover(const QString& path) {
        if (QFile::exists(path)) {
            QFile old(path);
            if (old.open(QIODevice::ReadWrite) && flock(old.handle(), LOCK_EX | LOCK_NB) != 0) {
                return false;
            }
            if (!old.isOpen() || StillNamed(old)) {
                old.remove();
            }
        }
        return true;
    }

    static void RemoveLeftovers(const QString& folder) {
        const QDir dir(folder);
        const QStringList names =
            dir.entryList({QStringLiteral("AudioTemp*.pcm")}, QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            RemoveLeftover(dir.filePath(name));
        }
    }

private:
    // True while the file's name still leads to the open file, not deleted or made anew meanwhile.
    static bool StillNamed(const QFile& file) {
        struct stat held {};
        struct stat named {};
        return fstat(file.handle(), &held) == 0 &&
               stat(QFile::encodeName(file.fileName()).constData(), &named) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    QFile file_;
    std::optional<platform::RemovedOnSignal> onSignal_;
};

bool HasExtension(const QString& path, const char* extension) {
    return FileExtension(path).compare(QLatin1String(extension), Qt::CaseInsensitive) == 0;
}

std::uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// The bitrate the join asks the MP3 encoder for: low rates get no more than 64 kbps.
int Mp3RequestKbps(int targetSampleRate, int kbps) {
    return targetSampleRate <= 11025 && kbps > 64 ? 64 : kbps;
}

// Frames of the temporary file as the encoders take them: 16-bit, and at most two channels. Deeper
// samples are dithered down to 16 bits, in file order, so the blocks the encoders share out among
// their threads are the same on every run.
class EncoderFeed {
public:
    EncoderFeed(int channels, int bits, bool isFloat, int chunkBytes)
        : channels_(channels),
          bits_(bits),
          isFloat_(isFloat),
          deep_(bits > 16 || isFloat),
          bytesPerSample_(std::max((bits + 7) / 8, 1)),
          outChannels_(channels == 1 ? 1 : 2),
          frames_(static_cast<std::size_t>(chunkBytes) / (2 * static_cast<std::size_t>(outChannels_))),
          raw_(frames_ * static_cast<std::size_t>(channels_ * bytesPerSample_)),
          pcm_(frames_ * static_cast<std::size_t>(outChannels_)) {}

    // Reads the next chunk; the bytes taken from the file go to consumed. False at the end of the
    // file or on a read error (readFailed).
    bool Next(QFile& in, std::uint64_t& consumed, bool& readFailed) {
        const qint64 got = in.read(Raw(), static_cast<qint64>(RawBytes()));
        if (got <= 0) {
            readFailed = got < 0;
            return false;
        }
        consumed += static_cast<std::uint64_t>(got);
        Take(static_cast<std::size_t>(got));
        return true;
    }
    // Where the bytes of the next chunk go, RawBytes() of them at most, when they come from memory.
    char* Raw() { return Direct() ? reinterpret_cast<char*>(pcm_.data()) : raw_.data(); }
    std::size_t RawBytes() const { return raw_.size(); }
    // Makes the got bytes put at Raw() the chunk the encoder takes.
    void Take(std::size_t got) {
        const std::size_t frameBytes = static_cast<std::size_t>(channels_ * bytesPerSample_);
        frameCount_ = got / frameBytes;
        for (std::size_t f = 0; !Direct() && f < frameCount_; ++f) {
            std::int16_t* out = pcm_.data() + f * static_cast<std::size_t>(outChannels_);
            deep_ ? MixDeepFrame(raw_.data() + f * frameBytes, out)
                  : MixFrame(raw_.data() + f * frameBytes, out);
        }
    }
    std::uint64_t Clipped() const { return dither_.Clipped(); }
    const std::int16_t* Samples() const { return pcm_.data(); }
    int Bytes() const { return static_cast<int>(frameCount_ * static_cast<std::size_t>(outChannels_) * 2); }

private:
    // 16-bit mono or stereo is already what the encoders take: it is read straight into place.
    bool Direct() const { return !deep_ && bytesPerSample_ == 2 && channels_ <= 2; }

    int Sample(const char* frame, int channel) const {
        if (bytesPerSample_ == 1) {
            return Widen8To16(static_cast<std::uint8_t>(frame[channel]));
        }
        std::int16_t value = 0;
        std::memcpy(&value, frame + 2 * channel, 2);
        return value;
    }

    // More than two channels go down to stereo: the even channels to the left, the odd ones to the
    // right, averaged so nothing clips.
    void MixFrame(const char* frame, std::int16_t* out) const {
        if (channels_ <= 2) {
            for (int c = 0; c < channels_; ++c) {
                out[c] = static_cast<std::int16_t>(Sample(frame, c));
            }
            return;
        }
        int sums[2] = {0, 0};
        int counts[2] = {0, 0};
        for (int c = 0; c < channels_; ++c) {
            sums[c % 2] += Sample(frame, c);
            ++counts[c % 2];
        }
        out[0] = static_cast<std::int16_t>(sums[0] / counts[0]);
        out[1] = static_cast<std::int16_t>(sums[1] / counts[1]);
    }

    // The same for deeper samples, mixed before they are dithered.
    void MixDeepFrame(const char* frame, std::int16_t* out) {
        const auto level = [&](int c) {
            return Level(reinterpret_cast<const std::uint8_t*>(frame) + c * bytesPerSample_, bits_, isFloat_,
                         16);
        };
        if (channels_ <= 2) {
            for (int c = 0; c < channels_; ++c) {
                out[c] = static_cast<std::int16_t>(dither_.Reduce(level(c)));
            }
            return;
        }
        double sums[2] = {0, 0};
        int counts[2] = {0, 0};
        for (int c = 0; c < channels_; ++c) {
            sums[c % 2] += level(c);
            ++counts[c % 2];
        }
        out[0] = static_cast<std::int16_t>(dither_.Reduce(sums[0] / counts[0]));
        out[1] = static_cast<std::int16_t>(dither_.Reduce(sums[1] / counts[1]));
    }

    int channels_;
    int bits_;
    bool isFloat_;
    bool deep_;
    audio::Dither dither_{16};
    int bytesPerSample_;
    int outChannels_;
    std::size_t frames_;
    std::vector<char> raw_;
    std::vector<std::int16_t> pcm_;
    std::size_t frameCount_ = 0;
};

// Reads size bytes of the file fd from byte at on, on any thread; the bytes read (fewer only at the
// file's end), -1 on failure.
std::int64_t ReadAt(int fd, char* data, std::int64_t size, std::uint64_t at) {
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, data + done, static_cast<std::size_t>(size - done),
                                  static_cast<off_t>(at + static_cast<std::uint64_t>(done)));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

}  // namespace

// The MP3 or WMA encoder of an output, which takes 16-bit chunks of at most two channels.
class PushEncoder {
public:
    // Opens the encoder on output's file; the bytes of PCM each chunk takes, or 0 or less when it
    // cannot be opened (the adapter has told why).
    int Open(const JoinOutput& output, int sampleRate, int targetChannels) {
        // The encoders take at most two channels; wider targets are mixed down frame by frame.
        const int channels = targetChannels == 1 ? 1 : 2;
        if (output.kind == OutputKind::Mp3) {
            const int kbps = Mp3RequestKbps(sampleRate, output.mp3Kbps);
            mp3_ = std::make_unique<WavToMp3>();
            return mp3_->Init(output.path, sampleRate, channels == 2 ? 1 : 4, kbps, output.mp3Copyright,
                              output.mp3Crc, output.mp3Original, output.mp3Private, output.mp3Tag);
        }
        wma_ = std::make_unique<WavToWma>();
        return wma_->Init(output.path, sampleRate, channels, output.wmaBitrate);
    }
    bool IsMp3() const { return mp3_ != nullptr; }
    // False when the chunk could not be encoded or written; the MP3 adapter has shown its message,
    // the WMA writer says nothing of its own.
    bool Encode(const EncoderFeed& feed) {
        return mp3_ ? mp3_->EncodeChunk(feed.Samples(), feed.Bytes()) != -1
                    : wma_->WriteChunk(feed.Samples(), feed.Bytes());
    }
    // The MP3 adapter shows its own message when the end of the file cannot be written.
    bool Close() { return mp3_ ? mp3_->Close() : wma_->Close(); }

private:
    std::unique_ptr<WavToMp3> mp3_;
    std::unique_ptr<WavToWma> wma_;
};

namespace {

// Hands the joined PCM to an encoder as it comes, in the chunks the temporary file would have been
// read in, so the encoder sees the same chunks and makes the same file.
class EncoderSink : public PcmSink {
public:
    EncoderSink(EncoderFeed& feed, PushEncoder& encoder) : feed_(feed), encoder_(encoder) {}
    void Append(const char* data, std::size_t size) override {
        appended_ += size;
        while (size > 0 && !failed_) {
            const std::size_t part = std::min(size, feed_.RawBytes() - filled_);
            std::memcpy(feed_.Raw() + filled_, data, part);
            filled_ += part;
            data += part;
            size -= part;
            if (filled_ == feed_.RawBytes()) {
                Flush();
            }
        }
    }
    // Encodes the last, shorter chunk; false when any chunk failed.
    bool Finish() {
        if (filled_ > 0 && !failed_) {
            Flush();
        }
        return !failed_;
    }
    bool Failed() const { return failed_; }
    std::uint64_t Appended() const { return appended_; }

private:
    void Flush() {
        feed_.Take(filled_);
        filled_ = 0;
        failed_ = !encoder_.Encode(feed_);
    }

    EncoderFeed& feed_;
    PushEncoder& encoder_;
    std::size_t filled_ = 0;
    std::uint64_t appended_ = 0;
    bool failed_ = false;
};

// FLAC holds integers only: a float join goes in as 24-bit integers, dithered at their step (float keeps
// no more of an integer row than 24 bits), its samples beyond full scale clipped and counted.
class FloatTo24 {
public:
    // Fills up to size bytes with 24-bit samples from in; -1 when the file cannot be read.
    std::int64_t Read(QFile& in, char* data, std::int64_t size) {
        floats_.resize(static_cast<std::size_t>(size / 3) * 4);
        const qint64 got = in.read(floats_.data(), static_cast<qint64>(floats_.size()));
        const qint64 samples = got > 0 ? got / 4 : 0;
        Convert(floats_.data(), static_cast<std::size_t>(samples), data);
        return got < 0 ? -1 : samples * 3;
    }
    // The count float samples at floats as 24-bit ones at data.
    void Convert(const char* floats, std::size_t count, char* data) {
        const auto* in = reinterpret_cast<const std::uint8_t*>(floats);
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t value = dither_.Reduce(Level(in + 4 * i, 32, true, 24));
            data[3 * i] = static_cast<char>(value);
            data[3 * i + 1] = static_cast<char>(value >> 8);
            data[3 * i + 2] = static_cast<char>(value >> 16);
        }
    }
    std::uint64_t Clipped() const { return dither_.Clipped(); }

private:
    audio::Dither dither_{24};
    std::vector<char> floats_;
};

// Hands the joined PCM to a FLAC encoder as it comes; a float join as 24-bit integers.
class FlacSink : public PcmSink {
public:
    FlacSink(flac::StreamEncoder& encoder, bool isFloat) : encoder_(encoder), isFloat_(isFloat) {}
    void Append(const char* data, std::size_t size) override {
        appended_ += size;
        if (!isFloat_) {
            encoder_.Push(data, size);
            return;
        }
        ints_.resize(size / 4 * 3);
        fromFloat_.Convert(data, size / 4, ints_.data());
        encoder_.Push(ints_.data(), ints_.size());
    }
    std::uint64_t Appended() const { return appended_; }
    std::uint64_t Clipped() const { return fromFloat_.Clipped(); }

private:
    flac::StreamEncoder& encoder_;
    bool isFloat_;
    FloatTo24 fromFloat_;
    std::vector<char> ints_;
    std::uint64_t appended_ = 0;
};

// The bytes of a WAV row's data chunk the join reads, the chunk's data starting at dataStart.
std::uint64_t DataEnd(const QString& path, std::streamoff dataStart, std::uint32_t dataSize,
                      const Ds64Sizes& ds64) {
    // Sizes are unsigned: data of 2 to 4 GiB is read like any other. A data chunk that claims more
    // than the file holds is read to the end of the file. 0xFFFFFFFF outside RF64, which streaming
    // writers and our own earlier outputs above 4 GiB hold, means all that follows, however long.
    std::uint64_t dataEnd = DataChunkLength(dataSize, ds64);
    const qint64 fileSize = platform::FileStatus(path).Size();
    const std::uint64_t held =
        dataStart >= 0 && fileSize > dataStart ? static_cast<std::uint64_t>(fileSize - dataStart) : 0;
    if (dataSize == 0xFFFFFFFFu && !ds64.present) {
        dataEnd = std::max<std::uint64_t>(dataSize, held);
    } else if (ds64.present) {
        // A 64-bit size may claim far more than any file holds; the frame arithmetic must not overflow.
        dataEnd = std::min(dataEnd, held);
    }
    return dataEnd;
}

// The frames a row will bring to the join at targetRate, as well as can be told before it is read:
// exact for a WAV row that needs no new rate, and for an MP3 or a media file that states its length.
// 0 for a row that cannot be read.
std::uint64_t ExpectedFrames(const JoinRow& row, int targetRate) {
    std::uint64_t frames = 0;
    if (HasExtension(row.path, ".wav")) {
        std::ifstream in(platform::EncodeName(row.path).toStdString(), std::ios::binary);
        std::array<char, 36> head{};
        Ds64Sizes ds64;
        std::uint32_t dataSize = 0;
        const bool headRead = ReadWaveHead(in, head, ds64, true);
        auto tag = static_cast<std::uint16_t>(static_cast<unsigned char>(head[20]) |
                                              (static_cast<unsigned char>(head[21]) << 8));
        if (!headRead || !ReadFormatRest(in, Le32(head.data() + 16), tag) || !SkipToDataChunk(in, dataSize)) {
            return 0;
        }
        // A file that holds less than its chunk says ends where the file does.
        const std::streamoff dataStart = in.tellg();
        const std::uint64_t held = std::min(DataEnd(row.path, dataStart, dataSize, ds64),
                                            static_cast<std::uint64_t>(std::max<qint64>(
                                                platform::FileStatus(row.path).Size() - dataStart, 0)));
        frames =
            held / static_cast<std::uint64_t>(std::max(row.channels, 1) * std::max((row.bits + 7) / 8, 1));
    } else if (const audio::OpenFunction open = audio::DecodedOpening(row.path)) {
        const audio::StreamHandle stream = open(false, row.path, 0, 0, audio::STREAM_DECODE);
        audio::StreamInfoRecord info;
        if (stream == 0 || !audio::GetStreamInfo(stream, &info)) {
            audio::FreeStream(stream);
            return 0;
        }
        const std::uint64_t frameBytes =
            std::max<std::uint64_t>(info.chans * (audio::SampleBits(info) / 8), 1);
        frames = audio::GetStreamLength(stream, audio::POS_BYTE) / frameBytes;
        audio::FreeStream(stream);
    }
    // A lower rate is raised by repeating frames.
    return row.sampleRate > 0 && row.sampleRate != targetRate
               ? frames * static_cast<std::uint64_t>(targetRate) / static_cast<std::uint64_t>(row.sampleRate)
               : frames;
}

// Appends the whole frames of a WAV row in the target format from in, positioned at its data, by
// the kernel's copy in paced chunks, with the progress, events and Cancel of the block loop.
ByteMover::Fault CopyRowData(int in, int out, std::uint64_t dataEnd, qint64 frameBytes, JoinHost& host) {
    const auto whole = static_cast<qint64>(dataEnd / static_cast<std::uint64_t>(frameBytes)) * frameBytes;
    // A last partial frame counts as read, as the block loop reads it before dropping it.
    const PacedCopyResult copied = PacedCopy(in, out, whole, frameBytes, host, [&](qint64 consumed) {
        host.SetJoinProgress(
            Percent(consumed == whole ? dataEnd : static_cast<std::uint64_t>(consumed), dataEnd));
    });
    ByteMover::Fault fault = copied.fault;
    const qint64 consumed = copied.moved;
    // A file cut short while it is copied can end mid-frame: later rows must keep their alignment.
    const qint64 partial = consumed % frameBytes;
    if (partial != 0) {
        const off_t end = lseek(out, 0, SEEK_CUR) - partial;
        if (ftruncate(out, end) != 0 || lseek(out, end, SEEK_SET) != end) {
            fault = ByteMover::Fault::Write;
        }
    }
    return fault;
}

// Whether a WAV output of the rows is expected past the canonical header's 32-bit sizes, from what the
// WAV rows' files could hold at most once raised to the target (a frame more per row for the rounding);
// rows that are decoded add nothing, so a join of them that grows past the limit has its data moved
// once at the end. Nothing when a row is the output file itself, which the join would cut before
// reading it.
std::optional<bool> ExpectsWideWav(const JoinRows& rows, const WavTarget& target, const QString& outputPath,
                                   std::uint64_t maxRiffSize) {
    struct stat output {};
    const bool outputExists = stat(platform::EncodeName(outputPath).constData(), &output) == 0;
    const std::uint64_t targetFrame = static_cast<std::uint64_t>(target.channels) * ((target.bits + 7) / 8);
    std::uint64_t total = 0;
    for (int i = 0; i < rows.Count(); ++i) {
        const JoinRow row = rows.Row(i);
        struct stat input {};
        if (stat(platform::EncodeName(row.path).constData(), &input) != 0) {
            continue;
        }
        if (outputExists && input.st_dev == output.st_dev && input.st_ino == output.st_ino) {
            return std::nullopt;
        }
        if (!HasExtension(row.path, ".wav") || row.sampleRate <= 0 || row.channels <= 0 || row.bits <= 0) {
            continue;
        }
        const std::uint64_t frames = static_cast<std::uint64_t>(input.st_size) /
                                         (static_cast<std::uint64_t>(row.channels) * ((row.bits + 7) / 8)) +
                                     2;
        total += (frames * static_cast<std::uint64_t>(target.sampleRate) /
                      static_cast<std::uint64_t>(row.sampleRate) +
                  2) *
                 targetFrame;
    }
    return total > maxRiffSize - static_cast<std::uint64_t>(WavHeaderSize(target));
}

}  // namespace

void RemoveLeftoverTempPcm(const QString& path) {
    TempPcm::RemoveLeftover(path);
}

void RemoveLeftoverTempPcms(const QString& folder) {
    TempPcm::RemoveLeftovers(folder);
}

QString TempPcmPath(const QString& folder) {
    return folder + QStringLiteral("AudioTemp-%1.pcm").arg(getpid());
}

int Percent(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 0 : static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
}

QStringList PathsOf(const JoinRows& rows) {
    QStringList paths;
    for (int i = 0; i < rows.Count(); ++i) {
        paths << rows.Row(i).path;
    }
    return paths;
}

TargetFormat TargetOf(const JoinRows& rows) {
    TargetFormat target;
    for (int i = 0; i < rows.Count(); ++i) {
        const JoinRow row = rows.Row(i);
        target.sampleRate = std::max(target.sampleRate, row.sampleRate);
        target.channels = std::max(target.channels, row.channels);
        target.bits = std::max(target.bits, row.bits);
        target.isFloat = target.isFloat || row.isFloat;
    }
    // Float rows join as 32-bit float, not as 24-bit integers: samples beyond full scale, which
    // float recordings may hold, are kept, and float holds every integer row of up to 24 bits exactly.
    if (target.isFloat) {
        target.bits = 32;
    }
    return target;
}

int EncodedMp3Kbps(int targetSampleRate, int kbps) {
    return WavToMp3::EncodedKbps(targetSampleRate, Mp3RequestKbps(targetSampleRate, kbps));
}

JoinJob::JoinJob(JoinHost& host, const JoinRows& rows, std::function<JoinOutput()> output)
    : host_(host), rows_(rows), output_(std::move(output)) {}

void JoinJob::OutputHost::SetJoinFailed() {
    failed_ = true;
    ForwardingHost::SetJoinFailed();
}

int JoinJob::OutputHost::MessageBox(const QString& text, const QString& caption, unsigned flags) {
    QString shown = text;
    if (!written_.isEmpty()) {
        shown.replace(written_, shown_);
    }
    return ForwardingHost::MessageBox(shown, caption, flags);
}

void JoinJob::OutputHost::ShowAs(const QString& written, const QString& shown) {
    written_ = written;
    shown_ = shown;
}

bool JoinJob::PrepareOutput(const JoinOutput& output) {
    partial_.reset();
    if (output.writeInPlace) {
        return true;
    }
    // A link keeps leading to the joined file. A FIFO or a device holds nothing that could be put
    // back: it is written as it is.
    QString target = output.path;
    const platform::FileStatus status(output.path);
    if (status.IsSymLink()) {
        target =
            status.Exists() ? platform::CanonicalPath(output.path) : QFileInfo(output.path).symLinkTarget();
    }
    struct stat existing {};
    if (lstat(platform::EncodeName(target).constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return true;
    }
    partial_ = std::make_unique<PartialOutput>(target);
    if (!partial_->Create()) {
        partial_.reset();
        // Where no file would be lost, the output stage tries the output itself and tells why it
        // cannot be made; an existing file is never written in place.
        if (!platform::FileStatus(target).Exists()) {
            return true;
        }
        host_.MessageBox(QStringLiteral("Cannot creat the output file."), QStringLiteral("Error"), 0);
        return false;
    }
    host_.ShowAs(partial_->Path(), output.path);
    return true;
}

JoinOutput JoinJob::Written(const JoinOutput& output) const {
    JoinOutput written = output;
    if (partial_) {
        written.path = partial_->Path();
    }
    return written;
}

JoinOutput JoinJob::WithMetadata(JoinOutput output) const {
    if (output.metadata != nullptr) {
        output.metadata->AddTo(output, rowEndFrames_, TargetSampleRate);
    }
    return output;
}

bool JoinJob::AddWmaMetadata(const JoinOutput& output) {
    if (output.metadata == nullptr || !output.metadata->ForWma()) {
        return true;
    }
    const QString scratch = TempPcmFile + QStringLiteral(".wma");
    const platform::RemovedOnSignal scratchOnSignal(QFile::encodeName(scratch));
    const QString error = output.metadata->AddToWma(output.path, scratch, rowEndFrames_, TargetSampleRate);
    if (!error.isEmpty()) {
        host_.MessageBox(output.path + QStringLiteral(": tags and markers: ") + error, QString(),
                         platform::MB_OK);
        host_.SetJoinFailed();
    }
    return error.isEmpty();
}

void JoinJob::FinishOutput(const JoinOutput& output, int sampleRate) {
    if (partial_ && !host_.Failed() && !host_.Terminated() && !partial_->Commit(true)) {
        ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\''));
        host_.SetJoinFailed();
    }
    // A hidden file that did not take the output's name goes with it.
    partial_.reset();
    if (output.cuePath.isEmpty() || output.metadata == nullptr || host_.Failed() || host_.Terminated()) {
        return;
    }
    const QString error =
        output.metadata->WriteCueSheet(output.cuePath, output.path, output.kind, rowEndFrames_, sampleRate);
    if (!error.isEmpty()) {
        ShowError(output.cuePath + QStringLiteral(": ") + error);
        host_.SetJoinFailed();
    }
}

void JoinJob::JoinByCopy(const JoinOutput& output) {
    Mp3Copy copy(host_, PathsOf(rows_));
    // A hidden file can be written while the later rows are scanned: a row refused then leaves
    // nothing behind. A pipe or a device is written once every row is known to fit.
    const bool early = partial_ != nullptr;
    Mp3Copy::Result result = copy.WaitForScan(early);
    if (result == Mp3Copy::Result::Joined) {
        const QString written = Written(output).path;
        const int flags = O_WRONLY | O_CLOEXEC | (early ? 0 : O_CREAT | O_TRUNC);
        const platform::Descriptor file(open(platform::EncodeName(written).constData(), flags, 0666));
        struct stat status {};
        CopySink sink;
        sink.fd = file.Get();
        sink.seekable = file.Get() >= 0 && fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode);
        sink.early = early;
        sink.replaces = early && platform::FileStatus(output.path).Exists();
        if (sink.fd < 0) {
            host_.MessageBox(QStringLiteral("Cannot creat the output file."), QStringLiteral("Error"), 0);
            host_.SetJoinFailed();
        } else {
            const OutputMetadata none(MetadataChoice{}, {});
            result = copy.Write(sink, output.path, output.metadata != nullptr ? *output.metadata : none);
        }
    }
    if (result == Mp3Copy::Result::Joined) {
        rowEndFrames_ = copy.PartEnds();
        host_.SetOutputProgress(100);
        FinishOutput(output, copy.SampleRate());
    }
    partial_.reset();
    host_.Close();
}

std::function<bool()> JoinJob::SinkFailed(const DeviceSink& sink) {
    return [this, &sink] {
        if (sink.Failed()) {
            ShowError(QStringLiteral("Could not write '") + SinkName() + QLatin1Char('\''));
        }
        return sink.Failed();
    };
}

void JoinJob::ShowError(const QString& text) {
    host_.MessageBox(text, QStringLiteral("Error"), platform::MB_OK);
}

void JoinJob::DoJoin() {
    host_.SetJoinProgress(0);
    host_.SetOutputProgress(0);
    // A fixed output gets its hidden file before the join: a folder where it cannot be made is
    // told now, not after the join.
    if (OutputFixed && !PrepareOutput(output_())) {
        return;
    }
    if (OutputFixed && output_().copyMp3) {
        JoinByCopy(output_());
        return;
    }
    if (JoinStraightIntoWav() || JoinStraightIntoEncoder() || JoinStraightIntoFlac()) {
        return;
    }
    TempPcm temp(TempPcmFile);
    const TempPcm::Created created = temp.Create();
    if (created != TempPcm::Created::Yes) {
        ShowError(QStringLiteral("Could not create '") + TempPcmFile +
                  (created == TempPcm::Created::Locked ? QStringLiteral("': another join may be using it")
                                                       : QStringLiteral("'")));
        host_.SetJoinFailed();
        partial_.reset();
        host_.Close();
        return;
    }
    {
        DeviceSink sink(temp.File());
        const qint64 frameBytes = std::max(1, TargetChannels * TargetBits / 8);
        rowEndFrames_.clear();
        const auto rowEnded = [&] {
            rowEndFrames_.push_back(static_cast<std::uint64_t>(temp.File().pos() / frameBytes));
        };
        if (!AppendRows(sink, SinkFailed(sink), rowEnded)) {
            joinFailed_ = true;
        } else if (!temp.File().flush()) {
            // The last block may still wait in the write buffer: a full disk can show only here.
            ShowError(QStringLiteral("Could not write '") + TempPcmFile + QLatin1Char('\''));
            host_.SetJoinFailed();
            joinFailed_ = true;
        }
    }
    // A cancelled join writes no output: what the output path held stays as it was.
    if (!joinFailed_ && !host_.Terminated()) {
        const JoinOutput output = WithMetadata(output_());
        host_.SetStatusText(output.path);
        if ((!OutputFixed && !PrepareOutput(output)) || !WriteOutput(Written(output))) {
            // The output stage ended at once: the dialog stays open for Cancel. The temporary file
            // is a full copy of the audio and goes now, not at some later join.
            temp.Remove();
            partial_.reset();
            return;
        }
        FinishOutput(output, TargetSampleRate);
    }
    partial_.reset();
    temp.Remove();
    host_.Close();
}

bool JoinJob::JoinStraightIntoWav() {
    if (!OutputFixed) {
        return false;
    }
    const JoinOutput chosen = output_();
    const JoinOutput output = Written(chosen);
    const WavTarget target{TargetSampleRate, TargetChannels, TargetBits, TargetFloat};
    if (output.kind != OutputKind::Wav) {
        return false;
    }
    const std::optional<bool> wide = ExpectsWideWav(rows_, target, output.path, WavSizeLimit);
    // Only a new or empty regular file, which a failed join can put back as it was: a file with
    // data keeps it until the join has succeeded, and a pipe or a device, which cannot be given its
    // sizes afterwards, is written as before. A failed open leaves the message to the usual moment,
    // the output stage.
    const platform::FileStatus info(output.path);
    const bool existed = info.Exists();
    if (!wide || info.IsSymLink() || (existed && (!info.IsFile() || info.Size() != 0))) {
        return false;
    }
    QFile file;
    // Not truncated on opening, as it is new or empty: ext4 writes a file truncated then out to the
    // disk when it is closed, and the join would wait for it.
    if (!platform::OpenFile(file, output.path, QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        return false;
    }
    const QByteArray header = StartingWavHeader(target, *wide);
    sinkName_ = output.path;
    const qint64 frameBytes = std::max(1, TargetChannels * TargetBits / 8);
    rowEndFrames_.clear();
    {
        DeviceSink sink(file);
        sink.Append(header.constData(), static_cast<std::size_t>(header.size()));
        const auto rowEnded = [&] {
            rowEndFrames_.push_back(static_cast<std::uint64_t>((file.pos() - header.size()) / frameBytes));
        };
        joinFailed_ = !AppendRows(sink, SinkFailed(sink), rowEnded);
    }
    StraightWavEnd end = StraightWavEnd::Terminated;
    if (!joinFailed_ && !host_.Terminated()) {
        host_.SetStatusText(chosen.path);
        // Asked again now that the rows have ended: chunks of metadata may depend on where.
        end = FinishStraightWav(file, target, *wide, WithMetadata(output_()).wavChunks, host_, WavSizeLimit);
        if (end == StraightWavEnd::Done) {
            host_.SetOutputProgress(100);
            file.close();
            FailIfOutputVanished(output.path);
            FinishOutput(chosen, TargetSampleRate);
        } else if (end == StraightWavEnd::Failed) {
            ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\''));
            host_.SetJoinFailed();
        }
    }
    if (end != StraightWavEnd::Done) {
        existed ? static_cast<void>(file.resize(0)) : static_cast<void>(platform::RemoveFile(output.path));
        file.close();
    }
    partial_.reset();
    host_.Close();
    return true;
}

bool JoinJob::WrittenToRegularFile(const JoinOutput& chosen) const {
    // What is completed at the end needs a file to go back into; a pipe or a device gets the usual
    // two stages.
    const platform::FileStatus info(Written(chosen).path);
    return !info.IsSymLink() && (!info.Exists() || info.IsFile());
}

bool JoinJob::JoinStraightIntoEncoder() {
    if (!OutputFixed || !StreamEncoders) {
        return false;
    }
    const JoinOutput chosen = output_();
    if (chosen.kind != OutputKind::Mp3 && chosen.kind != OutputKind::Wma) {
        return false;
    }
    // The tag before the first frame is completed at the end, when the rows' ends are known.
    if (!WrittenToRegularFile(chosen)) {
        return false;
    }
    // Row ends for the tag written first: a day per row, so each row's own chapters fit in it as
    // they will in the end. The tag's fields take the same room whatever the times.
    std::vector<std::uint64_t> provisional;
    for (int i = 0; i < rows_.Count(); ++i) {
        provisional.push_back(static_cast<std::uint64_t>(i + 1) * 86400 *
                              static_cast<std::uint64_t>(std::max(TargetSampleRate, 1)));
    }
    JoinOutput output = Written(chosen);
    if (output.metadata != nullptr) {
        output.metadata->AddTo(output, provisional, TargetSampleRate);
    }
    PushEncoder encoder;
    const int chunk = encoder.Open(output, TargetSampleRate, TargetChannels);
    if (chunk <= 0) {
        // As in the output stage: the adapter has told why, and the job ends at once.
        partial_.reset();
        return true;
    }
    EncoderFeed feed(TargetChannels, TargetBits, TargetFloat, chunk);
    const qint64 frameBytes = std::max(1, TargetChannels * TargetBits / 8);
    rowEndFrames_.clear();
    bool failed = false;
    {
        EncoderSink sink(feed, encoder);
        const auto rowEnded = [&] {
            rowEndFrames_.push_back(sink.Appended() / static_cast<std::uint64_t>(frameBytes));
        };
        const auto writeFailed = [&] {
            // The MP3 adapter has shown its message; the WMA writer says nothing of its own.
            if (sink.Failed() && !encoder.IsMp3()) {
                ShowError(QStringLiteral("Could not write '") + chosen.path + QLatin1Char('\''));
            }
            return sink.Failed();
        };
        failed = !AppendRows(sink, writeFailed, rowEnded);
        if (!failed && !host_.Terminated()) {
            host_.SetStatusText(chosen.path);
            if (!sink.Finish() && writeFailed()) {
                host_.SetJoinFailed();
                failed = true;
            }
        }
    }
    joinFailed_ = failed;
    clippedSamples_ = feed.Clipped();
    CloseEncoder(encoder, output, false);
    if (!host_.Failed() && !host_.Terminated()) {
        const JoinOutput finished = WithMetadata(Written(chosen));
        // Cancel may stop the audio being moved for a tag of another size: no failure to tell then.
        if (finished.mp3Tag != output.mp3Tag &&
            !ReplaceLeadingTag(output.path, output.mp3Tag.size(), finished.mp3Tag) && !host_.Terminated()) {
            ShowError(QStringLiteral("Could not write '") + chosen.path + QLatin1Char('\''));
            host_.SetJoinFailed();
        }
        if (!host_.Failed() && chosen.kind == OutputKind::Wma) {
            AddWmaMetadata(output);
        }
        host_.SetOutputProgress(100);
    }
    FinishOutput(chosen, TargetSampleRate);
    partial_.reset();
    host_.Close();
    return true;
}

bool JoinJob::JoinStraightIntoFlac() {
    if (!OutputFixed || !StreamEncoders) {
        return false;
    }
    const JoinOutput chosen = output_();
    if (chosen.kind != OutputKind::Flac) {
        return false;
    }
    // The head is completed at the end.
    if (!WrittenToRegularFile(chosen)) {
        return false;
    }
    // The head is written first for the rows' ends as they are expected: where they are right, its
    // seek table and chapters take the room they will in the end.
    std::vector<std::uint64_t> expected;
    for (int i = 0; i < rows_.Count(); ++i) {
        expected.push_back((expected.empty() ? 0 : expected.back()) +
                           ExpectedFrames(rows_.Row(i), TargetSampleRate));
    }
    JoinOutput output = Written(chosen);
    if (output.metadata != nullptr) {
        output.metadata->AddTo(output, expected, TargetSampleRate);
    }
    QFile out(output.path);
    // Readable too: a head that outgrows its room moves the audio. An empty file is not truncated
    // (see CreateOutput).
    const platform::FileStatus info(output.path);
    if (!out.open(info.Exists() && info.Size() == 0 ? QIODevice::ReadWrite
                                                    : QIODevice::ReadWrite | QIODevice::Truncate)) {
        ShowError(QStringLiteral("Could not create '") + output.path + QLatin1Char('\''));
        host_.SetJoinFailed();
        partial_.reset();
        return true;
    }
    const flac::PcmFormat format{TargetSampleRate, TargetChannels, TargetFloat ? 24 : TargetBits};
    // The kernel is asked to write each segment out as it comes: a file replaced at the end would
    // otherwise have all of it written out then (ext4 does so before the rename), and the join wait.
    const int descriptor = out.handle();
    flac::StreamEncoder encoder(format, out, {}, [descriptor](std::uint64_t) {
        sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
        return true;
    });
    const qint64 frameBytes = std::max(1, TargetChannels * TargetBits / 8);
    rowEndFrames_.clear();
    bool failed = !encoder.Begin(expected.empty() ? 0 : expected.back(), output.vorbisMetadata);
    const auto writeFailed = [&] {
        const bool fault = !encoder.State().error.isEmpty();
        if (fault) {
            ShowError(QStringLiteral("Could not write '") + chosen.path + QStringLiteral("': ") +
                      encoder.State().error);
        }
        return fault;
    };
    if (failed) {
        writeFailed();
        host_.SetJoinFailed();
    } else {
        FlacSink sink(encoder, TargetFloat);
        const auto rowEnded = [&] {
            rowEndFrames_.push_back(sink.Appended() / static_cast<std::uint64_t>(frameBytes));
        };
        failed = !AppendRows(sink, writeFailed, rowEnded);
        clippedSamples_ = sink.Clipped();
    }
    joinFailed_ = failed;
    if (!failed && !host_.Terminated()) {
        host_.SetStatusText(chosen.path);
        const flac::EncodeResult result = encoder.Finish(WithMetadata(Written(chosen)).vorbisMetadata);
        if (!result.ok || !out.flush()) {
            ShowError(QStringLiteral("Could not write '") + chosen.path + QStringLiteral("': ") +
                      (result.ok ? out.errorString() : result.error));
            host_.SetJoinFailed();
        } else {
            out.close();
            host_.SetOutputProgress(100);
            FailIfOutputVanished(output.path);
        }
    }
    FinishOutput(chosen, TargetSampleRate);
    partial_.reset();
    host_.Close();
    return true;
}

bool JoinJob::ReplaceLeadingTag(const QString& path, qsizetype oldSize, const QByteArray& tag) {
    QFile file;
    if (!platform::OpenFile(file, path, QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        return false;
    }
    const qint64 shift = tag.size() - oldSize;
    const qint64 audio = file.size() - oldSize;
    if (shift != 0 &&
        (audio < 0 || MoveWithinFile(file.handle(), oldSize, audio, shift, 1, host_) != MoveResult::Done)) {
        return false;
    }
    if (shift < 0 && !file.resize(tag.size() + audio)) {
        return false;
    }
    return file.seek(0) && file.write(tag) == tag.size();
}

bool JoinJob::AppendRows(PcmSink& sink, const std::function<bool()>& writeFailed,
                         const std::function<void()>& rowEnded) {
    SampleConvert convert(sink);
    // Cancel still works inside a block whose few frames are repeated into gigabytes.
    convert.SetInterruptCheck([this] {
        host_.ProcessMessages();
        return host_.Terminated();
    });
    // A decoded row is decoded on a worker while the job converts and writes it, and the next one
    // is started on another while the job works on this one: two decoders at a time at most.
    std::unique_ptr<DecodeAhead> ahead;
    for (int i = 0; i < rows_.Count(); ++i) {
        const JoinRow row = rows_.Row(i);
        host_.SetStatusText(row.path);
        std::unique_ptr<DecodeAhead> decoded;
        if (ahead && ahead->Path() == row.path) {
            decoded = std::move(ahead);
        }
        ahead.reset();
        const audio::OpenFunction open =
            HasExtension(row.path, ".wav") ? nullptr : audio::DecodedOpening(row.path);
        if (open != nullptr && !decoded) {
            decoded = std::make_unique<DecodeAhead>(row.path, open, DecodedBlockBytes(row),
                                                    DecodeAhead::kTurnLimit);
        } else if (decoded) {
            decoded->LowerLimit(DecodeAhead::kTurnLimit);
        }
        if (i + 1 < rows_.Count()) {
            const JoinRow next = rows_.Row(i + 1);
            if (const audio::OpenFunction nextOpen = audio::DecodedOpening(next.path)) {
                ahead = std::make_unique<DecodeAhead>(next.path, nextOpen, DecodedBlockBytes(next));
            }
        }
        bool ok = true;
        if (HasExtension(row.path, ".wav")) {
            ok = JoinWavRow(row, convert);
        } else if (decoded) {
            ok = JoinDecodedRow(row, *decoded, convert);
        }
        if (ok && writeFailed()) {
            ok = false;
        }
        if (!ok) {
            host_.SetJoinFailed();
            return false;
        }
        rowEnded();
        // Cancel ends the join here: the rows after this one are not joined.
        if (host_.Terminated()) {
            break;
        }
    }
    return true;
}

bool JoinJob::JoinWavRow(const JoinRow& row, SampleConvert& convert) {
    std::ifstream in(platform::EncodeName(row.path).toStdString(), std::ios::binary);
    if (!in.is_open() || platform::FileStatus(row.path).IsDir()) {
        ShowError(QStringLiteral("Could not open '") + row.path + QLatin1Char('\''));
        return false;
    }
    std::array<char, 36> head{};
    Ds64Sizes ds64;
    // Chunks before the format chunk were refused when the row was added, where they must be.
    const bool headRead = ReadWaveHead(in, head, ds64, true);
    const char* fmt = head.data() + 12;
    if (!headRead || std::memcmp(fmt, "fmt ", 4) != 0) {
        ShowError(QStringLiteral("This is not a valid Wave file"));
        return false;
    }
    auto tag = static_cast<std::uint16_t>(static_cast<unsigned char>(fmt[8]) |
                                          (static_cast<unsigned char>(fmt[9]) << 8));
    const auto compressed = [&] {
        ShowError(QStringLiteral("Can not handle compressed Wave file"));
        return false;
    };
    // Float samples only where the row was taken in as float: the window's rows never are.
    const std::uint16_t rowTag = row.isFloat ? kWaveFormatIeeeFloat : kWaveFormatPcm;
    if (tag != rowTag && tag != kWaveFormatExtensible) {
        return compressed();
    }
    const bool formatRead = ReadFormatRest(in, Le32(fmt + 4), tag);
    if (formatRead && tag != rowTag) {
        return compressed();
    }
    std::uint32_t dataSize = 0;
    // A file cut short since it was added ends before its data: the same words as a damaged header.
    if (!formatRead || !SkipToDataChunk(in, dataSize)) {
        ShowError(QStringLiteral("This is not a valid Wave file"));
        return false;
    }

    convert.Setup(row.sampleRate, row.channels, row.bits, TargetSampleRate, TargetChannels, TargetBits,
                  row.isFloat, TargetFloat);
    const std::size_t block = convert.SameFormat() || row.bits == 8 ? kBlock : kWideBlock;
    std::vector<char> buffer(block);
    const std::streamoff dataStart = in.tellg();
    const std::uint64_t dataEnd = DataEnd(row.path, dataStart, dataSize, ds64);
    const int out = convert.SameFormat() ? convert.Sink().DirectDescriptor() : -1;
    if (out >= 0) {
        const platform::Descriptor data(
            open(platform::EncodeName(row.path).constData(), O_RDONLY | O_CLOEXEC));
        ByteMover::Fault fault = ByteMover::Fault::Read;
        if (data.Get() >= 0 && dataStart >= 0 &&
            lseek(data.Get(), static_cast<off_t>(dataStart), SEEK_SET) == static_cast<off_t>(dataStart)) {
            const qint64 frameBytes = row.channels * std::max((row.bits + 7) / 8, 1);
            fault = CopyRowData(data.Get(), out, dataEnd, frameBytes, host_);
        }
        convert.Sink().DirectDone();
        if (fault == ByteMover::Fault::Read) {
            ShowError(QStringLiteral("Could not read '") + row.path + QLatin1Char('\''));
        } else if (fault == ByteMover::Fault::Write) {
            ShowError(QStringLiteral("Could not write '") + SinkName() + QLatin1Char('\''));
        }
        return fault == ByteMover::Fault::None;
    }
    std::uint64_t consumed = 0;
    while (consumed < dataEnd) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block, dataEnd - consumed));
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        consumed += got;
        convert.Convert(buffer.data(), got);
        host_.SetJoinProgress(Percent(consumed, dataEnd));
        host_.ProcessMessages();
        if (host_.Terminated()) {
            break;
        }
    }
    // A read error looks like the end of the file to the loop; the output would silently lack the rest.
    if (in.bad()) {
        ShowError(QStringLiteral("Could not read '") + row.path + QLatin1Char('\''));
        return false;
    }
    return true;
}

std::size_t JoinJob::DecodedBlockBytes(const JoinRow& row) const {
    const bool sameFormat =
        row.sampleRate == TargetSampleRate && row.bits == TargetBits && row.channels == TargetChannels;
    return sameFormat || row.bits == 8 ? kBlock : kWideBlock;
}

bool JoinJob::JoinDecodedRow(const JoinRow& row, DecodeAhead& decoded, SampleConvert& convert) {
    if (!decoded.Opened()) {
        ShowError(QStringLiteral("Could not open '") + row.path + QLatin1Char('\''));
        return false;
    }
    convert.Setup(row.sampleRate, row.channels, row.bits, TargetSampleRate, TargetChannels, TargetBits,
                  row.isFloat, TargetFloat);
    // Every block moves the progress and gives Cancel its chance.
    DecodedBlock block;
    while (decoded.Next(block)) {
        convert.Convert(block.bytes.data(), block.bytes.size());
        host_.SetJoinProgress(Percent(block.position, block.length));
        host_.ProcessMessages();
        if (host_.Terminated()) {
            break;
        }
    }
    return true;
}

bool JoinJob::WriteOutput(const JoinOutput& output) {
    if (output.kind == OutputKind::Wav) {
        const WavTarget target{TargetSampleRate, TargetChannels, TargetBits, TargetFloat};
        const WavOutputResult result =
            WriteWavOutput(TempPcmFile, output.path, target, host_, output.wavChunks, WavSizeLimit);
        if (result == WavOutputResult::Done) {
            FailIfOutputVanished(output.path);
        }
        return result != WavOutputResult::CannotCreate;
    }
    if (output.kind == OutputKind::Flac) {
        return EncodeFlacOutput(output);
    }
    if (output.kind == OutputKind::M4b) {
        return EncodeM4bOutput(output);
    }
    if (output.kind == OutputKind::Opus) {
        return EncodeOpusOutput(output);
    }
    if (!EncodeOutput(output)) {
        return false;
    }
    if (output.kind == OutputKind::Wma && !host_.Failed() && !host_.Terminated()) {
        AddWmaMetadata(output);
    }
    return true;
}

void JoinJob::FailIfOutputVanished(const QString& path) {
    // An open file stays writable after its folder is deleted, so every write succeeded and the
    // joined audio is nowhere the user can find: that is no completed join.
    if (!platform::FileStatus(path).Exists()) {
        ShowError(QStringLiteral("Could not write '") + path + QLatin1Char('\''));
        host_.SetJoinFailed();
    }
}

std::uint64_t JoinJob::TempFrames(const QFile& in) const {
    return static_cast<std::uint64_t>(in.size()) /
           static_cast<std::uint64_t>(TargetBits / 8 * TargetChannels);
}

std::function<bool(std::uint64_t)> JoinJob::EncodeProgress(std::uint64_t frames) {
    return [this, frames](std::uint64_t done) {
        host_.SetOutputProgress(Percent(done, frames));
        host_.ProcessMessages();
        return !host_.Terminated();
    };
}

bool JoinJob::CreateOutput(QFile& out) {
    // An empty file, such as the hidden one made for the output, is not truncated on opening: ext4
    // writes a file truncated then out to the disk when it is closed, and the join would wait.
    const platform::FileStatus status(out.fileName());
    const bool empty = status.IsFile() && !status.IsSymLink() && status.Size() == 0;
    if (out.open(empty ? QIODevice::ReadWrite : QIODevice::WriteOnly)) {
        return true;
    }
    ShowError(QStringLiteral("Could not create '") + out.fileName() + QLatin1Char('\''));
    host_.SetJoinFailed();
    return false;
}

bool JoinJob::EncodeFlacOutput(const JoinOutput& output) {
    QFile out(output.path);
    if (!CreateOutput(out)) {
        return false;
    }
    QFile in(TempPcmFile);
    if (!in.open(QIODevice::ReadOnly)) {
        ShowError(QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\''));
        host_.SetJoinFailed();
        return true;
    }
    const flac::PcmFormat format{TargetSampleRate, TargetChannels, TargetFloat ? 24 : TargetBits};
    const std::uint64_t frames = TempFrames(in);
    bool readFailed = false;
    FloatTo24 fromFloat;
    const flac::EncodeResult result = flac::EncodeFlac(
        format, frames,
        [&](char* data, std::int64_t size) {
            const std::int64_t got = TargetFloat ? fromFloat.Read(in, data, size) : in.read(data, size);
            readFailed = got < 0;
            return got;
        },
        out, output.vorbisMetadata, {}, EncodeProgress(frames));
    clippedSamples_ = fromFloat.Clipped();
    if (!result.ok && !result.cancelled) {
        ShowError(readFailed ? QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\'')
                             : QStringLiteral("Could not write '") + output.path + QStringLiteral("': ") +
                                   result.error);
        host_.SetJoinFailed();
    } else if (result.ok && !out.flush()) {
        ShowError(QStringLiteral("Could not write '") + output.path + QStringLiteral("': ") +
                  out.errorString());
        host_.SetJoinFailed();
    } else if (result.ok) {
        FailIfOutputVanished(output.path);
    }
    return true;
}

bool JoinJob::EncodeM4bOutput(const JoinOutput& output) {
    QFile in(TempPcmFile);
    if (!in.open(QIODevice::ReadOnly)) {
        ShowError(QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\''));
        host_.SetJoinFailed();
        return true;
    }
    const std::uint64_t frames = TempFrames(in);
    const M4bSource source{{TargetSampleRate, TargetChannels, TargetBits, TargetFloat}, frames};
    const M4bSettings settings{output.m4bKbps, output.m4bMusic, output.m4bMetadata};
    const int fd = in.handle();
    const M4bResult result = EncodeM4b(
        output.path, source, settings,
        [fd](char* data, std::int64_t size, std::uint64_t at) { return ReadAt(fd, data, size, at); },
        EncodeProgress(frames));
    using Fault = M4bResult::Fault;
    switch (result.fault) {
        case Fault::None:
            FailIfOutputVanished(output.path);
            return true;
        case Fault::Cancelled:
            return true;
        case Fault::Create:
            ShowError(QStringLiteral("Could not create '") + output.path + QLatin1Char('\''));
            host_.SetJoinFailed();
            return false;
        case Fault::Read:
            ShowError(QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\''));
            break;
        case Fault::Write:
        case Fault::Refused:
            ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\'') +
                      (result.error.isEmpty() ? QString() : QStringLiteral(": ") + result.error));
            break;
    }
    host_.SetJoinFailed();
    return true;
}

bool JoinJob::EncodeOpusOutput(const JoinOutput& output) {
    QFile out(output.path);
    if (!CreateOutput(out)) {
        return false;
    }
    QFile in(TempPcmFile);
    const bool opened = in.open(QIODevice::ReadOnly);
    const std::uint64_t frames = opened ? TempFrames(in) : 0;
    const PcmSource source{TargetSampleRate, TargetChannels, TargetBits, TargetFloat};
    const OpusResult result = EncodeOpus(
        out, source, {output.opusKbps, output.vorbisMetadata},
        [&](char* data, std::int64_t size) { return opened ? in.read(data, size) : -1; },
        EncodeProgress(frames));
    using Fault = OpusResult::Fault;
    if (result.fault == Fault::None && !out.flush()) {
        ShowError(QStringLiteral("Could not write '") + output.path + QStringLiteral("': ") +
                  out.errorString());
    } else if (result.fault == Fault::Read) {
        ShowError(QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\''));
    } else if (result.fault == Fault::Write || result.fault == Fault::Refused) {
        ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\'') +
                  (result.error.isEmpty() ? QString() : QStringLiteral(": ") + result.error));
    } else {
        if (result.fault == Fault::None) {
            FailIfOutputVanished(output.path);
        }
        return true;
    }
    host_.SetJoinFailed();
    return true;
}

bool JoinJob::EncodeOutput(const JoinOutput& output) {
    PushEncoder encoder;
    const int chunk = encoder.Open(output, TargetSampleRate, TargetChannels);
    if (chunk <= 0) {
        return false;
    }
    const bool mp3 = encoder.IsMp3();
    QFile in(TempPcmFile);
    const bool opened = in.open(QIODevice::ReadOnly);
    const std::uint64_t size = opened ? static_cast<std::uint64_t>(in.size()) : 0;
    bool readFailed = !opened;
    EncoderFeed feed(TargetChannels, TargetBits, TargetFloat, chunk);
    std::uint64_t position = 0;
    while (!readFailed && position < size && feed.Next(in, position, readFailed)) {
        if (!encoder.Encode(feed)) {
            if (!mp3) {
                ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\''));
            }
            joinFailed_ = true;
            host_.SetJoinFailed();
            break;
        }
        host_.SetOutputProgress(Percent(position, size));
        host_.ProcessMessages();
        if (host_.Terminated()) {
            break;
        }
    }
    clippedSamples_ = feed.Clipped();
    if (readFailed) {
        ShowError(QStringLiteral("Could not read '") + TempPcmFile + QLatin1Char('\''));
        host_.SetJoinFailed();
    }
    CloseEncoder(encoder, output, readFailed);
    return true;
}

void JoinJob::CloseEncoder(PushEncoder& encoder, const JoinOutput& output, bool readFailed) {
    const bool closed = encoder.Close();
    if (!closed && !joinFailed_ && !readFailed) {
        // The MP3 adapter has told why.
        if (!encoder.IsMp3()) {
            ShowError(QStringLiteral("Could not write '") + output.path + QLatin1Char('\''));
        }
        host_.SetJoinFailed();
    }
    if (closed && !joinFailed_ && !readFailed && !host_.Terminated()) {
        FailIfOutputVanished(output.path);
    }
}

}  // namespace join
