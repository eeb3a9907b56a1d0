// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TestMedia.h"
#include "flac/FlacEncode.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QProcess>

namespace {

// The PCM of a sox-made WAV of rate, channels and bits ("u8" for unsigned 8-bit).
QByteArray RawTone(int rate, int channels, int bits, double seconds) {
    const QString raw = testmedia::Dir() +
                        QStringLiteral("flac_%1_%2_%3_%4.raw").arg(rate).arg(channels).arg(bits).arg(seconds);
    QStringList args{"-n",
                     "-r",
                     QString::number(rate),
                     "-c",
                     QString::number(channels),
                     "-b",
                     QString::number(bits),
                     "-e",
                     bits == 8 ? "unsigned-integer" : "signed-integer",
                     "-t",
                     "raw",
                     raw,
                     "synth",
                     QString::number(seconds)};
    for (int c = 0; c < channels; ++c) {
        args << "sine" << QString::number(220 + 97 * c);
    }
    args << "gain"
         << "-3";
    testmedia::RunTool("sox", args);
    return testmedia::ReadFile(raw);
}

flac::EncodeResult Encode(const flac::PcmFormat& format, const QByteArray& pcm, QIODevice& out,
                          const flac::Metadata& metadata = {}, const flac::Progress& progress = {}) {
    QBuffer in;
    in.setData(pcm);
    in.open(QIODevice::ReadOnly);
    const std::uint64_t frames = static_cast<std::uint64_t>(pcm.size()) / (format.bits / 8 * format.channels);
    flac::EncodeOptions options;
    options.threads = 2;
    options.segmentBlocks = 3;  // many segments, so frames are renumbered across their seams
    return flac::EncodeFlac(
        format, frames, [&](char* data, std::int64_t size) { return in.read(data, size); }, out, metadata,
        options, progress);
}

// Walks the metadata blocks of a file, each with its header; returns where the audio frames start.
template <typename Visit>
qsizetype WalkBlocks(const QByteArray& file, Visit visit) {
    qsizetype pos = 4;
    bool last = false;
    while (!last && pos + 4 <= file.size()) {
        last = (static_cast<std::uint8_t>(file[pos]) & 0x80) != 0;
        const qsizetype length = (static_cast<std::uint8_t>(file[pos + 1]) << 16) |
                                 (static_cast<std::uint8_t>(file[pos + 2]) << 8) |
                                 static_cast<std::uint8_t>(file[pos + 3]);
        visit(pos, length);
        pos += 4 + length;
    }
    return pos;
}

// The bytes after the metadata blocks: the audio frames.
QByteArray Frames(const QByteArray& file) {
    return file.mid(WalkBlocks(file, [](qsizetype, qsizetype) {}));
}

// The metadata blocks of a file, each with its header, but the padding.
QByteArrayList BlocksButPadding(const QByteArray& file) {
    QByteArrayList blocks;
    WalkBlocks(file, [&](qsizetype pos, qsizetype length) {
        if ((file[pos] & 0x7F) != 1) {
            blocks << file.mid(pos, 4 + length);
        }
    });
    return blocks;
}

}  // namespace

