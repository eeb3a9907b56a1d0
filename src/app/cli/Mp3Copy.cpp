#include "app/cli/Mp3Copy.h"

#include "app/cli/Interrupt.h"
#include "app/cli/JoinCommand.h"
#include "app/cli/OutputMetadata.h"
#include "app/cli/OutputTarget.h"
#include "mpeg/AudioFrames.h"
#include "mpeg/InfoTag.h"
#include "platform/Descriptor.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace cli {
namespace {

// An input is mapped once, to find its frames and their checksum, and copied from the file later,
// in the kernel where it can be, as cat copies.
struct Part {
    QString path;
    std::unique_ptr<platform::Descriptor> file;
    mpeg::AudioFrames frames;
    std::uint16_t crc = 0;  // of its frames alone
};

// The bytes of one input while it is scanned, mapped: reading them into a buffer measured no faster
// for parts of a minute and slower for parts of an hour.
class InputBytes {
public:
    InputBytes() = default;
    ~InputBytes() {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
    }
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    // The reason the file cannot be read, or an empty text.
    QString Load(int fd) {
        struct stat status {};
        if (fstat(fd, &status) != 0) {
            return SystemError();
        }
        if (!S_ISREG(status.st_mode)) {
            return QStringLiteral("not a regular file");
        }
        if (status.st_size == 0) {
            return {};
        }
        size_ = static_cast<std::size_t>(status.st_size);
        void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped == MAP_FAILED) {
            return SystemError();
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

QString KindText(const mpeg::FrameHeader& header) {
    const char* version = header.version == 3 ? "MPEG-1" : (header.version == 2 ? "MPEG-2" : "MPEG-2.5");
    return QStringLiteral("%1 Layer III, %2 Hz, %3")
        .arg(QLatin1String(version))
        .arg(header.sampleRate)
        .arg(header.mono ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

// Reads and scans one input; the reason it cannot be copied, or an empty text.
QString ReadPart(Part& part) {
    part.file = std::make_unique<platform::Descriptor>(
        open(QFile::encodeName(part.path).constData(), O_RDONLY | O_CLOEXEC));
    if (part.file->Get() < 0) {
        return SystemError();
    }
    InputBytes bytes;
    if (QString failure = bytes.Load(part.file->Get()); !failure.isEmpty()) {
        return failure;
    }
    part.frames = mpeg::FindAudioFrames(bytes.Data(), bytes.Size());
    switch (part.frames.fault) {
        case mpeg::AudioFrames::Fault::NoFrames:
            return QStringLiteral("holds no MP3 (MPEG audio Layer III) frames; --copy joins MP3 files only");
        case mpeg::AudioFrames::Fault::KindChanges:
            return QStringLiteral(
                       "changes to frames of another rate or channel count at byte %1; --copy needs "
                       "one kind of frame throughout")
                .arg(part.frames.faultOffset);
        case mpeg::AudioFrames::Fault::None:
            break;
    }
    for (const mpeg::ByteRun& run : part.frames.runs) {
        part.crc = mpeg::Crc16(bytes.Data() + run.offset, run.bytes, part.crc);
    }
    return {};
}

// Every input read and checked against the first; the first that cannot be joined is named.
int ReadParts(const JoinOptions& options, std::vector<Part>& parts) {
    const QStringList paths = InputPaths(options);
    for (const QString& path : paths) {
        if (Interrupted()) {
            return kExitInterrupted;
        }
        Part& part = parts.emplace_back();
        part.path = path;
        QString refusal = ReadPart(part);
        const mpeg::FrameHeader& first = parts.front().frames.first;
        if (refusal.isEmpty() && !mpeg::SameKind(part.frames.first, first)) {
            refusal = QStringLiteral(
                          "%1, unlike %2 (%3); --copy joins files of one MPEG version, rate and "
                          "channel count")
                          .arg(KindText(part.frames.first), parts.front().path, KindText(first));
        }
        if (!refusal.isEmpty()) {
            PrintError(path + QStringLiteral(": ") + refusal);
            return kExitUsage;
        }
    }
    return kExitJoined;
}

// Carries the checksum on over size bytes of the file from offset, read again.
bool CrcOfFile(int fd, std::size_t offset, std::size_t size, std::uint16_t& crc) {
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(size, std::size_t{1} << 20));
    while (size > 0) {
        const ssize_t got =
            pread(fd, buffer.data(), std::min(size, buffer.size()), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        crc = mpeg::Crc16(buffer.data(), static_cast<std::size_t>(got), crc);
        offset += static_cast<std::size_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// The counts of the first frames frames of the parts, for the tag frame in front of them. Whole
// parts bring their checksums; a part the copy stopped in is read again up to where it stopped.
struct Totals {
    mpeg::SeekTable seek;
    std::uint64_t bytes = 0;
    std::uint16_t musicCrc = 0;
};

std::optional<Totals> Count(const std::vector<Part>& parts, std::size_t frames) {
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
            if (!CrcOfFile(part.file->Get(), run.offset, take, totals.musicCrc)) {
                return std::nullopt;
            }
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

std::vector<std::uint8_t> TagFrame(const std::vector<Part>& parts) {
    int constantKbps = parts.front().frames.kbps.front();
    for (const Part& part : parts) {
        for (const std::uint16_t kbps : part.frames.kbps) {
            constantKbps = kbps == constantKbps ? constantKbps : 0;
        }
    }
    const std::optional<mpeg::EncoderTag>& encoder = parts.front().frames.encoder;
    return mpeg::NewTagFrame(parts.front().frames.firstHeader.data(), constantKbps,
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

// Copies byte ranges of the inputs to the output: in the kernel from file to file, else from a
// file to anything sendfile reaches, else through a buffer. A way the two ends do not allow fails
// on its first use and the next is tried; a way that has worked and fails is a failure.
class RangeCopy {
public:
    explicit RangeCopy(int out) : out_(out) {}

    bool Copy(int in, std::size_t offset, std::size_t size) {
        while (size > 0) {
            ssize_t done = -1;
            switch (way_) {
                case Way::Kernel: {
                    loff_t from = static_cast<loff_t>(offset);
                    done = copy_file_range(in, &from, out_, nullptr, size, 0);
                    break;
                }
                case Way::Sendfile: {
                    off_t from = static_cast<off_t>(offset);
                    done = sendfile(out_, in, &from, size);
                    break;
                }
                case Way::Buffer:
                    done = ThroughBuffer(in, offset, size);
                    break;
            }
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done < 0 && !worked_ && way_ != Way::Buffer) {
                way_ = static_cast<Way>(static_cast<int>(way_) + 1);
                continue;
            }
            if (done <= 0) {
                errno = done == 0 ? EIO : errno;  // 0: the input ended early, shortened meanwhile
                return false;
            }
            worked_ = true;
            offset += static_cast<std::size_t>(done);
            size -= static_cast<std::size_t>(done);
        }
        return true;
    }

private:
    enum class Way { Kernel, Sendfile, Buffer };

    ssize_t ThroughBuffer(int in, std::size_t offset, std::size_t size) {
        buffer_.resize(std::size_t{1} << 20);
        const ssize_t got =
            pread(in, buffer_.data(), std::min(size, buffer_.size()), static_cast<off_t>(offset));
        if (got <= 0) {
            return got;
        }
        return WriteAll(out_, buffer_.data(), static_cast<std::size_t>(got)) ? got : -1;
    }

    int out_;
    Way way_ = Way::Kernel;
    bool worked_ = false;
    std::vector<std::uint8_t> buffer_;
};

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

// Copies every part's frames in blocks of whole frames, so an interrupt leaves a stream that ends
// with a whole frame; the number of frames written.
struct Written {
    std::size_t frames = 0;
    std::size_t bytes = 0;
    bool ok = true;
};

Written WriteFrames(int fd, const std::vector<Part>& parts, std::size_t start, Writeback* writeback) {
    constexpr std::size_t kBlock = std::size_t{4} << 20;
    RangeCopy copy(fd);
    Written written;
    for (const Part& part : parts) {
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
                if (Interrupted()) {
                    return written;
                }
                if (!copy.Copy(part.file->Get(), at, block)) {
                    written.ok = false;
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

// What the joins keep of the parts' own encoder delay and padding, which only decoding could take
// out; and which parts reach back into bytes before their first frame.
void PrintNotes(const std::vector<Part>& parts) {
    long long kept = 0;
    int untagged = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::optional<mpeg::EncoderTag>& encoder = parts[i].frames.encoder;
        untagged += encoder ? 0 : 1;
        if (encoder) {
            kept += (i > 0 ? encoder->delay : 0) + (i + 1 < parts.size() ? encoder->padding : 0);
        }
        if (parts[i].frames.firstMainDataBegin > 0) {
            PrintError(parts[i].path +
                       QStringLiteral(": its first frame takes %1 bytes of bit reservoir from "
                                      "before it; joined, they come from what precedes it")
                           .arg(parts[i].frames.firstMainDataBegin));
        }
    }
    if (parts.size() < 2) {
        return;
    }
    QString note =
        QStringLiteral("%1 samples (%2 s) of the parts' encoder delay and padding stay between them")
            .arg(kept)
            .arg(static_cast<double>(kept) / parts.front().frames.first.sampleRate, 0, 'f', 3);
    if (untagged > 0) {
        note += QStringLiteral(", besides what the %1 parts without an encoder tag hold").arg(untagged);
    }
    PrintError(note);
}

// The output as the plan reaches it: a descriptor to write to and whether the tag can be
// rewritten at the end.
struct Sink {
    int fd = -1;
    std::unique_ptr<platform::Descriptor> owned;
    bool seekable = false;
    bool replaces = false;  // a hidden file renamed over an existing output at the end
};

Sink OpenSink(const OutputPlan& plan, const QString& stagePath) {
    Sink sink;
    switch (plan.way) {
        case OutputWay::Renamed:
        case OutputWay::InPlace: {
            const QByteArray name = QFile::encodeName(plan.way == OutputWay::Renamed ? stagePath : plan.path);
            const int flags = O_WRONLY | O_CLOEXEC;
            sink.owned = std::make_unique<platform::Descriptor>(open(name.constData(), flags));
            sink.fd = sink.owned->Get();
            sink.seekable = plan.way == OutputWay::Renamed;
            sink.replaces = plan.way == OutputWay::Renamed && QFileInfo::exists(plan.path);
            break;
        }
        case OutputWay::StdoutFile:
            sink.fd = STDOUT_FILENO;
            sink.seekable = true;
            break;
        case OutputWay::Relayed:
            if (plan.path.isEmpty()) {
                sink.fd = STDOUT_FILENO;
            } else {
                sink.owned = std::make_unique<platform::Descriptor>(ConnectSocket(plan.path));
                sink.fd = sink.owned->Get();
            }
            break;
    }
    return sink;
}

// Writes the tag frame and the frames; after an interrupt a seekable output gets the counts of
// what it holds. kExitJoined, kExitInterrupted, or kExitFailed with the message shown.
int WriteOutput(const Sink& sink, const QString& shown, const std::vector<Part>& parts,
                const QByteArray& id3) {
    std::vector<std::uint8_t> tag = TagFrame(parts);
    const bool lame = parts.front().frames.encoder.has_value();
    const int padding = parts.back().frames.encoder ? parts.back().frames.encoder->padding : 0;
    const std::optional<Totals> totals = Count(parts, std::numeric_limits<std::size_t>::max());
    if (tag.empty() || !totals || !PatchTag(tag, *totals, padding, lame)) {
        PrintError(shown + QStringLiteral(": no tag frame fits these frames"));
        return kExitFailed;
    }
    const auto fail = [&] {
        PrintError(shown + QStringLiteral(": ") + SystemError());
        return kExitFailed;
    };
    const auto* id3Bytes = reinterpret_cast<const std::uint8_t*>(id3.constData());
    const auto id3Size = static_cast<std::size_t>(id3.size());
    if (sink.fd < 0 || !WriteAll(sink.fd, id3Bytes, id3Size) || !WriteAll(sink.fd, tag.data(), tag.size())) {
        return fail();
    }
    std::optional<Writeback> writeback;
    if (sink.replaces) {
        writeback.emplace(sink.fd);
    }
    const Written written =
        WriteFrames(sink.fd, parts, id3Size + tag.size(), writeback ? &*writeback : nullptr);
    if (!written.ok) {
        return fail();
    }
    if (Interrupted() && sink.seekable) {
        const std::optional<Totals> partial = Count(parts, written.frames);
        if (!partial || !PatchTag(tag, *partial, 0, lame) ||
            pwrite(sink.fd, tag.data(), tag.size(), static_cast<off_t>(id3Size)) !=
                static_cast<ssize_t>(tag.size())) {
            return fail();
        }
    }
    // Standard output at the start of a regular file is the whole output, as when it is reopened.
    if (sink.fd == STDOUT_FILENO && sink.seekable &&
        ftruncate(sink.fd, static_cast<off_t>(id3Size + tag.size() + written.bytes)) != 0) {
        return fail();
    }
    return Interrupted() ? kExitInterrupted : kExitJoined;
}

// Where each part ends in what a gapless player plays: whole frames, less the first part's
// encoder delay and the last part's padding, which the new tag frame tells it to trim.
std::vector<std::uint64_t> PartEnds(const std::vector<Part>& parts) {
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

}  // namespace

int RunCopy(const JoinOptions& options) {
    const OutputPlan plan = options.output == QLatin1String("-") ? PlanStdout() : PlanPath(options);
    if (!plan.refusal.isEmpty()) {
        PrintError(plan.refusal);
        return kExitUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<Part> parts;
    parts.reserve(static_cast<std::size_t>(options.inputs.size()));
    const int read = ReadParts(options, parts);
    if (read != kExitJoined) {
        return read;
    }

    std::unique_ptr<PartialOutput> partial;
    if (plan.way == OutputWay::Renamed) {
        partial = std::make_unique<PartialOutput>(plan.path);
        if (!partial->Create()) {
            PrintError(plan.path + QStringLiteral(": ") + partial->ErrorText());
            return kExitFailed;
        }
    }
    // Tags and chapters as for an encoded output, in an ID3v2 tag before the tag frame.
    QStringList paths;
    for (const Part& part : parts) {
        paths << part.path;
    }
    const OutputMetadata metadata(options, paths);
    const std::vector<std::uint64_t> ends = PartEnds(parts);
    const int sampleRate = parts.front().frames.first.sampleRate;
    join::JoinOutput tagged;
    tagged.kind = join::OutputKind::Mp3;
    metadata.AddTo(tagged, ends, sampleRate);
    int status = kExitFailed;
    {
        const Sink sink = OpenSink(plan, partial ? partial->Path() : QString());
        status = WriteOutput(sink, plan.shown, parts, tagged.mp3Tag);
    }
    if (status == kExitFailed) {
        return status;
    }
    if (partial && !partial->Commit(options.overwrite)) {
        PrintError(plan.path + QStringLiteral(": ") + SystemError());
        return kExitFailed;
    }
    if (status == kExitJoined && !options.cue.isEmpty() &&
        !metadata.WriteCueSheet(options, ends, sampleRate)) {
        return kExitFailed;
    }
    // Interrupted, the output holds fewer joins than the note would count.
    if (!options.quiet && status == kExitJoined) {
        PrintNotes(parts);
    }
    return status;
}

}  // namespace cli
