#include "join/WavOutput.h"

#include "join/JoinHost.h"

#include <QFile>
#include <QtEndian>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace join {

namespace {

// Both size fields when the real sizes cannot be written: read to the end.
constexpr std::uint32_t kToTheEnd = 0xFFFFFFFFu;

void PutLe16(char* at, std::uint16_t value) {
    qToLittleEndian(value, at);
}
void PutLe32(char* at, std::uint32_t value) {
    qToLittleEndian(value, at);
}

void ShowError(JoinHost& host, const QString& text) {
    host.MessageBox(text, QStringLiteral("Error"), 0);
}

// Writes all of data or reports false; a short write counts as failed.
bool WriteAll(QFile& file, const char* data, qint64 size) {
    return file.write(data, size) == size;
}

// Fills in the two size fields from the file's current length, so the header describes what is
// really in the file, even after a stop or a failed write.
bool PatchSizes(QFile& file, std::uint64_t maxRiffSize) {
    const qint64 fileSize = file.size();
    if (fileSize < kWavHeaderSize) {
        return false;
    }
    const std::uint64_t riffSize = static_cast<std::uint64_t>(fileSize) - 8;
    std::uint32_t riffField = kToTheEnd;
    std::uint32_t dataField = kToTheEnd;
    if (riffSize <= maxRiffSize) {
        riffField = static_cast<std::uint32_t>(riffSize);
        dataField = static_cast<std::uint32_t>(riffSize - 36);
    }
    char field[4];
    PutLe32(field, riffField);
    if (!file.seek(4) || !WriteAll(file, field, 4)) {
        return false;
    }
    PutLe32(field, dataField);
    return file.seek(40) && WriteAll(file, field, 4);
}

}  // namespace

QByteArray WavHeader(const WavTarget& target, std::uint32_t riffSize, std::uint32_t dataSize) {
    QByteArray header(kWavHeaderSize, '\0');
    char* h = header.data();
    const auto blockAlign = static_cast<std::uint16_t>((target.channels * target.bits) / 8);
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, riffSize);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, static_cast<std::uint16_t>(target.channels));
    PutLe32(h + 24, static_cast<std::uint32_t>(target.sampleRate));
    PutLe32(h + 28, static_cast<std::uint32_t>(target.sampleRate) * blockAlign);
    PutLe16(h + 32, blockAlign);
    PutLe16(h + 34, static_cast<std::uint16_t>(target.bits));
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataSize);
    return header;
}

CopyPace::CopyPace(qint64 frameBytes) : frameBytes_(frameBytes), chunk_(Whole(kWavCopyBlock)) {}

void CopyPace::Finish() {
    const qint64 ms = clock_.elapsed();
    if (ms < kFastMs) {
        chunk_ = Whole(std::min(chunk_ * 2, kMaxChunk));
    } else if (ms > kSlowMs) {
        chunk_ = Whole(std::max<qint64>(chunk_ / 2, kWavCopyBlock));
    }
}

qint64 CopyPace::Whole(qint64 bytes) const {
    return std::max(frameBytes_, bytes / frameBytes_ * frameBytes_);
}

qint64 ByteMover::Move(qint64 size, Fault& fault) {
    qint64 done = 0;
    while (done < size && fault == Fault::None) {
        const qint64 moved = kernelCopy_ ? KernelCopy(size - done, fault) : ReadWrite(size - done, fault);
        if (moved == 0 && fault == Fault::None && !retry_) {
            break;
        }
        retry_ = false;
        done += moved;
    }
    return done;
}

qint64 ByteMover::KernelCopy(qint64 size, Fault& fault) {
    const ssize_t moved = copy_file_range(in_, nullptr, out_, nullptr, static_cast<std::size_t>(size), 0);
    if (moved >= 0) {
        return moved;
    }
    retry_ = true;
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) {
        fault = Fault::Write;
    } else if (errno != EINTR) {
        // Unsupported between these files, or an error of either side: reads and writes take over
        // and, on an error, tell which side it was.
        kernelCopy_ = false;
    }
    return 0;
}

