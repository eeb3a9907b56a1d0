// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Mp3Copy.h"

#include "join/JoinHost.h"
#include "join/JoinJob.h"
#include "mpeg/AudioFrames.h"
#include "mpeg/InfoTag.h"
#include "platform/Descriptor.h"
#include "platform/FilePath.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <utility>

namespace join {
namespace {

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// An input's bytes, mapped: they are scanned for frames and their checksum, then written from the
// mapping. Reading them into a buffer measured no faster for parts of a minute and slower for parts
// of an hour, and copying them in the kernel afterwards (copy_file_range) slower than one write.
class InputBytes {
public:
    InputBytes() = default;
    ~InputBytes() {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
    }
    InputBytes(InputBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    InputBytes& operator=(InputBytes&&) = delete;

    // The reason the file cannot be read, or an empty text.
    QString Load(const QString& path) {
        const platform::Descriptor file(open(platform::EncodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        struct stat status {};
        if (file.Get() < 0 || fstat(file.Get(), &status) != 0) {
            return ErrnoText();
        }
        if (!S_ISREG(status.st_mode)) {
            return QStringLiteral("not a regular file");
        }
        if (status.st_size == 0) {
            return {};
        }
        size_ = static_cast<std::size_t>(status.st_size);
        void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file.Get(), 0);
        if (mapped == MAP_FAILED) {
            return ErrnoText();
        }
        data_ = static_cast<std::uint8_t*>(mapped);
        madvise(data_, size_, MADV_SEQUENTIAL);
        return {};
    }
    const std::uint8_t* Data() const { return data_; }
    std::size_t Size() const { return data_ != nullptr ? size_ : 0; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Part {
    QString path;
    InputBytes bytes;
    mpeg::AudioFrames frames;
    std::uint16_t crc = 0;  // of its frames alone
};

QString KindText(const mpeg::FrameHeader& header) {
    const char* version = header.version == 3 ? "MPEG-1" : (header.version == 2 ? "MPEG-2" : "MPEG-2.5");
    return QStringLiteral("%1 Layer III, %2 Hz, %3")
        .arg(QLatin1String(version))
        .arg(header.sampleRate)
        .arg(header.mono ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

// Reads and scans one input, and checks it against the first (null: it is the first); the reason
// it cannot be copied, or an empty text.
QString ReadPart(Part& part, const Part* first) {
    if (QString failure = part.bytes.Load(part.path); !failure.isEmpty()) {
        return failure;
    }
    part.frames = mpeg::FindAudioFrames(part.bytes.Data(), part.bytes.Size());
    switch (part.frames.fault) {
        case mpeg::AudioFrames::Fault::NoFrames:
            return QStringLiteral(
                "holds no MP3 (MPEG audio Layer III) frames; a join without re-encoding takes MP3 files "
                "only");
        case mpeg::AudioFrames::Fault::KindChanges:
            return QStringLiteral(
                       "changes to frames of another rate or channel count at byte %1; a join without "
                       "re-encoding needs "
                       "one kind of frame throughout")
                .arg(part.frames.faultOffset);
        case mpeg::AudioFrames::Fault::None:
            break;
    }
    if (first != nullptr && !mpeg::SameKind(part.frames.first, first->frames.first)) {
        return QStringLiteral(
                   "%1, unlike %2 (%3); a join without re-encoding takes files of one MPEG version, rate and "
                   "channel count")
            .arg(KindText(part.frames.first), first->path, KindText(first->frames.first));
    }
    for (const mpeg::ByteRun& run : part.frames.runs) {
        part.crc = mpeg::Crc16(part.bytes.Data() + run.offset, run.bytes, part.crc);
    }
    return {};
}

// Reads and scans the parts in order on a thread of its own, so that one part can be written while
// the next is scanned. It stops at the first part that cannot be joined, and when asked to.
class Scanner {
public:
    explicit Scanner(std::vector<Part>& parts) : parts_(parts), thread_([this] { Run(); }) {}
    ~Scanner() { Finish(); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Waits until parts up to index are scanned, letting the host handle its events meanwhile:
    // Joined; Refused when one of them cannot be joined (named once through the host); Stopped when
    // the host asked the join to stop first.
    Mp3Copy::Result Wait(std::size_t index, JoinHost& host) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!ready_.wait_for(lock, std::chrono::milliseconds(20),
                                [&] { return scanned_ > index || done_; })) {
            lock.unlock();
            host.ProcessMessages();
            if (host.Terminated()) {
                stop_ = true;
                return Mp3Copy::Result::Stopped;
            }
            lock.lock();
        }
        if (scanned_ > index) {
            return Mp3Copy::Result::Joined;
        }
        if (refusal_.isEmpty()) {
            return Mp3Copy::Result::Stopped;
        }
        if (!told_) {
            host.MessageBox(parts_[scanned_].path + QStringLiteral(": ") + refusal_, QString(),
                            platform::MB_OK);
            told_ = true;
        }
        return Mp3Copy::Result::Refused;
    }

    std::size_t Scanned() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return scanned_;
    }

    // Stops the scan after the part it is on; the parts stay as they are from then on.
    void Finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void Run() {
        for (std::size_t i = 0; i < parts_.size() && !stop_; ++i) {
            QString refusal = ReadPart(parts_[i], i > 0 ? &parts_.front() : nullptr);
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!refusal.isEmpty()) {
                refusal_ = std::move(refusal);
                break;
            }
            scanned_ = i + 1;
            ready_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        ready_.notify_all();
    }

    std::vector<Part>& parts_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::size_t scanned_ = 0;
    QString refusal_;  // of the part after the last one scanned
    bool done_ = false;
    bool told_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: it starts once the rest is set up
};

// The counts of the first frames frames of the parts, for the tag frame in front of them. Whole
// parts bring their checksums; a part the copy stopped in is summed again up to where it stopped.
struct Totals {
    mpeg::SeekTable seek;
    std::uint64_t bytes = 0;
    std::uint16_t musicCrc = 0;
};

Totals Count(std::span<const Part> parts, std::size_t frames) {
    Totals totals;
    for (const Part& part : parts) {
        const std::size_t taken = std::min(frames, part.frames.sizes.size());
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < taken; ++i) {
            totals.seek.Add(part.frames.kbps[i]);
            bytes += part.frames.sizes[i];
        }
        frames -= taken;
        totals.bytes += bytes;
        if (taken == part.frames.sizes.size()) {
            totals.musicCrc = mpeg::Crc16Combine(totals.musicCrc, part.crc, bytes);
            continue;
        }
        for (const mpeg::ByteRun& run : part.frames.runs) {
            const std::size_t take = std::min(bytes, run.bytes);
            if (take == 0) {
                break;
            }
            totals.musicCrc = mpeg::Crc16(part.bytes.Data() + run.offset, take, totals.musicCrc);
            bytes -= take;
        }
    }
    return totals;
}

// Writes the counts into tag, made by NewTagFrame; padding is the last part's, 0 when cut short.
bool PatchTag(std::vector<std::uint8_t>& tag, const Totals& totals, int padding, bool lame) {
    mpeg::StreamTotals stream;
    stream.seek = &totals.seek;
    const std::uint64_t bytes = tag.size() + totals.bytes;
    stream.bytes =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, std::numeric_limits<std::uint32_t>::max()));
    stream.musicCrc = totals.musicCrc;
    stream.padding = padding;
    return lame ? mpeg::PatchInfoTag(tag, stream) : mpeg::PatchCounts(tag, stream);
}

// The bitrate every frame of the parts has, or 0.
int ConstantKbps(std::span<const Part> parts) {
    int constant = -1;
    for (const Part& part : parts) {
        for (const std::uint16_t kbps : part.frames.kbps) {
            constant = constant < 0 || kbps == constant ? kbps : 0;
        }
    }
    return std::max(constant, 0);
}

// A constant bitrate's frame follows the first part alone, so that its size is known, and it can
// be written, before the other parts are scanned.
std::vector<std::uint8_t> TagFrame(const Part& first, bool constant) {
    const std::optional<mpeg::EncoderTag>& encoder = first.frames.encoder;
    return mpeg::NewTagFrame(first.frames.firstHeader.data(), ConstantKbps(std::span(&first, 1)), constant,
                             encoder ? encoder->tail.data() : nullptr);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// Has the kernel start writing the staged output to disk, on a second thread, while the copy goes
// on. Renaming a file over another makes ext4 write the new one out first, so that a crash leaves
// one whole file or the other; begun during the copy, that is mostly done when the rename comes.
// A new output is left to the kernel's own pace, as before.
class Writeback {
public:
    explicit Writeback(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~Writeback() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Writeback(const Writeback&) = delete;
    Writeback& operator=(const Writeback&) = delete;

    void CopiedUpTo(std::size_t end) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            copied_ = end;
        }
        wake_.notify_one();
    }

private:
    void Run() {
        std::size_t started = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return done_ || copied_ > started; });
            if (copied_ <= started) {
                return;
            }
            const std::size_t end = copied_;
            lock.unlock();
            // Only a start: a failure shows when the data is written, as it would without this.
            sync_file_range(fd_, static_cast<off_t>(started), static_cast<off_t>(end - started),
                            SYNC_FILE_RANGE_WRITE);
            started = end;
            lock.lock();
        }
    }

    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t copied_ = 0;
    bool done_ = false;
    std::thread thread_;  // last: it starts once the rest is set up
};

