// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Waveinf.h"

#include "MessageRecorder.h"
#include "WavBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

namespace {

class WaveinfTest : public testing::Test {
protected:
    QString Write(const QByteArray& bytes) {
        const QString path = dir_.path() + QStringLiteral("/f%1.wav").arg(++count_);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // Reads the header and returns what it showed, as "caption|text" lines.
    QStringList Read(const QByteArray& bytes, WaveHeaderInfo& info, bool& ok,
                     WavSamples samples = WavSamples::Pcm8Or16) {
        MessageRecorder recorder;
        ok = ReadWaveHeader(Write(bytes), info, samples);
        QStringList shown;
        for (const auto& m : recorder.messages) {
            shown << m.caption + QLatin1Char('|') + m.text + QStringLiteral("|%1").arg(m.flags);
        }
        return shown;
    }

    QTemporaryDir dir_;
    int count_ = 0;
};

const QString kNotValid = QStringLiteral("ERROR|This is not a valid Wave file|0");
const QString kNotPcm = QStringLiteral("Wavestitch|Not PCM formats!|0");

TEST_F(WaveinfTest, ReadsFormatSizesAndSeconds) {
    WaveHeaderInfo info;
    bool ok = false;
    EXPECT_TRUE(
        Read(WavBuilder().Format(1, 44100, 16).Data(QByteArray(88200, '\1')).Bytes(), info, ok).isEmpty());
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.dataSize, 88200u);
    EXPECT_EQ(info.fileSize, 88244u);
    EXPECT_EQ(info.seconds, 1u);

    Read(WavBuilder().Format(1, 44100, 16).Data(QByteArray(88199, '\1')).Bytes(), info, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.seconds, 0u);

    // An empty data chunk, 8-bit stereo.
    Read(WavBuilder().Format(2, 8000, 8).Data({}).Bytes(), info, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.fileSize, 44u);
    EXPECT_EQ(info.seconds, 0u);
}

TEST_F(WaveinfTest, SkipsFormatExtensionsAndOtherChunksWithOrWithoutPad) {
    const QByteArray data(32000, '\0');
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"18-byte format chunk", WavBuilder().Format(2, 8000, 16, 1, 2).Data(data).Bytes()},
        {"LIST and fact before data", WavBuilder()
                                          .Format(2, 8000, 16)
                                          .Chunk("LIST", QByteArray(26, 'x'))
                                          .Chunk("fact", "\4\0\0\0")
                                          .Data(data)
                                          .Bytes()},
        {"odd LIST, padded",
         WavBuilder().Format(2, 8000, 16).Chunk("LIST", QByteArray(27, 'x')).Data(data).Bytes()},
        {"odd LIST, pad left out",
         WavBuilder().Format(2, 8000, 16).Chunk("LIST", QByteArray(27, 'x'), false).Data(data).Bytes()},
        {"two odd chunks, one padded", WavBuilder()
                                           .Format(2, 8000, 16)
                                           .Chunk("LIST", "abc", false)
                                           .Chunk("junk", QByteArray(5, 'j'))
                                           .Data(data)
                                           .Bytes()},
        {"extensible PCM", WavBuilder().ExtensiblePcm(2, 8000, 16).Data(data).Bytes()},
        {"JUNK placeholder before the format chunk",
         WavBuilder().Chunk("JUNK", QByteArray(28, '\0')).Format(2, 8000, 16).Data(data).Bytes()},
        // The data size comes from ds64, so the chunk after the data is no audio.
        {"RF64", WavBuilder()
                     .Chunk("ds64", WavBuilder::Ds64(32000))
                     .Format(2, 8000, 16)
                     .Data(data, 0xFFFFFFFF)
                     .Chunk("LIST", QByteArray(100, 'x'))
                     .Bytes()},
        {"any first 12 bytes",
         QByteArray(12, '?') + WavBuilder().Format(2, 8000, 16).Data(data).Bytes().mid(12)},
    };
    for (const auto& c : cases) {
        WaveHeaderInfo info;
        bool ok = false;
        EXPECT_TRUE(Read(c.bytes, info, ok).isEmpty()) << c.what;
        EXPECT_TRUE(ok) << c.what;
        EXPECT_EQ(info.dataSize, 32000u) << c.what;
        EXPECT_EQ(info.fileSize, 32044u) << c.what;
        EXPECT_EQ(info.seconds, 1u) << c.what;
    }
}

