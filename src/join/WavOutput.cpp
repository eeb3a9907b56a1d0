// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/WavOutput.h"

#include "join/JoinHost.h"
#include "join/PacedCopy.h"
#include "platform/FilePath.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

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
void PutLe64(char* at, std::uint64_t value) {
    qToLittleEndian(value, at);
}

std::uint16_t BlockAlign(const WavTarget& target) {
    return static_cast<std::uint16_t>((target.channels * target.bits) / 8);
}

// The usual speakers of a channel count (centre; left, right; quad; 5.1; 7.1), as sox writes
// them; 0, no assignment, for the counts without a usual layout.
std::uint32_t ChannelMask(int channels) {
    switch (channels) {
        case 1:
            return 0x4;
        case 2:
            return 0x3;
        case 4:
            return 0x33;
        case 6:
            return 0x3F;
        case 8:
            return 0x63F;
        default:
            return 0;
    }
}

void ShowError(JoinHost& host, const QString& text) {
    host.MessageBox(text, QStringLiteral("Error"), 0);
}

// Writes all of data or reports false; a short write counts as failed.
bool WriteAll(QFile& file, const char* data, qint64 size) {
    return file.write(data, size) == size;
}

// The RIFF size of a file with this header, data and trailing chunks; the data chunk gets its pad
// byte only when chunks follow it, so a file without them keeps the length it always had.
std::uint64_t RiffSize(int headerSize, std::uint64_t dataSize, std::uint64_t trailingSize) {
    const std::uint64_t pad = trailingSize > 0 ? dataSize % 2 : 0;
    return static_cast<std::uint64_t>(headerSize) - 8 + dataSize + pad + trailingSize;
}

// The 80-byte header. When either size exceeds maxRiffSize it is RF64: "RF64", a ds64 chunk with
// both sizes and the frame count, 0xFFFFFFFF in both 32-bit fields. Otherwise a RIFF header whose
// JUNK chunk keeps the room, so the same file can still become RF64 without moving its data.
QByteArray WideWavHeader(const WavTarget& target, std::uint64_t riffSize, std::uint64_t dataSize,
                         std::uint64_t maxRiffSize) {
    const bool rf64 = riffSize > maxRiffSize || dataSize > maxRiffSize;
    const QByteArray canonical =
        rf64 ? WavHeader(target, kToTheEnd, kToTheEnd)
             : WavHeader(target, static_cast<std::uint32_t>(riffSize), static_cast<std::uint32_t>(dataSize));
    // The ds64 chunk without a table: RIFF size, data size, frame count, table length 0.
    QByteArray lead(kRf64Room, '\0');
    char* l = lead.data();
    std::memcpy(l, rf64 ? "ds64" : "JUNK", 4);
    PutLe32(l + 4, static_cast<std::uint32_t>(lead.size() - 8));
    if (rf64) {
        const std::uint16_t blockAlign = BlockAlign(target);
        PutLe64(l + 8, riffSize);
        PutLe64(l + 16, dataSize);
        PutLe64(l + 24, blockAlign > 0 ? dataSize / blockAlign : 0);
    }
    QByteArray header = canonical.left(12) + lead + canonical.mid(12);
    if (rf64) {
        std::memcpy(header.data(), "RF64", 4);
    }
    return header;
}

QByteArray Header(const WavTarget& target, bool wide, std::uint64_t riffSize, std::uint64_t dataSize,
                  std::uint64_t maxRiffSize) {
    return wide ? WideWavHeader(target, riffSize, dataSize, maxRiffSize)
                : WavHeader(target, static_cast<std::uint32_t>(riffSize),
                            static_cast<std::uint32_t>(dataSize));
}

// The data chunk's pad byte, when the data is odd, then the trailing chunks.
bool AppendTrailing(QFile& file, bool streaming, qint64 dataEnd, qint64 dataSize, const QByteArray& chunks) {
    const QByteArray tail = dataSize % 2 == 1 ? QByteArray(1, '\0') + chunks : chunks;
    return (streaming || file.seek(dataEnd)) && WriteAll(file, tail.constData(), tail.size());
}

