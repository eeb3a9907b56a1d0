// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/WavOutput.h"

#include "FileSizeLimit.h"
#include "MessageRecorder.h"
#include "RecordingHost.h"
#include "audio/Waveinf.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using join::WavOutputResult;
using join::WavTarget;
using join::WriteWavOutput;

std::uint32_t Le32(const QByteArray& bytes, int at) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + at);
}
std::uint64_t Le64(const QByteArray& bytes, int at) {
    return qFromLittleEndian<std::uint64_t>(bytes.constData() + at);
}
std::uint16_t Le16(const QByteArray& bytes, int at) {
    return qFromLittleEndian<std::uint16_t>(bytes.constData() + at);
}

QByteArray Pattern(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

class WavOutputTest : public testing::Test {
protected:
    void WriteTemp(const QByteArray& bytes) {
        QFile file(tempPcm);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    QByteArray ReadOutput() const {
        QFile file(outputPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Both size fields must describe exactly what the file holds.
    static void ExpectSizesMatch(const QByteArray& wav) {
        ASSERT_GE(wav.size(), 44);
        EXPECT_EQ(Le32(wav, 4), static_cast<std::uint32_t>(wav.size() - 8));
        EXPECT_EQ(Le32(wav, 40), static_cast<std::uint32_t>(wav.size() - 44));
    }

    // The program reads its own output back with the data size it was written with.
    void ExpectReadBack(std::uint32_t dataSize) const {
        MessageRecorder recorder;
        WaveHeaderInfo info;
        EXPECT_TRUE(ReadWaveHeader(outputPath, info, WavSamples::AnyPcmOrFloat));
        EXPECT_EQ(info.dataSize, dataSize);
    }
    // What the output writes into a pipe, which it cannot seek in; the pipe holds all of it.
    QByteArray WriteToPipe(const QByteArray& trailing) {
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const QString path = QStringLiteral("/proc/self/fd/%1").arg(ends[1]);
        EXPECT_EQ(WriteWavOutput(tempPcm, path, {8000, 1, 8}, host, trailing), WavOutputResult::Done);
        close(ends[1]);
        QByteArray got(65536, '\0');
        got.resize(std::max<ssize_t>(read(ends[0], got.data(), got.size()), 0));
        close(ends[0]);
        return got;
    }

    QTemporaryDir dir;
    QString tempPcm = dir.filePath(QStringLiteral("AudioTemp.pcm"));
    QString outputPath = dir.filePath(QStringLiteral("out.wav"));
    RecordingHost host;
};

TEST_F(WavOutputTest, HeaderFieldsFollowTheTarget) {
    // Deeper PCM gets the extensible format chunk, float the IEEE one with a fact chunk.
    const struct {
        WavTarget target;
        std::uint16_t blockAlign;
        std::uint32_t byteRate;
        std::uint16_t tag;
        int size;
    } cases[] = {
        {{44100, 2, 16}, 4, 176400, 1, 44},      {{8000, 1, 8}, 1, 8000, 1, 44},
        {{96000, 6, 16}, 12, 1152000, 1, 44},    {{48000, 2, 24}, 6, 288000, 0xFFFE, 68},
        {{44100, 1, 32}, 4, 176400, 0xFFFE, 68}, {{44100, 2, 32, true}, 8, 352800, 3, 58},
    };
    for (const auto& c : cases) {
        const QByteArray h = join::WavHeader(c.target, 0, 100 * c.blockAlign);
        ASSERT_EQ(h.size(), c.size);
        EXPECT_EQ(join::WavHeaderSize(c.target), c.size);
        EXPECT_EQ(h.left(4), "RIFF");
        EXPECT_EQ(h.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(Le16(h, 20), c.tag);
        EXPECT_EQ(Le16(h, 22), c.target.channels);
        EXPECT_EQ(Le32(h, 24), static_cast<std::uint32_t>(c.target.sampleRate));
        EXPECT_EQ(Le32(h, 28), c.byteRate);
        EXPECT_EQ(Le16(h, 32), c.blockAlign);
        EXPECT_EQ(Le16(h, 34), c.target.bits);
        EXPECT_EQ(h.mid(h.size() - 8, 4), "data");
        if (c.tag == 3) {
            EXPECT_EQ(h.mid(38, 4), "fact");
            EXPECT_EQ(Le32(h, 46), 100u);  // frames
        }
    }
}

TEST_F(WavOutputTest, DataIsTheTemporaryFilesWholeFramesAndSizesArePatched) {
    // The file ends in a partial frame of the 4-byte stereo frames, which the output leaves out.
    const QByteArray pcm = Pattern(3 * 10240 + 517);
    WriteTemp(pcm);
    EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, {44100, 2, 16}, host), WavOutputResult::Done);
    const QByteArray wav = ReadOutput();
    EXPECT_EQ(wav.mid(44), pcm.chopped(1));
    ExpectSizesMatch(wav);
    // The first block is the classic one; later ones may be larger, each still followed by events.
    ASSERT_FALSE(host.outputProgress.empty());
    EXPECT_EQ(host.outputProgress.front(), 32);
    EXPECT_TRUE(std::is_sorted(host.outputProgress.begin(), host.outputProgress.end()));
    EXPECT_EQ(host.outputProgress.back(), 100);
    EXPECT_EQ(host.processed, static_cast<int>(host.outputProgress.size()));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(host.joinFailed);
}

TEST_F(WavOutputTest, EmptyJoinGivesABareHeader) {
    WriteTemp(QByteArray());
    EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, {44100, 2, 16}, host), WavOutputResult::Done);
    const QByteArray wav = ReadOutput();
    ASSERT_EQ(wav.size(), 44);
    EXPECT_EQ(Le32(wav, 4), 36u);
    EXPECT_EQ(Le32(wav, 40), 0u);
    EXPECT_TRUE(host.outputProgress.empty());
}

TEST_F(WavOutputTest, TerminatedCopyKeepsTheCopiedWholeFramesWithMatchingSizes) {
    const QByteArray pcm = Pattern(5 * 10240);
    WriteTemp(pcm);
    // 10240 bytes are not a whole number of the 6-byte frames of 16-bit 3-channel audio.
    for (const WavTarget target : {WavTarget{44100, 2, 16}, WavTarget{44100, 3, 16}}) {
        RecordingHost stopping;
        stopping.terminateAfter = 2;
        EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, target, stopping), WavOutputResult::Terminated);
        const QByteArray wav = ReadOutput();
        const QByteArray data = wav.mid(44);
        EXPECT_EQ(data, pcm.left(data.size()));
        EXPECT_GT(data.size(), 2 * 10240 - 2 * target.channels * 2);
        EXPECT_EQ(data.size() % (target.channels * 2), 0) << target.channels;
        ExpectSizesMatch(wav);
        EXPECT_FALSE(stopping.joinFailed);
    }
}

