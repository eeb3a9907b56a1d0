#include "app/cli/Mp3Copy.h"

#include "app/cli/Interrupt.h"
#include "app/cli/JoinCommand.h"
#include "app/cli/OutputMetadata.h"
#include "app/cli/OutputTarget.h"
#include "mpeg/AudioFrames.h"
#include "mpeg/InfoTag.h"
#include "platform/Descriptor.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace cli {
namespace {

struct Part {
    QString path;
    std::unique_ptr<QFile> file;  // holds the mapping
    const std::uint8_t* data = nullptr;
    mpeg::AudioFrames frames;
};

QString KindText(const mpeg::FrameHeader& header) {
    const char* version = header.version == 3 ? "MPEG-1" : (header.version == 2 ? "MPEG-2" : "MPEG-2.5");
    return QStringLiteral("%1 Layer III, %2 Hz, %3")
        .arg(QLatin1String(version))
        .arg(header.sampleRate)
        .arg(header.mono ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

// Maps and scans one input; the reason it cannot be copied, or an empty text.
QString ReadPart(Part& part) {
    part.file = std::make_unique<QFile>(part.path);
    if (!part.file->open(QIODevice::ReadOnly)) {
        return part.file->errorString();
    }
    const qint64 size = part.file->size();
    part.data = size > 0 ? part.file->map(0, size) : nullptr;
    if (size > 0 && part.data == nullptr) {
        return part.file->errorString();
    }
    part.frames = mpeg::FindAudioFrames(part.data, static_cast<std::size_t>(size));
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

// The counts of the first frames frames of the parts, for the tag frame in front of them.
struct Totals {
    mpeg::SeekTable seek;
    std::uint64_t bytes = 0;
    std::uint16_t musicCrc = 0;
};

Totals Count(const std::vector<Part>& parts, std::size_t frames) {
    Totals totals;
    for (const Part& part : parts) {
        std::size_t index = 0;
        for (const mpeg::ByteRun& run : part.frames.runs) {
            // Whole runs at once: the checksum takes eight bytes a step.
            std::size_t bytes = 0;
            for (; bytes < run.bytes && frames > 0; --frames) {
                totals.seek.Add(part.frames.kbps[index]);
                bytes += part.frames.sizes[index++];
            }
            totals.musicCrc = mpeg::Crc16(part.data + run.offset, bytes, totals.musicCrc);
            totals.bytes += bytes;
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

// Writes every part's frames in blocks of whole frames, so an interrupt leaves a stream that ends
// with a whole frame; the number of frames written.
struct Written {
    std::size_t frames = 0;
    std::size_t bytes = 0;
    bool ok = true;
};

Written WriteFrames(int fd, const std::vector<Part>& parts) {
    constexpr std::size_t kBlock = 1 << 20;
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
                if (!WriteAll(fd, part.data + at, block)) {
                    written.ok = false;
                    return written;
                }
                written.frames += frames;
                written.bytes += block;
                at += block;
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
};

Sink OpenSink(const OutputPlan& plan, const QString& stagePath) {
    Sink sink;
    switch (plan.way) {
        case OutputWay::Renamed:
        case OutputWay::InPlace: {
            const QByteArray name = QFile::encodeName(plan.way == OutputWay::Renamed ? stagePath : plan.path);
            const int flags = O_WRONLY | O_CLOEXEC | (plan.way == OutputWay::Renamed ? O_TRUNC : 0);
            sink.owned = std::make_unique<platform::Descriptor>(open(name.constData(), flags));
            sink.fd = sink.owned->Get();
            sink.seekable = plan.way == OutputWay::Renamed;
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
    if (tag.empty() || !PatchTag(tag, Count(parts, std::numeric_limits<std::size_t>::max()), padding, lame)) {
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
    const Written written = WriteFrames(sink.fd, parts);
    if (!written.ok) {
        return fail();
    }
    if (Interrupted() && sink.seekable) {
        PatchTag(tag, Count(parts, written.frames), 0, lame);
        if (pwrite(sink.fd, tag.data(), tag.size(), static_cast<off_t>(id3Size)) !=
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
