#include "join/WavOutput.h"

#include "join/JoinHost.h"
#include "join/PacedCopy.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
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

}  // namespace

bool FinishWavSizes(QFile& file, std::uint64_t maxRiffSize, qint64 trailing) {
    const qint64 fileSize = file.size();
    if (fileSize < kWavHeaderSize + trailing) {
        return false;
    }
    const std::uint64_t riffSize = static_cast<std::uint64_t>(fileSize) - 8;
    std::uint32_t riffField = kToTheEnd;
    std::uint32_t dataField = kToTheEnd;
    if (riffSize <= maxRiffSize) {
        riffField = static_cast<std::uint32_t>(riffSize);
        dataField = static_cast<std::uint32_t>(riffSize - 36 - static_cast<std::uint64_t>(trailing));
    }
    char field[4];
    PutLe32(field, riffField);
    if (!file.seek(4) || !WriteAll(file, field, 4)) {
        return false;
    }
    PutLe32(field, dataField);
    return file.seek(40) && WriteAll(file, field, 4);
}

qint64 AppendWavChunks(QFile& file, qint64 dataSize, const QByteArray& chunks, std::uint64_t maxRiffSize,
                       bool& writeFailed) {
    // The chunks after the data start at an even offset: an odd data size gets its pad byte.
    const qint64 pad = dataSize % 2;
    if (chunks.isEmpty() || static_cast<std::uint64_t>(36 + dataSize + pad + chunks.size()) > maxRiffSize) {
        return 0;
    }
    const QByteArray after = QByteArray(static_cast<int>(pad), '\0') + chunks;
    if (file.seek(kWavHeaderSize + dataSize) && WriteAll(file, after.constData(), after.size())) {
        return after.size();
    }
    // What did get written would be read as audio.
    file.resize(kWavHeaderSize + dataSize);
    writeFailed = true;
    return 0;
}

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

WavOutputResult WriteWavOutput(const QString& tempPcmFile, const QString& outputPath, const WavTarget& target,
                               JoinHost& host, std::uint64_t maxRiffSize, const QByteArray& trailingChunks) {
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
    const bool headerWritten = WriteAll(output, header.constData(), header.size());

    // Whole frames only, also after a stop and when the temporary file ends in a partial frame: the
    // data size must be a multiple of the block alignment, or a reader pairs the wrong samples.
    const qint64 frameBytes = std::max(1, (target.channels * target.bits) / 8);
    const qint64 dataSize = input.size() / frameBytes * frameBytes;
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
        !output.resize(kWavHeaderSize + total / frameBytes * frameBytes)) {
        writeFailed = true;
    }

    const qint64 trailing = streaming || writeFailed || readFailed
                                ? 0
                                : AppendWavChunks(output, total / frameBytes * frameBytes, trailingChunks,
                                                  maxRiffSize, writeFailed);
    // A full disk still lets the header be patched in place, which leaves a valid shorter file.
    if (!streaming && !FinishWavSizes(output, maxRiffSize, trailing)) {
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