TEST_F(WavOutputTest, DataPastTheSizeLimitBecomesRf64AndAStopBelowItStaysRiff) {
    const QByteArray pcm = Pattern(20000);
    WriteTemp(pcm);
    for (const WavTarget target : {WavTarget{44100, 2, 16}, WavTarget{44100, 2, 32, true}}) {
        const int header = join::WavHeaderSize(target) + join::kRf64Room;
        const int frameBytes = target.channels * target.bits / 8;
        // The limit stands in for 4 GiB: the file is just too large for it.
        const std::uint64_t limit = 20000 + join::WavHeaderSize(target) - 8 - 1;
        EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, target, host, {}, limit), WavOutputResult::Done);
        QByteArray wav = ReadOutput();
        EXPECT_EQ(wav.left(4) + wav.mid(12, 4), "RF64ds64");
        EXPECT_EQ(Le64(wav, 20), header - 8u + 20000);
        EXPECT_EQ(Le64(wav, 28), 20000u);
        EXPECT_EQ(Le64(wav, 36), 20000u / frameBytes);  // frames
        EXPECT_EQ(Le32(wav, 4) & Le32(wav, header - 4), 0xFFFFFFFFu);
        EXPECT_EQ(wav.mid(header), pcm);
        ExpectReadBack(20000);

        // Stopped below the limit, the room left for ds64 stays a JUNK chunk of a plain RIFF file.
        RecordingHost stopping;
        stopping.terminateAfter = 1;
        EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, target, stopping, {}, limit),
                  WavOutputResult::Terminated);
        wav = ReadOutput();
        EXPECT_EQ(wav.left(4) + wav.mid(12, 4), "RIFFJUNK");
        EXPECT_EQ(Le32(wav, 4), static_cast<std::uint32_t>(wav.size() - 8));
        EXPECT_EQ(wav.mid(header), pcm.left(wav.size() - header));
        ExpectReadBack(static_cast<std::uint32_t>(wav.size() - header));

        // Exactly at the limit the canonical header still fits.
        EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, target, host, {}, limit + 1), WavOutputResult::Done);
        wav = ReadOutput();
        EXPECT_EQ(wav.left(4), "RIFF");
        EXPECT_EQ(Le32(wav, 4), static_cast<std::uint32_t>(wav.size() - 8));
        ExpectReadBack(20000);
    }
}