qint64 ByteMover::ReadWrite(qint64 size, Fault& fault) {
    buffer_.resize(kBuffer);
    const ssize_t got = read(in_, buffer_.data(), static_cast<std::size_t>(std::min(size, kBuffer)));
    if (got < 0) {
        retry_ = errno == EINTR;
        fault = retry_ ? Fault::None : Fault::Read;
        return 0;
    }
    qint64 written = 0;
    while (written < got) {
        const ssize_t put = write(out_, buffer_.data() + written, static_cast<std::size_t>(got - written));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            fault = Fault::Write;
            break;
        }
        written += put;
    }
    return written;
}

WavOutputResult WriteWavOutput(const QString& tempPcmFile, const QString& outputPath, const WavTarget& target,
                               JoinHost& host, std::uint64_t maxRiffSize) {
    QFile input(tempPcmFile);
    if (!input.open(QIODevice::ReadOnly)) {
        ShowError(host, QStringLiteral("Could not open '") + tempPcmFile + QLatin1Char('\''));
        host.SetJoinFailed();
        return WavOutputResult::Failed;
    }
    // Unbuffered, so every failed write shows at the call that made it and not later at close.
    QFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        host.MessageBox(QStringLiteral("Cannot creat the output file."), QStringLiteral("Error"), 0);
        return WavOutputResult::CannotCreate;
    }

    // A pipe or a device cannot go back to the header, so it gets the streaming sizes at once.
    const bool streaming = output.isSequential();
    const QByteArray header = streaming ? WavHeader(target, kToTheEnd, kToTheEnd) : WavHeader(target, 0, 0);
    bool writeFailed = !WriteAll(output, header.constData(), header.size());
    bool readFailed = false;
    bool terminated = false;

    // Whole frames only, also after a stop and when the temporary file ends in a partial frame: the
    // data size must be a multiple of the block alignment, or a reader pairs the wrong samples.
    const qint64 frameBytes = std::max(1, (target.channels * target.bits) / 8);
    const qint64 dataSize = input.size() / frameBytes * frameBytes;
    qint64 total = 0;
    CopyPace pace(frameBytes);
    ByteMover mover(input.handle(), output.handle());
    ByteMover::Fault fault = writeFailed ? ByteMover::Fault::Write : ByteMover::Fault::None;
    while (fault == ByteMover::Fault::None && total < dataSize) {
        pace.Start();
        const qint64 count = mover.Move(std::min(pace.Chunk(), dataSize - total), fault);
        total += count;
        if (count == 0) {
            break;
        }
        host.SetOutputProgress(static_cast<int>(static_cast<double>(total) * 100.0 / dataSize));
        host.ProcessMessages();
        if (host.Terminated()) {
            terminated = true;
            break;
        }
        pace.Finish();
    }
    writeFailed = fault == ByteMover::Fault::Write;
    readFailed = fault == ByteMover::Fault::Read && !terminated;
    // A file cut short while it is copied can end mid-frame too.
    if (!streaming && total % frameBytes != 0 &&
        !output.resize(kWavHeaderSize + total / frameBytes * frameBytes)) {
        writeFailed = true;
    }

    // A full disk still lets the header be patched in place, which leaves a valid shorter file.
    if (!streaming && !PatchSizes(output, maxRiffSize)) {
        writeFailed = true;
    }
    output.close();
    input.close();

    if (writeFailed) {
        ShowError(host, QStringLiteral("Could not write '") + outputPath + QLatin1Char('\''));
    } else if (readFailed) {
        ShowError(host, QStringLiteral("Could not read '") + tempPcmFile + QLatin1Char('\''));
    }
    if (writeFailed || readFailed) {
        host.SetJoinFailed();
        return WavOutputResult::Failed;
    }
    return terminated ? WavOutputResult::Terminated : WavOutputResult::Done;
}

}  // namespace join
