// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodeTestUtil.h"
#include "FakeModules.h"
#include "MessageRecorder.h"
#include "encode/Wavtomp3.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

using encodetest::ReadFile;
using encodetest::TempDir;

namespace {

FakeLame MakeFake(const char* folder = "lame_full") {
    return FakeLame(folder, QStringLiteral("lame_enc.so"), "FakeLameControlBlock");
}

// The five entry points, in the order the constructor looks them up.
constexpr std::array<const char*, 5> kEntryPoints{"beInitStream", "beEncodeChunk", "beVersion",
                                                  "beDeinitStream", "beCloseStream"};

TEST(WavToMp3Loading, MissingModuleIsNamedOnceAndInitFailsQuietly) {
    FakeLame fake("none", QStringLiteral("lame_enc.so"), "FakeLameControlBlock");
    MessageRecorder recorder;
    WavToMp3 adapter;
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Could not load lame_enc.so file");
    EXPECT_EQ(recorder.messages[0].caption, "Lame Encoder");
    EXPECT_EQ(recorder.messages[0].flags, platform::MB_OK);
    EXPECT_EQ(adapter.Init(TempDir() + "none.mp3", 44100, 1, 128, false, false, false, false), -1);
    EXPECT_EQ(recorder.messages.size(), 1u);
}

TEST(WavToMp3Loading, EachMissingEntryPointIsNamedOnceAndInitFailsQuietly) {
    for (const char* name : kEntryPoints) {
        SCOPED_TRACE(name);
        const std::string folder = std::string("lame_no_") + name;
        FakeLame fake(folder.c_str(), QStringLiteral("lame_enc.so"), "FakeLameControlBlock");
        ASSERT_NE(fake.control, nullptr);
        MessageRecorder recorder;
        {
            WavToMp3 adapter;
            ASSERT_EQ(recorder.messages.size(), 1u);
            EXPECT_EQ(recorder.messages[0].text, QString("Could not found %1 library function").arg(name));
            EXPECT_EQ(recorder.messages[0].caption, "Lame Encoder");
            EXPECT_EQ(adapter.Init(TempDir() + "missing.mp3", 44100, 1, 128, false, false, false, false), -1);
            EXPECT_EQ(adapter.EncodeChunk(nullptr, 0), -1);
            adapter.Close();
        }
        EXPECT_EQ(recorder.messages.size(), 1u);
        // Init never reached the module, even where beInitStream itself was present.
        EXPECT_EQ(fake.control->initCalls, 0);
        EXPECT_EQ(fake.control->versionCalls, 0);
    }
}

TEST(WavToMp3Snapping, RequestedBitratesMapToTheTable) {
    struct Case {
        int requested;
        int sent;
    };
    const Case cases[] = {{0, 32},    {32, 32},   {36, 32},   {37, 40},   {44, 40},   {45, 48},   {52, 48},
                          {53, 56},   {60, 56},   {61, 64},   {64, 64},   {67, 64},   {68, 80},   {70, 80},
                          {88, 80},   {89, 96},   {104, 96},  {105, 112}, {120, 112}, {121, 128}, {144, 128},
                          {145, 160}, {176, 160}, {177, 192}, {208, 192}, {209, 224}, {240, 224}, {241, 256},
                          {288, 256}, {289, 320}, {400, 320}, {-70, 80},  {-400, 320}};
    for (const Case& c : cases) {
        EXPECT_EQ(WavToMp3::SnapBitrate(c.requested), c.sent) << c.requested;
    }
}

class WavToMp3WithFake : public ::testing::Test {
protected:
    FakeLame fake = MakeFake();
    MessageRecorder recorder;
};

// Every byte the module receives: the 27 the program sets, and zeros after them.
TEST_F(WavToMp3WithFake, ConfigurationRecordBytes) {
    ASSERT_NE(fake.control, nullptr);
    struct Case {
        int rate;
        int mode;
        int bitrate;
        bool copyright, crc, original, priv;
        std::uint8_t modeByte;
        std::uint16_t bitrateSent;
    };
    const Case cases[] = {
        {44100, 1, 70, true, false, false, false, 0, 80},   {22050, 2, 67, false, true, false, false, 1, 64},
        {48000, 3, 400, false, false, true, false, 2, 320}, {8000, 4, 32, false, false, false, true, 3, 32},
        {32000, 5, 128, true, true, true, true, 0, 128},    {11025, 0, 64, false, false, false, false, 0, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        *fake.control = FakeLameControl{};
        {
            WavToMp3 adapter;
            ASSERT_EQ(adapter.Init(TempDir() + "config.mp3", c.rate, c.mode, c.bitrate, c.copyright, c.crc,
                                   c.original, c.priv),
                      2304);
        }
        std::array<std::uint8_t, sizeof(Mp3EncoderConfig)> expected{};
        const auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) {
                expected[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
            }
        };
        put32(0, 0);
        put32(4, static_cast<std::uint32_t>(c.rate));
        expected[8] = c.modeByte;
        expected[9] = static_cast<std::uint8_t>(c.bitrateSent & 0xFF);
        expected[10] = static_cast<std::uint8_t>(c.bitrateSent >> 8);
        put32(11, c.priv);
        put32(15, c.crc);
        put32(19, c.copyright);
        put32(23, c.original);
        EXPECT_EQ(std::memcmp(fake.control->config, expected.data(), expected.size()), 0);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(fake.control->config[i], expected[i]) << "byte " << i;
        }
    }
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(WavToMp3WithFake, ChunkSizeIsTwiceTheModulesSampleCount) {
    for (const std::uint32_t samples : {1152u, 576u}) {
        fake.control->samplesPerChunk = samples;
        WavToMp3 adapter;
        EXPECT_EQ(adapter.Init(TempDir() + "chunk.mp3", 44100, 1, 128, false, false, false, false),
                  static_cast<int>(samples * 2));
    }
}

// The end block follows the encoded data, and the tag frame is written over the start.
TEST_F(WavToMp3WithFake, FileHoldsEveryBlockTheEndAndTheTag) {
    const QString path = TempDir() + "blocks.mp3";
    std::vector<std::int16_t> pcm(1152, 0);
    {
        WavToMp3 adapter;
        ASSERT_EQ(adapter.Init(path, 44100, 1, 128, false, false, false, false), 2304);
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 2304), 4);
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 1000), 4);
        // Longer than a chunk: passed to the module in two calls.
        std::vector<std::int16_t> big(2000, 0);
        EXPECT_EQ(adapter.EncodeChunk(big.data(), 4000), 8);
        adapter.Close();
    }
    EXPECT_EQ(fake.control->samplesReceived, 1152u + 500u + 2000u);
    EXPECT_EQ(fake.control->encodeCalls, 4);
    EXPECT_EQ(fake.control->deinitCalls, 1);
    EXPECT_EQ(fake.control->tagCalls, 1);
    EXPECT_EQ(fake.control->closeCalls, 1);
    const QByteArray bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), 4 * 4 + 4);
    EXPECT_TRUE(bytes.startsWith("TAG!"));
    EXPECT_TRUE(bytes.endsWith("LAST"));
    EXPECT_EQ(bytes.mid(4, 4), QByteArray("FR\xf4\x01", 4));
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(WavToMp3WithFake, DestroyedWithoutCloseStillEnds) {
    const QString path = TempDir() + "unclosed.mp3";
    std::vector<std::int16_t> pcm(1152, 0);
    {
        WavToMp3 adapter;
        ASSERT_EQ(adapter.Init(path, 44100, 1, 128, false, false, false, false), 2304);
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 2304), 4);
    }
    EXPECT_EQ(fake.control->deinitCalls, 1);
    EXPECT_EQ(fake.control->closeCalls, 1);
    EXPECT_TRUE(ReadFile(path).endsWith("LAST"));
}