// Copies every part's frames, each part once it is scanned, in blocks of whole frames, so a stop
// leaves a stream that ends with a whole frame. status: Joined, also when stopped (the host tells);
// Refused when a part cannot be joined; Failed when a write failed (errno).
// A head written for a constant bitrate, kbps, may need a tag frame of another size once the scan
// finds a part with others: the copy stops then (retag), to start again. kbps: the bitrate the
// head claims for every frame, 0 once a part scanned has others.
struct Written {
    std::size_t frames = 0;
    std::size_t bytes = 0;
    Mp3Copy::Result status = Mp3Copy::Result::Joined;
    int kbps = 0;
    bool retag = false;
};

// Whether the parts scanned since checked end the constant bitrate the head claims (kbps, then 0)
// and need a tag frame of another size than tagBytes. Checked as the scan goes, not as the copy
// reaches them, less is written twice.
bool NeedsRetag(const std::vector<Part>& parts, Scanner& scanner, std::size_t& checked, int& kbps,
                std::size_t tagBytes) {
    for (const std::size_t scanned = scanner.Scanned(); kbps > 0 && checked < scanned; ++checked) {
        if (ConstantKbps(std::span(&parts[checked], 1)) != kbps) {
            if (TagFrame(parts.front(), false).size() != tagBytes) {
                return true;
            }
            kbps = 0;
        }
    }
    return false;
}