// Every width and a stream long enough for frame numbers of two bytes: flac itself finds the file
// sound, decodes the very samples given, and its own encoder makes the same frames.
TEST(FlacEncode, SegmentsEncodedApartMakeTheStreamOneEncoderMakes) {
    const struct {
        int rate, channels, bits;
        double seconds;
    } cases[] = {{44100, 2, 16, 3}, {48000, 1, 24, 2}, {8000, 1, 8, 70}, {96000, 3, 32, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const QByteArray pcm = RawTone(c.rate, c.channels, c.bits, c.seconds);
        const QString path = testmedia::Dir() + QStringLiteral("out_%1.flac").arg(c.bits);
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        const flac::EncodeResult result =
            Encode({c.rate, c.channels, c.bits}, pcm, out, {{"TITLE=Tone"}, {}});
        out.close();
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        testmedia::RunTool("flac", {"-t", "-s", path});
        const QByteArray decoded =
            testmedia::RunTool("flac", {"-d", "-s", "-c", "--force-raw-format", "--endian=little",
                                        c.bits == 8 ? "--sign=unsigned" : "--sign=signed", path});
        EXPECT_TRUE(decoded == pcm);
        const QString own = path + QStringLiteral(".ref.flac");
        testmedia::RunTool(
            "flac", {"-5", "-s", "-f", "--force-raw-format", "--endian=little",
                     c.bits == 8 ? "--sign=unsigned" : "--sign=signed",
                     QStringLiteral("--channels=%1").arg(c.channels), QStringLiteral("--bps=%1").arg(c.bits),
                     QStringLiteral("--sample-rate=%1").arg(c.rate), "-o", own,
                     testmedia::Dir() + QStringLiteral("flac_%1_%2_%3_%4.raw")
                                            .arg(c.rate)
                                            .arg(c.channels)
                                            .arg(c.bits)
                                            .arg(c.seconds)});
        EXPECT_TRUE(Frames(testmedia::ReadFile(path)) == Frames(testmedia::ReadFile(own)));
    }
}

// A pipe gets a stream that needs no going back; a cancel stops at once.
TEST(FlacEncode, PipesAndCancelling) {
    const QByteArray pcm = RawTone(44100, 2, 16, 3);
    QProcess flac;
    flac.start(QStringLiteral("flac"), {"-t", "-s", "-"});
    ASSERT_TRUE(flac.waitForStarted(-1));
    ASSERT_TRUE(Encode({44100, 2, 16}, pcm, flac).ok);
    flac.closeWriteChannel();
    ASSERT_TRUE(flac.waitForFinished(-1));
    EXPECT_EQ(flac.exitCode(), 0) << flac.readAllStandardError().toStdString();

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    int calls = 0;
    const flac::EncodeResult cancelled =
        Encode({44100, 2, 16}, pcm, out, {}, [&](std::uint64_t) { return ++calls < 2; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(calls, 2);
}

// A stream pushed before its length is known, its head written for too few frames or too many, or
// with comments that grow at the end: flac finds the file sound, and its head is the one EncodeFlac
// makes for what came but for the padding, which takes up the difference, or is the very file when
// the head outgrew the padding and the audio was moved on.
TEST(FlacEncode, APushedStreamGetsTheHeadOfWhatCame) {
    const flac::PcmFormat format{8000, 1, 16};
    const QByteArray pcm = RawTone(8000, 1, 16, 25);
    const flac::Metadata tags{{"TITLE=Tone"}, {}};
    const flac::Metadata longer{{"TITLE=Tone", "COMMENT=" + QString(9000, QLatin1Char('x'))}, {}};
    const struct {
        std::uint64_t expected;
        const flac::Metadata& first;
        const flac::Metadata& last;
        bool moved;
    } cases[] = {
        {8000 * 5, tags, tags, false}, {8000 * 200, tags, tags, false}, {8000 * 25, tags, longer, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        QBuffer reference;
        reference.open(QIODevice::WriteOnly);
        ASSERT_TRUE(Encode(format, pcm, reference, c.last).ok);
        const QString path = testmedia::Dir() + QStringLiteral("pushed.flac");
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::ReadWrite | QIODevice::Truncate));
        flac::EncodeOptions options;
        options.threads = 2;
        options.segmentBlocks = 3;
        {
            flac::StreamEncoder encoder(format, out, options);
            ASSERT_TRUE(encoder.Begin(c.expected, c.first));
            // Pieces that cut frames and segments.
            for (qsizetype at = 0; at < pcm.size(); at += 1001) {
                encoder.Push(pcm.constData() + at,
                             static_cast<std::size_t>(std::min<qsizetype>(1001, pcm.size() - at)));
            }
            ASSERT_TRUE(encoder.Finish(c.last).ok);
        }
        out.close();
        testmedia::RunTool("flac", {"-t", "-s", path});
        const QByteArray pushed = testmedia::ReadFile(path);
        EXPECT_EQ(BlocksButPadding(pushed), BlocksButPadding(reference.data()));
        EXPECT_TRUE(Frames(pushed) == Frames(reference.data()));
        if (c.moved) {
            EXPECT_TRUE(pushed == reference.data());
        }
    }
}
