// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

using namespace testmedia;
using namespace audio;

namespace {

class StreamApi : public ::testing::Test {
protected:
    void SetUp() override {
        stereo_ = Lame("api_stereo.mp3", Tone(44100, 2, 0.5), {"-b", "128"});
        mono_ = Lame("api_mono.mp3", Tone(22050, 1, 0.5), {"-b", "64"});
    }
    void TearDown() override { FreeOutputDevice(); }

    static StreamHandle Open(const QString& path, std::uint32_t flags = STREAM_DECODE) {
        return OpenFileStream(false, path, 0, 0, flags);
    }

    QString stereo_;
    QString mono_;
};

TEST_F(StreamApi, OrdinaryStreamsNeedTheDevice) {
    FreeOutputDevice();
    EXPECT_EQ(Open(stereo_, 0), 0u);
    EXPECT_EQ(OpenWmaFileStream(false, Asf("api.wma", 44100, 2, 0.5), 0, 0, 0), 0u);

    const StreamHandle decodeOnly = Open(stereo_);
    EXPECT_NE(decodeOnly, 0u);

    ASSERT_NE(InitOutputDevice(-1, 44100, 0, nullptr, nullptr), 0);
    const StreamHandle ordinary = Open(stereo_, 0);
    EXPECT_NE(ordinary, 0u);

    // Freeing the device takes its ordinary streams with it; decode-only streams stay.
    FreeOutputDevice();
    EXPECT_EQ(GetStreamLength(ordinary, POS_BYTE), 0u);
    EXPECT_EQ(GetStreamLength(decodeOnly, POS_BYTE), 88200u);
    EXPECT_TRUE(FreeStream(decodeOnly));
}

TEST_F(StreamApi, DeviceCheckCanFail) {
    const OutputDeviceCheck previous = SetOutputDeviceCheck([] { return false; });
    EXPECT_EQ(InitOutputDevice(-1, 44100, 0, nullptr, nullptr), 0);
    EXPECT_EQ(Open(stereo_, 0), 0u);
    SetOutputDeviceCheck(previous);
    EXPECT_NE(InitOutputDevice(-1, 44100, 0, nullptr, nullptr), 0);
}

TEST_F(StreamApi, UnknownHandlesDoNothing) {
    StreamInfoRecord info;
    char buffer[64];
    for (StreamHandle h : {0u, 0xFFFFFFF0u}) {
        EXPECT_FALSE(FreeStream(h));
        EXPECT_FALSE(GetStreamInfo(h, &info));
        EXPECT_EQ(GetStreamLength(h, POS_BYTE), 0u);
        EXPECT_EQ(IsStreamActive(h), 0u);
        EXPECT_EQ(ReadStreamData(h, buffer, sizeof buffer), 0u);
        EXPECT_EQ(BytesToSeconds(h, 1000), 0.0);
    }
    const StreamHandle h = Open(stereo_);
    EXPECT_TRUE(FreeStream(h));
    EXPECT_FALSE(FreeStream(h));
    EXPECT_EQ(OpenFileStream(true, stereo_, 0, 0, STREAM_DECODE), 0u);
}

// Odd request sizes must give whole frames, and the data must not depend on how it is asked for.
TEST_F(StreamApi, ReadsAreWholeFramesAndPositionsAdd) {
    for (const QString& path : {stereo_, mono_}) {
        const Decoded big = OpenAndReadAll(path, false, 20480);
        const Decoded odd = OpenAndReadAll(path, false, 1001);
        EXPECT_EQ(odd.pcm, big.pcm);
    }
    const StreamHandle h = Open(stereo_);
    char tiny[3];
    EXPECT_EQ(ReadStreamData(h, tiny, sizeof tiny), 0u);
    EXPECT_NE(IsStreamActive(h), 0u);
    EXPECT_EQ(GetStreamPosition(h, POS_BYTE), 0u);
    FreeStream(h);
}

TEST_F(StreamApi, EndOfStreamStaysEnded) {
    const StreamHandle h = Open(stereo_);
    const Decoded d = ReadAll(h);
    EXPECT_EQ(d.Frames(), 22050u);
    EXPECT_EQ(IsStreamActive(h), 0u);
    std::array<char, 4096> buffer{};
    EXPECT_EQ(ReadStreamData(h, buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(GetStreamPosition(h, POS_BYTE), 88200u);
    EXPECT_EQ(GetStreamLength(h, POS_BYTE), 88200u);
    FreeStream(h);
}

TEST_F(StreamApi, BytesToSeconds) {
    const StreamHandle stereo = Open(stereo_);
    const StreamHandle mono = Open(mono_);
    EXPECT_DOUBLE_EQ(BytesToSeconds(stereo, 176400), 1.0);
    EXPECT_DOUBLE_EQ(BytesToSeconds(mono, 44100), 1.0);
    EXPECT_DOUBLE_EQ(BytesToSeconds(mono, GetStreamLength(mono, POS_BYTE)), 0.5);
    // Seven hours of CD audio is past 4 GiB: the count must not be cut to 32 bits.
    EXPECT_DOUBLE_EQ(BytesToSeconds(stereo, 7ull * 3600 * 176400), 7.0 * 3600);
    FreeStream(stereo);
    FreeStream(mono);
}

// Streams are opened, read and freed from several threads at once, as the table is shared.
TEST_F(StreamApi, ConcurrentStreamsDecodeIndependently) {
    const QByteArray expected = OpenAndReadAll(stereo_, false).pcm;
    std::array<QByteArray, 4> results;
    std::vector<std::thread> threads;
    for (QByteArray& result : results) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                const StreamHandle h = Open(stereo_);
                std::array<char, 8192> buffer{};
                QByteArray pcm;
                while (IsStreamActive(h)) {
                    pcm.append(buffer.data(), ReadStreamData(h, buffer.data(), buffer.size()));
                }
                FreeStream(h);
                result = pcm;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const QByteArray& result : results) {
        EXPECT_EQ(result, expected);
    }
}

}  // namespace