Written WriteFrames(int fd, const std::vector<Part>& parts, Scanner& scanner, JoinHost& host,
                    std::size_t start, Writeback* writeback, int kbps, std::size_t tagBytes) {
    constexpr std::size_t kBlock = std::size_t{4} << 20;
    Written written;
    written.kbps = kbps;
    std::size_t checked = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (const Mp3Copy::Result scanned = scanner.Wait(i, host); scanned != Mp3Copy::Result::Joined) {
            written.status = scanned == Mp3Copy::Result::Refused ? scanned : Mp3Copy::Result::Joined;
            return written;
        }
        const Part& part = parts[i];
        host.SetStatusText(part.path);
        const std::size_t partBytes = part.bytes.Size();
        std::size_t index = 0;
        for (const mpeg::ByteRun& run : part.frames.runs) {
            const std::size_t end = run.offset + run.bytes;
            for (std::size_t at = run.offset; at < end;) {
                std::size_t block = 0;
                std::size_t frames = 0;
                while (at + block < end && block < kBlock) {
                    block += part.frames.sizes[index++];
                    ++frames;
                }
                host.SetJoinProgress(Percent(at, partBytes));
                host.ProcessMessages();
                if (host.Terminated()) {
                    return written;
                }
                written.retag = NeedsRetag(parts, scanner, checked, written.kbps, tagBytes);
                if (written.retag) {
                    return written;
                }
                if (!WriteAll(fd, part.bytes.Data() + at, block)) {
                    written.status = Mp3Copy::Result::Failed;
                    return written;
                }
                written.frames += frames;
                written.bytes += block;
                at += block;
                if (writeback != nullptr) {
                    writeback->CopiedUpTo(start + written.bytes);
                }
            }
        }
    }
    return written;
}

// Where each part ends in what a gapless player plays: whole frames, less the first part's
// encoder delay and the last part's padding, which the new tag frame tells it to trim.
std::vector<std::uint64_t> PartEnds(std::span<const Part> parts) {
    std::vector<std::uint64_t> ends;
    const std::uint64_t delay = parts.front().frames.encoder ? parts.front().frames.encoder->delay : 0;
    std::uint64_t samples = 0;
    for (const Part& part : parts) {
        samples += part.frames.sizes.size() * static_cast<std::uint64_t>(part.frames.first.samples);
        ends.push_back(samples - std::min(samples, delay));
    }
    const std::uint64_t padding = parts.back().frames.encoder ? parts.back().frames.encoder->padding : 0;
    ends.back() -= std::min(ends.back(), padding);
    return ends;
}