// The header written before the data. A pipe or a device cannot go back to it, so it gets its sizes
// at once: the streaming ones, or the real ones where chunks after the data must not be read as
// samples, and past the limit RF64's.
QByteArray FirstHeader(const WavTarget& target, bool wide, bool streaming, std::uint64_t dataSize,
                       std::uint64_t trailingSize, std::uint64_t maxRiffSize) {
    if (!streaming) {
        return Header(target, wide, 0, 0, maxRiffSize);
    }
    if (!wide && trailingSize == 0) {
        return WavHeader(target, kToTheEnd, kToTheEnd);
    }
    const int headerSize = WavHeaderSize(target) + (wide ? kRf64Room : 0);
    return Header(target, wide, RiffSize(headerSize, dataSize, trailingSize), dataSize, maxRiffSize);
}

// Puts the trailing chunks (if any) behind the data in the file and rewrites the header from the
// file's length, so it describes what is really there, even after a stop or a failed write; a full
// disk still lets the header be patched in place. False when a write failed.
bool FinishFile(QFile& file, const WavTarget& target, bool wide, const QByteArray& trailingChunks,
                std::uint64_t maxRiffSize) {
    const int headerSize = WavHeaderSize(target) + (wide ? kRf64Room : 0);
    const qint64 dataSize = file.size() - headerSize;
    if (dataSize < 0) {
        return false;
    }
    bool ok = true;
    if (!trailingChunks.isEmpty() &&
        !AppendTrailing(file, false, headerSize + dataSize, dataSize, trailingChunks)) {
        file.resize(headerSize + dataSize);
        ok = false;
    }
    const QByteArray header = Header(target, wide, static_cast<std::uint64_t>(file.size()) - 8,
                                     static_cast<std::uint64_t>(dataSize), maxRiffSize);
    return file.seek(0) && WriteAll(file, header.constData(), header.size()) && ok;
}

}  // namespace

int WavHeaderSize(const WavTarget& target) {
    constexpr int kFloatExtra = 2 + 12;  // cbSize, then the fact chunk
    constexpr int kExtensibleExtra = 24;
    return kWavHeaderSize + (target.isFloat ? kFloatExtra : target.bits > 16 ? kExtensibleExtra : 0);
}

QByteArray WavHeader(const WavTarget& target, std::uint32_t riffSize, std::uint32_t dataSize) {
    // Deeper integer PCM needs the extensible format chunk: readers may take its plain form for
    // samples in the low bits of the container. More channels alone keep the plain form they had.
    const bool extensible = !target.isFloat && target.bits > 16;
    const int formatSize = target.isFloat ? 18 : extensible ? 40 : 16;
    QByteArray header(WavHeaderSize(target), '\0');
    char* h = header.data();
    const std::uint16_t blockAlign = BlockAlign(target);
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, riffSize);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, static_cast<std::uint32_t>(formatSize));
    const std::uint16_t tag = target.isFloat ? 3 : extensible ? 0xFFFE : 1;
    PutLe16(h + 20, tag);
    PutLe16(h + 22, static_cast<std::uint16_t>(target.channels));
    PutLe32(h + 24, static_cast<std::uint32_t>(target.sampleRate));
    PutLe32(h + 28, static_cast<std::uint32_t>(target.sampleRate) * blockAlign);
    PutLe16(h + 32, blockAlign);
    PutLe16(h + 34, static_cast<std::uint16_t>(target.bits));
    char* next = h + 36;
    if (extensible) {
        const std::uint32_t mask = ChannelMask(target.channels);
        PutLe16(next, 22);
        PutLe16(next + 2, static_cast<std::uint16_t>(target.bits));
        PutLe32(next + 4, mask);
        std::memcpy(next + 8, "\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
        next += 24;
    } else if (target.isFloat) {
        // cbSize 0, then the frame count every non-PCM file carries.
        next += 2;
        std::memcpy(next, "fact", 4);
        PutLe32(next + 4, 4);
        PutLe32(next + 8, dataSize == kToTheEnd ? kToTheEnd : blockAlign > 0 ? dataSize / blockAlign : 0);
        next += 12;
    }
    std::memcpy(next, "data", 4);
    PutLe32(next + 4, dataSize);
    return header;
}

QByteArray StartingWavHeader(const WavTarget& target, bool wide) {
    return Header(target, wide, 0, 0, kMaxRiffSize);
}