TEST_F(WaveinfTest, RejectsWhatItCannotReadWithItsOwnMessage) {
    const QByteArray good = WavBuilder().Format(1, 8000, 16).Data(QByteArray(100, '\0')).Bytes();
    const struct {
        const char* what;
        QByteArray bytes;
        QString message;
    } cases[] = {
        {"empty file", QByteArray(), kNotValid},
        {"shorter than the format chunk", good.left(30), kNotValid},
        {"a chunk before the format chunk",
         WavBuilder().Chunk("LIST", "xx").Format(1, 8000, 16).Data({}).Bytes(), kNotValid},
        {"two placeholders before it",
         WavBuilder().Chunk("JUNK", "xx").Chunk("JUNK", "xx").Format(1, 8000, 16).Data({}).Bytes(),
         kNotValid},
        {"ds64 too short for its sizes",
         WavBuilder().Chunk("ds64", QByteArray(24, '\0')).Format(1, 8000, 16).Data({}).Bytes(), kNotValid},
        {"not PCM", WavBuilder().Format(1, 8000, 16, 3).Data({}).Bytes(), kNotValid},
        {"extensible, not PCM", WavBuilder().Format(2, 96000, 16, 0xFFFE, 24).Data({}).Bytes(), kNotValid},
        {"extensible float", WavBuilder().ExtensiblePcm(2, 96000, 32, 3).Data({}).Bytes(), kNotValid},
        {"extensible, cut", WavBuilder().ExtensiblePcm(2, 96000, 16).Bytes().left(50), kNotValid},
        {"rate 0", WavBuilder().Format(1, 0, 16).Data({}).Bytes(), kNotValid},
        {"rate 2^31 - 1", WavBuilder().Format(1, 0x7FFFFFFF, 16).Data({}).Bytes(), kNotValid},
        {"no channels", WavBuilder().Format(0, 8000, 16).Data({}).Bytes(), kNotValid},
        {"ends before data", WavBuilder().Format(1, 8000, 16).Chunk("LIST", "abcd").Bytes(), kNotValid},
        {"ends inside a chunk",
         WavBuilder().Format(1, 8000, 16).Chunk("LIST", QByteArray(50, 'a')).Bytes().left(70), kNotValid},
        {"24-bit", WavBuilder().Format(2, 44100, 24).Data(QByteArray(600, '\0')).Bytes(), kNotPcm},
        {"32-bit", WavBuilder().Format(2, 44100, 32).Data(QByteArray(800, '\0')).Bytes(), kNotPcm},
    };
    for (const auto& c : cases) {
        WaveHeaderInfo info;
        bool ok = true;
        EXPECT_EQ(Read(c.bytes, info, ok), QStringList{c.message}) << c.what;
        EXPECT_FALSE(ok) << c.what;
    }

    MessageRecorder recorder;
    WaveHeaderInfo info;
    EXPECT_FALSE(ReadWaveHeader(dir_.path() + QStringLiteral("/missing.wav"), info));
    EXPECT_FALSE(ReadWaveHeader(QString(), info));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.wav")));
    EXPECT_FALSE(ReadWaveHeader(dir_.path() + QStringLiteral("/folder.wav"), info));
    ASSERT_EQ(recorder.messages.size(), 3u);
    for (const auto& m : recorder.messages) {
        EXPECT_EQ(m.text, QStringLiteral("Cannot open the file!"));
    }
}