// What leads the frames: an ID3v2 tag with the tags and chapters, as for an encoded output, then
// the tag frame with the counts of the first frames frames, of a constant bitrate or not. Only the
// parts scanned are read (those after count as empty).
struct Head {
    QByteArray id3;
    std::vector<std::uint8_t> tag;
};

std::optional<Head> MakeHead(std::span<const Part> scanned, std::size_t parts, const OutputMetadata& metadata,
                             std::size_t frames, bool constant) {
    Head head;
    std::vector<std::uint64_t> ends = PartEnds(scanned);
    ends.resize(parts, ends.back());
    JoinOutput tagged;
    tagged.kind = OutputKind::Mp3;
    metadata.AddTo(tagged, ends, scanned.front().frames.first.sampleRate);
    head.id3 = tagged.mp3Tag;
    head.tag = TagFrame(scanned.front(), constant);
    std::size_t all = 0;
    for (const Part& part : scanned) {
        all += part.frames.sizes.size();
    }
    const std::optional<mpeg::EncoderTag>& last = scanned.back().frames.encoder;
    const int padding = scanned.size() == parts && frames >= all && last ? last->padding : 0;
    if (head.tag.empty() ||
        !PatchTag(head.tag, Count(scanned, frames), padding, scanned.front().frames.encoder.has_value())) {
        return std::nullopt;
    }
    return head;
}

// Writes the head where the descriptor is, or again over the one at the start of the file.
bool PutHead(int fd, const Head& head, bool again) {
    const auto* id3 = reinterpret_cast<const std::uint8_t*>(head.id3.constData());
    const auto id3Size = static_cast<std::size_t>(head.id3.size());
    if (!again) {
        return WriteAll(fd, id3, id3Size) && WriteAll(fd, head.tag.data(), head.tag.size());
    }
    return pwrite(fd, id3, id3Size, 0) == static_cast<ssize_t>(id3Size) &&
           pwrite(fd, head.tag.data(), head.tag.size(), static_cast<off_t>(id3Size)) ==
               static_cast<ssize_t>(head.tag.size());
}

// Writes the head and the frames, from the first part scanned on (early), or once every part is.
// Written early, the output gets its head again at the end, with the counts of what it holds; so
// does any seekable output after an interrupt; one that meets frames of another bitrate than the
// first part's, needing a larger or smaller tag frame, is written again from the start at once.
// Joined, Stopped, Refused (a part, named), or Failed with the message shown.
Mp3Copy::Result WriteOutput(const CopySink& sink, const QString& shown, std::vector<Part>& parts,
                            Scanner& scanner, JoinHost& host, const OutputMetadata& metadata) {
    const auto fail = [&] {
        host.MessageBox(shown + QStringLiteral(": ") + ErrnoText(), QString(), platform::MB_OK);
        return Mp3Copy::Result::Failed;
    };
    const bool early = sink.early;
    std::size_t known = early ? 1 : parts.size();
    std::size_t headSize = 0;
    Written written;
    do {
        const std::span<const Part> ready = std::span<const Part>(parts).first(known);
        const int kbps = ConstantKbps(ready);
        const std::optional<Head> made =
            MakeHead(ready, parts.size(), metadata, std::numeric_limits<std::size_t>::max(), kbps > 0);
        if (!made) {
            host.MessageBox(shown + QStringLiteral(": no tag frame fits these frames"), QString(),
                            platform::MB_OK);
            return Mp3Copy::Result::Failed;
        }
        // Only an output written early starts again: a file of its own.
        if (sink.fd < 0 ||
            (written.retag && (ftruncate(sink.fd, 0) != 0 || lseek(sink.fd, 0, SEEK_SET) != 0)) ||
            !PutHead(sink.fd, *made, false)) {
            return fail();
        }
        headSize = static_cast<std::size_t>(made->id3.size()) + made->tag.size();
        std::optional<Writeback> writeback;
        if (sink.replaces) {
            writeback.emplace(sink.fd);
        }
        written = WriteFrames(sink.fd, parts, scanner, host, headSize, writeback ? &*writeback : nullptr,
                              kbps, made->tag.size());
        known = scanner.Scanned();
    } while (written.retag);
    scanner.Finish();
    if (written.status != Mp3Copy::Result::Joined) {
        return written.status == Mp3Copy::Result::Failed ? fail() : written.status;
    }
    if (sink.seekable && (early || host.Terminated())) {
        const std::optional<Head> final = MakeHead(std::span<const Part>(parts).first(scanner.Scanned()),
                                                   parts.size(), metadata, written.frames, written.kbps > 0);
        if (!final || static_cast<std::size_t>(final->id3.size()) + final->tag.size() != headSize) {
            host.MessageBox(shown + QStringLiteral(": the tags changed size while the parts were copied"),
                            QString(), platform::MB_OK);
            return Mp3Copy::Result::Failed;
        }
        if (!PutHead(sink.fd, *final, true)) {
            return fail();
        }
    }
    // A file written from its start, as standard output may be, ends where the join does.
    if (sink.truncate && ftruncate(sink.fd, static_cast<off_t>(headSize + written.bytes)) != 0) {
        return fail();
    }
    return host.Terminated() ? Mp3Copy::Result::Stopped : Mp3Copy::Result::Joined;
}

