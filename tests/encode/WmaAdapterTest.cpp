// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodeTestUtil.h"
#include "FakeModules.h"
#include "MessageRecorder.h"
#include "encode/Wavtowma.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

using encodetest::TempDir;

namespace {

FakeWma MakeFake(const char* folder = "wma_full") {
    return FakeWma(folder, QStringLiteral("wmaudsdk.so"), "FakeWmaControlBlock");
}

TEST(WavToWmaLoading, MissingModuleOrEntryPointIsNamedOnce) {
    struct Case {
        const char* folder;
        const char* message;
    };
    const Case cases[] = {{"none", "Could not load wmaudsdk.so file"},
                          {"wma_no_create", "Could not found WMAudioCreateWriter library function"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        FakeWma fake = MakeFake(c.folder);
        MessageRecorder recorder;
        {
            WavToWma adapter;
            ASSERT_EQ(recorder.messages.size(), 1u);
            EXPECT_EQ(recorder.messages[0].text, c.message);
            EXPECT_EQ(recorder.messages[0].caption, "WMA Audio SDK");
            EXPECT_EQ(recorder.messages[0].flags, platform::MB_OK);
            EXPECT_EQ(adapter.Init(TempDir() + "none.wma", 44100, 2, 128000), -1);
            EXPECT_TRUE(adapter.Close());
        }
        EXPECT_EQ(recorder.messages.size(), 1u);
    }
}

class WavToWmaWithFake : public ::testing::Test {
protected:
    FakeWma fake = MakeFake();
    MessageRecorder recorder;
};

TEST_F(WavToWmaWithFake, InputRecordAndOutputFormat) {
    ASSERT_NE(fake.control, nullptr);
    struct Case {
        int rate;
        int channels;
        std::uint16_t blockAlign;
        std::uint32_t bytesPerSecond;
    };
    const Case cases[] = {
        {8000, 1, 2, 16000}, {44100, 2, 4, 176400}, {96000, 2, 4, 384000}, {11025, 1, 2, 22050}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        *fake.control = FakeWmaControl{};
        const QString path = TempDir() + QString::fromUtf8("ausgabe-\u00e4\u4e2d.wma");
        {
            WavToWma adapter;
            EXPECT_EQ(adapter.Init(path, c.rate, c.channels, 64000), 16384);
            EXPECT_TRUE(adapter.Close());
        }
        WAVEFORMATEX expected;
        std::memset(&expected, 0, sizeof expected);
        expected.formatTag = 1;
        expected.channels = static_cast<std::uint16_t>(c.channels);
        expected.samplesPerSec = static_cast<std::uint32_t>(c.rate);
        expected.avgBytesPerSec = c.bytesPerSecond;
        expected.blockAlign = c.blockAlign;
        expected.bitsPerSample = 16;
        EXPECT_EQ(std::memcmp(fake.control->inputFormat, &expected, sizeof expected), 0);
        // The packed layout, byte by byte: block alignment at 12, bytes per second at 8.
        EXPECT_EQ(fake.control->inputFormat[12], c.blockAlign);
        EXPECT_EQ(fake.control->inputFormat[8] | fake.control->inputFormat[9] << 8 |
                      fake.control->inputFormat[10] << 16,
                  static_cast<int>(c.bytesPerSecond));
        EXPECT_EQ(fake.control->outputArgs[0], 64000u);
        EXPECT_EQ(fake.control->outputArgs[1], 44100u);
        EXPECT_EQ(fake.control->outputArgs[2], 2u);
        EXPECT_EQ(fake.control->outputArgs[3], 0u);
        EXPECT_EQ(QString::fromUtf16(fake.control->path), path);
        EXPECT_EQ(fake.control->flushCalls, 1);
        EXPECT_EQ(fake.control->releaseCalls, 1);
    }
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(WavToWmaWithFake, WritesReachTheWriterExceptEmptyOnes) {
    std::vector<std::int16_t> pcm(8192, 0);
    WavToWma adapter;
    ASSERT_EQ(adapter.Init(TempDir() + "writes.wma", 44100, 2, 128000), 16384);
    EXPECT_TRUE(adapter.WriteChunk(pcm.data(), 0));
    EXPECT_TRUE(adapter.WriteChunk(nullptr, 0));
    EXPECT_EQ(fake.control->writeCalls, 0);
    EXPECT_TRUE(adapter.WriteChunk(pcm.data(), 16384));
    EXPECT_EQ(fake.control->bytesWritten, 16384u);
    fake.control->writeResult = WMA_E_WRITE_FAULT;
    EXPECT_FALSE(adapter.WriteChunk(pcm.data(), 16384));
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(WavToWmaWithFake, FailedStepsReleaseTheWriter) {
    struct Case {
        WmaStatus FakeWmaControl::*step;
        const char* message;
        int releases;
    };
    const Case cases[] = {{&FakeWmaControl::createResult, "Failed to Create Audio Writer", 0},
                          {&FakeWmaControl::inputResult, "Failed to Set Input Format", 1},
                          {&FakeWmaControl::outputResult, "Failed to Set Output Format", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        *fake.control = FakeWmaControl{};
        fake.control->*c.step = WMA_E_FAIL;
        recorder.messages.clear();
        {
            WavToWma adapter;
            EXPECT_EQ(adapter.Init(TempDir() + "fail.wma", 44100, 2, 128000), -1);
            EXPECT_TRUE(adapter.Close());
        }
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text, c.message);
        EXPECT_EQ(recorder.messages[0].caption, "WMA Audio SDK");
        EXPECT_EQ(fake.control->releaseCalls, c.releases);
        EXPECT_EQ(fake.control->flushCalls, 0);
    }
}

TEST_F(WavToWmaWithFake, FailedFlushKeepsTheWriterForTheDestructor) {
    {
        WavToWma adapter;
        ASSERT_EQ(adapter.Init(TempDir() + "flush.wma", 44100, 2, 128000), 16384);
        fake.control->flushResult = WMA_E_WRITE_FAULT;
        EXPECT_FALSE(adapter.Close());
        EXPECT_EQ(fake.control->releaseCalls, 0);
    }
    EXPECT_EQ(fake.control->flushCalls, 2);
    EXPECT_EQ(fake.control->releaseCalls, 1);
}

TEST_F(WavToWmaWithFake, DestroyedWithoutCloseFlushesAndReleases) {
    {
        WavToWma adapter;
        ASSERT_EQ(adapter.Init(TempDir() + "unclosed.wma", 44100, 2, 128000), 16384);
    }
    EXPECT_EQ(fake.control->flushCalls, 1);
    EXPECT_EQ(fake.control->releaseCalls, 1);
}

// The writer is reached through its table of functions, so the slot of each function is part of
// the module's interface: call them by position, as a separately built module is called.
TEST_F(WavToWmaWithFake, WriterFunctionsStandAtTheirTablePositions) {
    const auto create = fake.Library().Lookup<WMAudioCreateWriterFunction>("WMAudioCreateWriter");
    ASSERT_NE(create, nullptr);
    WmaAudioWriter* writer = nullptr;
    ASSERT_EQ(create(u"slots.wma", &writer), WMA_OK);
    void** table = *reinterpret_cast<void***>(writer);

    const WAVEFORMATEX format = WavToWma::InputFormat(8000, 1);
    reinterpret_cast<WmaStatus (*)(WmaAudioWriter*, const WAVEFORMATEX*)>(table[4])(writer, &format);
    EXPECT_EQ(fake.control->inputCalls, 1);
    reinterpret_cast<WmaStatus (*)(WmaAudioWriter*, std::uint32_t, std::uint32_t, std::uint32_t,
                                   std::uint32_t)>(table[5])(writer, 96000, 44100, 2, 0);
    EXPECT_EQ(fake.control->outputArgs[0], 96000u);
    const std::int16_t pcm[4] = {};
    reinterpret_cast<WmaStatus (*)(WmaAudioWriter*, const void*, std::uint32_t)>(table[7])(writer, pcm, 8);
    EXPECT_EQ(fake.control->bytesWritten, 8u);
    reinterpret_cast<WmaStatus (*)(WmaAudioWriter*)>(table[8])(writer);
    EXPECT_EQ(fake.control->flushCalls, 1);
    reinterpret_cast<std::uint32_t (*)(WmaAudioWriter*)>(table[2])(writer);
    EXPECT_EQ(fake.control->releaseCalls, 1);
}

}  // namespace