TEST_F(WaveinfTest, TheCommandLinesWiderReadingTakesDeepAndFloatSamplesOnly) {
    const QByteArray data(2880, '\0');
    const struct {
        QByteArray bytes;
        int bits;  // 0: refused with message
        QString message;
    } cases[] = {
        {WavBuilder().Format(2, 48000, 24).Chunk("bext", QByteArray(602, 'b')).Data(data).Bytes(), 24, {}},
        // As field recorders write them: their chunks before the format.
        {WavBuilder()
             .Chunk("bext", QByteArray(603, 'b'))
             .Chunk("iXML", "<x/>")
             .Format(2, 48000, 24)
             .Data(data)
             .Bytes(),
         24,
         {}},
        {WavBuilder().ExtensiblePcm(6, 48000, 64, 3).Data(data).Bytes(), 64, {}},
        {WavBuilder().Format(2, 48000, 16, 3).Data(data).Bytes(), 0, kNotPcm},
        {WavBuilder().Format(2, 48000, 12).Data(data).Bytes(), 0, kNotPcm},
        {WavBuilder().ExtensiblePcm(2, 48000, 8, 6).Data(data).Bytes(), 0, kNotValid},  // A-law
    };
    for (const auto& c : cases) {
        WaveHeaderInfo info;
        bool ok = false;
        EXPECT_EQ(Read(c.bytes, info, ok, WavSamples::AnyPcmOrFloat),
                  c.bits != 0 ? QStringList() : QStringList{c.message});
        EXPECT_EQ(ok, c.bits != 0);
        if (ok) {
            EXPECT_EQ(info.bitsPerSample, c.bits);
            EXPECT_EQ(info.isFloat, c.bits == 64);
        }
    }
}

TEST_F(WaveinfTest, HeaderValuesCannotOverflowOrDivideByZero) {
    EXPECT_EQ(WaveSeconds(1000, 0, 2, 16), 0u);
    EXPECT_EQ(WaveSeconds(1000, 44100, 0, 16), 0u);
    EXPECT_EQ(WaveSeconds(1000, 1, 1, 7), 0u);  // below one byte a second
    EXPECT_EQ(WaveSeconds(1000, 1, 1, 8), 1000u);
    EXPECT_EQ(WaveSeconds(0xFFFFFFFF, 0x7FFFFFFF, 65535, 65535), 0u);
    EXPECT_EQ(WaveSeconds(0xFFFFFFFF, 44100, 2, 16), 0xFFFFFFFFu / 176400);
    EXPECT_EQ(WaveSeconds(1000, -44100, 2, 16), 0u);
}

TEST_F(WaveinfTest, StreamingPlaceholderSizesAndRf64CountWhatTheFileHolds) {
    const QByteArray data(176400 * 3, '\0');
    const QByteArray rf64Past4GiB = WavBuilder()
                                        .Chunk("ds64", WavBuilder::Ds64(1ull << 33))
                                        .Format(2, 44100, 16)
                                        .Data(data, 0xFFFFFFFF)
                                        .Bytes();
    for (const QByteArray& bytes :
         {WavBuilder().Format(2, 44100, 16).Data(data, 0xFFFFFFFF).Bytes(),
          WavBuilder().Format(2, 44100, 16).Data(data, 0x7FFFF000).Bytes(), rf64Past4GiB}) {
        WaveHeaderInfo info;
        bool ok = false;
        Read(bytes, info, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(info.dataSize, 176400u * 3);
        EXPECT_EQ(info.seconds, 3u);
    }
}

TEST(ChunkWalkTest, StopsAtDataOrAtTheEnd) {
    std::uint32_t size = 0;
    std::istringstream padded(std::string("LIST\3\0\0\0abc\0data\x10\0\0\0", 20));
    EXPECT_TRUE(SkipToDataChunk(padded, size));
    EXPECT_EQ(size, 16u);
    std::istringstream cut(std::string("LIST\xFF\xFF\xFF\x7F", 8));
    EXPECT_FALSE(SkipToDataChunk(cut, size));
    std::istringstream empty;
    EXPECT_FALSE(SkipToDataChunk(empty, size));
}

}  // namespace
