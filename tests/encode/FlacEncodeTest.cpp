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

// The bytes after the metadata blocks: the audio frames.
QByteArray Frames(const QByteArray& file) {
    qsizetype pos = 4;
    bool last = false;
    while (!last && pos + 4 <= file.size()) {
        last = (static_cast<std::uint8_t>(file[pos]) & 0x80) != 0;
        const qsizetype length = (static_cast<std::uint8_t>(file[pos + 1]) << 16) |
                                 (static_cast<std::uint8_t>(file[pos + 2]) << 8) |
                                 static_cast<std::uint8_t>(file[pos + 3]);
        pos += 4 + length;
    }
    return file.mid(pos);
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
