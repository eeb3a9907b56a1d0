// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestMedia.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace testmedia;

namespace {

struct Mp3Case {
    const char* name;
    int rate;
    int chans;
    double seconds;
    QStringList lameOptions;
    std::uint64_t expectedFrames;  // 0: only the length must match what is read
};

// The reported length is what the join's progress and the probe's duration are built on: it must
// be exactly what reading yields, with or without a LAME/Xing tag.
class Mp3Length : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(Mp3Length, EqualsDecodedBytes) {
    const Mp3Case& c = GetParam();
    const QString mp3 = Lame(QString(c.name) + ".mp3", Tone(c.rate, c.chans, c.seconds), c.lameOptions);
    const Decoded d = OpenAndReadAll(mp3, false);
    EXPECT_EQ(d.info.freq, static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(d.info.chans, static_cast<std::uint32_t>(c.chans));
    EXPECT_EQ(d.lengthAtOpen, static_cast<std::uint64_t>(d.pcm.size()));
    EXPECT_EQ(d.lengthAtEnd, d.lengthAtOpen);
    if (c.expectedFrames) {
        EXPECT_EQ(d.Frames(), c.expectedFrames);
    }
    // Trailing zeros put the file's size out of step with an Info frame's byte count, so this copy is
    // scanned: a length taken from the tag must agree with the scan.
    const QString scannedPath =
        WriteFile(QString(c.name) + "_scanned.mp3", ReadFile(mp3) + QByteArray(3000, '\0'));
    EXPECT_EQ(d.lengthAtOpen, OpenAndReadAll(scannedPath, false).lengthAtOpen);
}

// A one-second file decodes to exactly one second when the encoder's tag gives delay and padding;
// without a tag (-t) all 40 frames of 1152 samples come out.
INSTANTIATE_TEST_SUITE_P(
    Files, Mp3Length,
    ::testing::Values(
        Mp3Case{"gapless_mono", 44100, 1, 1.0, {"-b", "64"}, 44100},
        Mp3Case{"gapless_stereo", 44100, 2, 1.0, {"-b", "128"}, 44100},
        Mp3Case{"vbr_tagged", 44100, 2, 1.0, {"-V", "4"}, 44100},
        Mp3Case{"vbr_untagged", 44100, 2, 1.0, {"-V", "4", "-t"}, 46080},
        Mp3Case{"cbr_untagged_mono", 44100, 1, 0.5, {"-b", "96", "-t"}, 0},
        Mp3Case{"rate_22050_mono", 22050, 1, 0.5, {"-V", "4"}, 11025},
        Mp3Case{"rate_32000", 32000, 2, 0.5, {"-b", "128"}, 16000},
        Mp3Case{"rate_48000", 48000, 2, 0.5, {"-V", "2"}, 24000},
        Mp3Case{"mpeg25_8000", 8000, 1, 0.5, {"-b", "32"}, 4000},
        Mp3Case{"crc", 44100, 2, 0.5, {"-p"}, 22050},
        Mp3Case{"free_format", 44100, 2, 0.5, {"--freeformat", "-b", "400"}, 0},
        Mp3Case{"id3v2", 44100, 2, 1.0, {"--add-id3v2", "--pad-id3v2-size", "3000", "--tt", "T"}, 44100}),
    [](const auto& param) { return std::string(param.param.name); });

class Mp3Files : public ::testing::Test {
protected:
    static QString Half(int rate, int chans, const char* name) {
        return Lame(name, Tone(rate, chans, 0.5), {"-b", "128"});
    }
};

// Tags and junk around the frames are skipped; Layer II comes from ffmpeg, as lame makes none. A
// stream of a frame or two counts when an Info frame leads it or it runs up to the file's tags.
TEST_F(Mp3Files, FramesAmongTagsAndJunkDecodeWhole) {
    const QByteArray audio = ReadFile(Half(44100, 2, "junk_source.mp3"));
    const QByteArray text = QByteArray("not audio, just some trailing text\n").repeated(40);
    // An empty APE tag with its header (the size counts only the footer), then an ID3v1 tag.
    const QByteArray ape =
        "APETAGEX" + QByteArray::fromHex("d00700002000000000000000000000a0") + QByteArray(8, '\0');
    const QByteArray tags = ape + QByteArray(ape).replace(23, 1, "\x80") + "TAG" + QByteArray(125, ' ');
    const QString tiny = Tone(44100, 2, 0.01);
    struct Case {
        QByteArray data;
        std::uint64_t frames;
    };
    for (const Case& c : {Case{audio + QByteArray(3000, '\0'), 22050}, Case{audio + text, 22050},
                          Case{text + audio, 22050}, Case{audio + tags, 22050},
                          Case{ReadFile(FfmpegTone("layer2.mp3", 44100, 2, 0.5, "mp2", "mp2")), 23040},
                          Case{ReadFile(Lame("short_info.mp3", tiny, {})) + text, 441},
                          Case{ReadFile(Lame("short_crc.mp3", tiny, {"-p"})) + text, 441},
                          Case{ReadFile(Lame("short_bare.mp3", tiny, {"-t"})) + tags, 2304}}) {
        const Decoded d = OpenAndReadAll(WriteFile("junk.mp3", c.data), false);
        EXPECT_EQ(d.Frames(), c.frames);
        EXPECT_EQ(d.lengthAtOpen, static_cast<std::uint64_t>(d.pcm.size()));
    }
}

// Plain concatenation leaves a second LAME tag in the middle; the second half must still come out.
TEST_F(Mp3Files, ConcatenatedFilesDecodeBothHalves) {
    const QByteArray stereo = ReadFile(Half(44100, 2, "cat_stereo.mp3"));
    const QByteArray mono = ReadFile(Half(44100, 1, "cat_mono.mp3"));
    struct Case {
        QByteArray data;
        std::uint32_t chans;
    };
    for (const Case& c : {Case{stereo + stereo, 2}, Case{mono + stereo, 1}, Case{stereo + mono, 2}}) {
        const Decoded d = OpenAndReadAll(WriteFile("cat.mp3", c.data), false);
        EXPECT_EQ(d.info.chans, c.chans);
        EXPECT_GE(d.Frames(), 2 * 22050u);
        EXPECT_LT(d.Frames(), 2 * 22050u + 4 * 1152u);
        EXPECT_EQ(d.lengthAtOpen, static_cast<std::uint64_t>(d.pcm.size()));
    }
}

// A rate change midway is converted to the first rate. libmpg123's length then counts the later
// frames at their own rate, so it may be too long, but reading never goes past it. A joining tool
// may give the whole an Info frame whose counts cover both halves: 44.1 kHz frames after 48 kHz ones
// then come out longer than that count says, and must all be read.
TEST_F(Mp3Files, RateChangeIsConvertedToFirstRate) {
    const QByteArray low = ReadFile(Half(44100, 2, "mix_44100.mp3"));
    const QByteArray high = ReadFile(Half(48000, 2, "mix_48000.mp3"));
    QByteArray retagged = high + low;
    const qsizetype info = retagged.indexOf("Info");
    const auto frames = [](const QByteArray& mp3) {
        return qFromBigEndian<quint32>(mp3.constData() + mp3.indexOf("Info") + 8);
    };
    qToBigEndian<quint32>(frames(high) + frames(low), retagged.data() + info + 8);
    qToBigEndian<quint32>(retagged.size(), retagged.data() + info + 12);
    struct Case {
        QByteArray data;
        std::uint32_t rate;
    };
    for (const Case& c : {Case{low + high, 44100}, Case{retagged, 48000}}) {
        const audio::StreamHandle h =
            audio::OpenFileStream(false, WriteFile("mix.mp3", c.data), 0, 0, audio::STREAM_DECODE);
        ASSERT_NE(h, 0u);
        const Decoded d = ReadAll(h);
        EXPECT_EQ(d.info.freq, c.rate);
        EXPECT_LE(static_cast<std::uint64_t>(d.pcm.size()), d.lengthAtOpen);
        EXPECT_NEAR(audio::BytesToSeconds(h, d.pcm.size()), 1.0, 0.1);
        // Trailing zeros put the Info frame's byte count out of step, so this copy is scanned.
        const QString scanned = WriteFile("mix_scanned.mp3", c.data + QByteArray(3000, '\0'));
        EXPECT_EQ(d.pcm.size(), OpenAndReadAll(scanned, false).pcm.size());
        EXPECT_EQ(d.lengthAtEnd, static_cast<std::uint64_t>(d.pcm.size()));
        audio::FreeStream(h);
    }
}

TEST_F(Mp3Files, TruncatedFileReadsWhatIsThere) {
    const QByteArray audio = ReadFile(Half(44100, 2, "cut_source.mp3"));
    const Decoded d = OpenAndReadAll(WriteFile("cut.mp3", audio.left(audio.size() / 2)), false);
    EXPECT_GT(d.Frames(), 5000u);
    EXPECT_LT(d.Frames(), 22050u);
    EXPECT_LE(static_cast<std::uint64_t>(d.pcm.size()), d.lengthAtOpen);
    EXPECT_EQ(d.lengthAtEnd, static_cast<std::uint64_t>(d.pcm.size()));
}

TEST_F(Mp3Files, NonAudioIsRefused) {
    QByteArray noise(65536, '\0');
    QRandomGenerator random(20240607);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QByteArray audio = ReadFile(Half(44100, 2, "refuse_source.mp3"));
    const QStringList refused{
        WriteFile("empty.mp3", {}),
        WriteFile("noise.mp3", noise),
        WriteFile("text.mp3", QByteArray("hello\n").repeated(2000)),
        WriteFile("header_only.mp3", audio.left(300)),
        // Two frames without an Info frame, then junk: as likely two stray headers as audio.
        WriteFile("short_junk.mp3", ReadFile(Lame("short_bare.mp3", Tone(44100, 2, 0.01), {"-t"})) + "junk"),
        Asf("wma_named.mp3", 44100, 2, 0.5),
        FfmpegTone("adts_named.mp3", 44100, 1, 1.0, "aac", "adts"),
        FfmpegTone("mp4_named.mp3", 48000, 2, 1.0, "aac", "mp4"),
        Dir() + "missing.mp3",
        Dir(),
    };
    for (const QString& path : refused) {
        EXPECT_EQ(audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE), 0u) << path.toStdString();
    }
}

}  // namespace