QStringList NotesOf(const std::vector<Part>& parts) {
    QStringList notes;
    long long kept = 0;
    int untagged = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::optional<mpeg::EncoderTag>& encoder = parts[i].frames.encoder;
        untagged += encoder ? 0 : 1;
        if (encoder) {
            kept += (i > 0 ? encoder->delay : 0) + (i + 1 < parts.size() ? encoder->padding : 0);
        }
        if (parts[i].frames.firstMainDataBegin > 0) {
            notes << (parts[i].path + QStringLiteral(": its first frame takes %1 bytes of bit reservoir from "
                                                     "before it; joined, they come from what precedes it")
                                          .arg(parts[i].frames.firstMainDataBegin));
        }
    }
    if (parts.size() < 2) {
        return notes;
    }
    QString note =
        QStringLiteral("%1 samples (%2 s) of the parts' encoder delay and padding stay between them")
            .arg(kept)
            .arg(static_cast<double>(kept) / parts.front().frames.first.sampleRate, 0, 'f', 3);
    if (untagged > 0) {
        note += QStringLiteral(", besides what the %1 parts without an encoder tag hold").arg(untagged);
    }
    notes << note;
    return notes;
}

}  // namespace

struct Mp3Copy::State {
    explicit State(const QStringList& inputs) : parts(MakeParts(inputs)), scanner(parts) {}
    static std::vector<Part> MakeParts(const QStringList& inputs) {
        std::vector<Part> made(static_cast<std::size_t>(inputs.size()));
        for (qsizetype i = 0; i < inputs.size(); ++i) {
            made[static_cast<std::size_t>(i)].path = inputs.at(i);
        }
        return made;
    }
    std::vector<Part> parts;
    Scanner scanner;  // after the parts it scans
};

Mp3Copy::Mp3Copy(JoinHost& host, const QStringList& inputs)
    : host_(host), state_(std::make_unique<State>(inputs)) {}

Mp3Copy::~Mp3Copy() = default;

Mp3Copy::Result Mp3Copy::WaitForScan(bool early) {
    const Result scanned = state_->scanner.Wait(early ? 0 : state_->parts.size() - 1, host_);
    if (scanned == Result::Refused) {
        host_.SetJoinFailed();
    }
    return scanned;
}

Mp3Copy::Result Mp3Copy::Write(const CopySink& sink, const QString& shownOutput,
                               const OutputMetadata& metadata) {
    const Result result = WriteOutput(sink, shownOutput, state_->parts, state_->scanner, host_, metadata);
    if (result == Result::Failed || result == Result::Refused) {
        host_.SetJoinFailed();
    }
    return result;
}

std::vector<std::uint64_t> Mp3Copy::PartEnds() const {
    return join::PartEnds(state_->parts);
}

int Mp3Copy::SampleRate() const {
    return state_->parts.front().frames.first.sampleRate;
}

QStringList Mp3Copy::Notes() const {
    return NotesOf(state_->parts);
}

CopyFit CopyFitOf(const JoinRows& rows) {
    for (int i = 0; i < rows.Count(); ++i) {
        if (!rows.Row(i).path.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)) {
            return CopyFit::NotMp3;
        }
    }
    for (int i = 1; i < rows.Count(); ++i) {
        const JoinRow first = rows.Row(0);
        const JoinRow row = rows.Row(i);
        if (row.sampleRate != first.sampleRate || row.channels != first.channels) {
            return CopyFit::KindsDiffer;
        }
    }
    return CopyFit::Fits;
}

}  // namespace join