StraightWavEnd FinishStraightWav(QFile& file, const WavTarget& target, bool wide,
                                 const QByteArray& trailingChunks, JoinHost& host,
                                 std::uint64_t maxRiffSize) {
    const qint64 start = WavHeaderSize(target) + (wide ? kRf64Room : 0);
    const qint64 dataSize = file.size() - start;
    if (dataSize < 0) {
        return StraightWavEnd::Failed;
    }
    const bool needsWide = RiffSize(WavHeaderSize(target), static_cast<std::uint64_t>(dataSize),
                                    static_cast<std::uint64_t>(trailingChunks.size())) > maxRiffSize;
    if (needsWide != wide) {
        const MoveResult moved = MoveWithinFile(file.handle(), start, dataSize,
                                                needsWide ? kRf64Room : -kRf64Room, BlockAlign(target), host);
        if (moved != MoveResult::Done) {
            return moved == MoveResult::Terminated ? StraightWavEnd::Terminated : StraightWavEnd::Failed;
        }
        if (!needsWide && !file.resize(start - kRf64Room + dataSize)) {
            return StraightWavEnd::Failed;
        }
    }
    return FinishFile(file, target, needsWide, trailingChunks, maxRiffSize) ? StraightWavEnd::Done
                                                                            : StraightWavEnd::Failed;
}

WavOutputResult WriteWavOutput(const QString& tempPcmFile, const QString& outputPath, const WavTarget& target,
                               JoinHost& host, const QByteArray& trailingChunks, std::uint64_t maxRiffSize) {
    QFile input(tempPcmFile);
    if (!input.open(QIODevice::ReadOnly)) {
        ShowError(host, QStringLiteral("Could not open '") + tempPcmFile + QLatin1Char('\''));
        host.SetJoinFailed();
        return WavOutputResult::Failed;
    }
    // Unbuffered, so every failed write shows at the call that made it and not later at close.
    // A new or empty file is not truncated on opening: ext4 writes a file truncated then out to the
    // disk when it is closed, and the join would wait for gigabytes to reach it. A pipe or a device
    // is opened for writing only, as it always was, and so is a file the user may not read.
    const platform::FileStatus status(outputPath);
    const bool regular = !status.Exists() || status.IsFile();
    QFile output;
    bool opened =
        regular && platform::OpenFile(output, outputPath, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (opened && output.size() != 0 && !output.resize(0)) {
        output.close();
        opened = false;
    }
    opened = opened || platform::OpenFile(output, outputPath, QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (!opened) {
        host.MessageBox(QStringLiteral("Cannot creat the output file."), QStringLiteral("Error"), 0);
        return WavOutputResult::CannotCreate;
    }

    // Whole frames only, also after a stop and when the temporary file ends in a partial frame: the
    // data size must be a multiple of the block alignment, or a reader pairs the wrong samples.
    const qint64 frameBytes = std::max(1, (target.channels * target.bits) / 8);
    const qint64 dataSize = input.size() / frameBytes * frameBytes;
    const auto trailingSize = static_cast<std::uint64_t>(trailingChunks.size());
    // The join has written all its data before this stage starts, so the shape of the header is
    // known now: canonical while the sizes fit, else with the room RF64 needs for its ds64 chunk.
    const bool wide = RiffSize(WavHeaderSize(target), dataSize, trailingSize) > maxRiffSize;
    const int headerSize = WavHeaderSize(target) + (wide ? kRf64Room : 0);
    const bool streaming = output.isSequential();
    const QByteArray header = FirstHeader(target, wide, streaming, dataSize, trailingSize, maxRiffSize);
    const bool headerWritten = WriteAll(output, header.constData(), header.size());

    const PacedCopyResult copied =
        !headerWritten
            ? PacedCopyResult{0, ByteMover::Fault::Write, false}
            : PacedCopy(input.handle(), output.handle(), dataSize, frameBytes, host, [&](qint64 total) {
                  host.SetOutputProgress(static_cast<int>(static_cast<double>(total) * 100.0 / dataSize));
              });
    const qint64 total = copied.moved;
    const bool terminated = copied.terminated;
    bool writeFailed = copied.fault == ByteMover::Fault::Write;
    const bool readFailed = copied.fault == ByteMover::Fault::Read && !terminated;
    // A file cut short while it is copied can end mid-frame too.
    if (!streaming && total % frameBytes != 0 &&
        !output.resize(headerSize + total / frameBytes * frameBytes)) {
        writeFailed = true;
    }

    if (streaming) {
        // A stopped stream ends short of the size its header states: nothing may follow its data.
        if (!trailingChunks.isEmpty() && !writeFailed && !readFailed && !terminated &&
            !AppendTrailing(output, true, 0, total, trailingChunks)) {
            writeFailed = true;
        }
    } else if (!FinishFile(output, target, wide,
                           writeFailed || readFailed || terminated ? QByteArray() : trailingChunks,
                           maxRiffSize)) {
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