TEST(WavToMp3WithoutTag, ModuleWithoutTheSixthEntryPointWorks) {
    FakeLame fake("lame_notag", QStringLiteral("lame_enc.so"), "FakeLameControlBlock");
    MessageRecorder recorder;
    const QString path = TempDir() + "notag.mp3";
    std::vector<std::int16_t> pcm(1152, 0);
    {
        WavToMp3 adapter;
        ASSERT_EQ(adapter.Init(path, 44100, 1, 128, false, false, false, false), 2304);
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 2304), 4);
        adapter.Close();
    }
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(ReadFile(path), QByteArray("FR\x80\x04LAST", 8));
}

TEST_F(WavToMp3WithFake, FailuresShowTheirMessage) {
    // The module refuses the stream: nothing is created.
    fake.control->initResult = MP3_ERR_INVALID_CONFIG;
    const QString refused = TempDir() + "refused.mp3";
    {
        WavToMp3 adapter;
        EXPECT_EQ(adapter.Init(refused, 44100, 1, 128, false, false, false, false), -1);
    }
    EXPECT_FALSE(QFile::exists(refused));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Could not initialize Lame encoder");
    EXPECT_EQ(recorder.messages[0].caption, "Lame Encoder");

    // The file cannot be created: the stream the module opened is closed again.
    *fake.control = FakeLameControl{};
    recorder.messages.clear();
    {
        WavToMp3 adapter;
        EXPECT_EQ(adapter.Init(TempDir() + "no/such/folder.mp3", 44100, 1, 128, false, false, false, false),
                  -1);
        EXPECT_EQ(adapter.Init(QString(), 44100, 1, 128, false, false, false, false), -1);
    }
    EXPECT_EQ(fake.control->closeCalls, 2);
    EXPECT_EQ(fake.control->deinitCalls, 0);
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[0].text, "Can not create the file.");

    // Encoding fails: -1, and Close still ends the stream and keeps what was written.
    *fake.control = FakeLameControl{};
    recorder.messages.clear();
    const QString failed = TempDir() + "failed.mp3";
    std::vector<std::int16_t> pcm(1152, 0);
    {
        WavToMp3 adapter;
        ASSERT_EQ(adapter.Init(failed, 44100, 1, 128, false, false, false, false), 2304);
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 2304), 4);
        fake.control->encodeResult = MP3_ERR_ENCODE;
        EXPECT_EQ(adapter.EncodeChunk(pcm.data(), 2304), -1);
        adapter.Close();
    }
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Could not perform compression");
    EXPECT_EQ(fake.control->closeCalls, 1);
    EXPECT_EQ(ReadFile(failed).size(), 8);
}

// A full disk must not pass for a finished file: the write error is shown once and -1 returned.
TEST_F(WavToMp3WithFake, WriteErrorIsReportedOnce) {
    std::vector<std::int16_t> pcm(1152, 0);
    WavToMp3 adapter;
    ASSERT_EQ(adapter.Init("/dev/full", 44100, 1, 128, false, false, false, false), 2304);
    int result = 0;
    // Each call adds 4 bytes; the file's buffer fills after a few thousand.
    for (int i = 0; i < 100000 && result >= 0; ++i) {
        result = adapter.EncodeChunk(pcm.data(), 2304);
    }
    EXPECT_EQ(result, -1);
    adapter.Close();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Can not write the file.");
    EXPECT_EQ(recorder.messages[0].caption, "Lame Encoder");
    EXPECT_EQ(fake.control->closeCalls, 1);
}

}  // namespace