TEST_F(WavOutputTest, TrailingChunksFollowThePaddedDataInFilesAndStreams) {
    // 8-bit mono: the odd data gets its pad byte before the chunk.
    WriteTemp(Pattern(1001));
    const QByteArray chunk("LIST\4\0\0\0INFO", 12);
    const QByteArray tail = QByteArray(1, '\0') + chunk;
    for (const std::uint64_t limit : {join::kMaxRiffSize, std::uint64_t{1000}}) {
        const int headerSize = limit == join::kMaxRiffSize ? 44 : 80;
        EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, {8000, 1, 8}, host, chunk, limit),
                  WavOutputResult::Done);
        const QByteArray wav = ReadOutput();
        ASSERT_EQ(wav.size(), headerSize + 1001 + tail.size());
        EXPECT_EQ(wav.right(tail.size()), tail);
        EXPECT_EQ(headerSize == 80 ? Le64(wav, 20) : Le32(wav, 4), wav.size() - 8u);
        ExpectReadBack(1001);
    }
    // A stream gets its sizes at once: the streaming ones, or the real ones when chunks follow the
    // data, which would otherwise be read as samples.
    EXPECT_EQ(Le32(WriteToPipe({}), 40), 0xFFFFFFFFu);
    const QByteArray wav = WriteToPipe(chunk);
    EXPECT_EQ(wav.size(), 44 + 1001 + tail.size());
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8u);
    EXPECT_EQ(Le32(wav, 40), 1001u);
}

TEST_F(WavOutputTest, OutputThatCannotBeCreatedIsReportedWithoutFailingTheJoin) {
    WriteTemp(Pattern(100));
    const QString badPath = dir.filePath(QStringLiteral("missing/out.wav"));
    EXPECT_EQ(WriteWavOutput(tempPcm, badPath, {44100, 2, 16}, host), WavOutputResult::CannotCreate);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Cannot creat the output file."));
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(host.messages[0].flags, 0u);
    EXPECT_FALSE(host.joinFailed);
    EXPECT_TRUE(QFile::exists(tempPcm));
}

TEST_F(WavOutputTest, MissingTemporaryFileFailsTheJoinWithoutCreatingOutput) {
    EXPECT_EQ(WriteWavOutput(tempPcm, outputPath, {44100, 2, 16}, host), WavOutputResult::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(host.joinFailed);
    EXPECT_FALSE(QFile::exists(outputPath));
}

TEST_F(WavOutputTest, WriteErrorIsReportedAndTheJoinMarkedFailed) {
    const QByteArray pcm = Pattern(8 * 10240);
    WriteTemp(pcm);
    WavOutputResult result;
    {
        FileSizeLimit limit(44 + 3 * 10240 + 100);
        ASSERT_TRUE(limit.ok());
        result = WriteWavOutput(tempPcm, outputPath, {44100, 2, 16}, host);
    }
    EXPECT_EQ(result, WavOutputResult::Failed);
    EXPECT_TRUE(host.joinFailed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("Could not write '") + outputPath + QLatin1Char('\''));
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(host.messages[0].flags, 0u);
    // What did fit is still a valid file that describes itself.
    const QByteArray wav = ReadOutput();
    ExpectSizesMatch(wav);
    EXPECT_EQ(wav.mid(44), pcm.left(wav.size() - 44));
}

TEST_F(WavOutputTest, FullDeviceFailsAlreadyAtTheHeader) {
    WriteTemp(Pattern(100));
    EXPECT_EQ(WriteWavOutput(tempPcm, QStringLiteral("/dev/full"), {44100, 2, 16}, host),
              WavOutputResult::Failed);
    EXPECT_TRUE(host.joinFailed);
    EXPECT_EQ(host.messages.size(), 1u);
}

}  // namespace
