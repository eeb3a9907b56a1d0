// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/SampleConvert.h"

#include "audio/Dither.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using join::ByteArraySink;
using join::SampleConvert;
using join::Widen8To16;

// 16-bit frames numbered 0, 1, 2, ... in every channel, so each output frame tells which input
// frame it repeats.
std::vector<std::int16_t> CountingFrames(int frames, int channels) {
    std::vector<std::int16_t> samples;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples.push_back(static_cast<std::int16_t>(f * channels + c));
        }
    }
    return samples;
}

std::vector<std::int16_t> AsSamples(const QByteArray& bytes) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// How many times each input frame of a mono 16-bit row was written.
std::vector<int> RepeatCounts(const QByteArray& bytes, int inputFrames) {
    std::vector<int> counts(static_cast<std::size_t>(inputFrames), 0);
    for (const std::int16_t s : AsSamples(bytes)) {
        // Frame numbers above 32767 wrap in 16 bits; read back unsigned they are whole again.
        counts.at(static_cast<std::uint16_t>(s))++;
    }
    return counts;
}

class SampleConvertTest : public testing::Test {
protected:
    // Converts one row, fed in blocks of blockBytes as the join reads them.
    QByteArray ConvertRow(const void* data, std::size_t bytes, std::size_t blockBytes) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        for (std::size_t at = 0; at < bytes; at += blockBytes) {
            convert.Convert(p + at, std::min(blockBytes, bytes - at));
        }
        return sink.bytes;
    }

    ByteArraySink sink;
    SampleConvert convert{sink};
};

TEST_F(SampleConvertTest, RateRaisingGivesTheDesignedFrameCounts) {
    const struct {
        int sourceRate;
        int targetRate;
        int expectedFrames;
    } cases[] = {
        {32000, 44100, 44100}, {44100, 48000, 47999}, {8000, 44100, 44099},
        {22050, 44100, 44100}, {11025, 44100, 44100}, {44100, 44100, 44100},
    };
    for (const auto& c : cases) {
        sink.bytes.clear();
        convert.Setup(c.sourceRate, 1, 16, c.targetRate, 2, 16);
        const auto in = CountingFrames(c.sourceRate, 1);
        ConvertRow(in.data(), in.size() * 2, 20480);
        EXPECT_EQ(sink.bytes.size() / 4, c.expectedFrames) << c.sourceRate << " -> " << c.targetRate;
    }
}

TEST_F(SampleConvertTest, RepeatPatternsSpreadEvenlyAndCarryAcrossBlocks) {
    convert.Setup(32000, 1, 16, 44100, 1, 16);
    auto in = CountingFrames(32000, 1);
    // Odd-sized blocks make the accumulator and a half frame cross block boundaries.
    auto counts = RepeatCounts(ConvertRow(in.data(), in.size() * 2, 1001), 32000);
    EXPECT_EQ(std::vector<int>(counts.begin(), counts.begin() + 8),
              (std::vector<int>{1, 1, 2, 1, 1, 2, 1, 2}));

    sink.bytes.clear();
    convert.Setup(44100, 1, 16, 48000, 1, 16);
    in = CountingFrames(44100, 1);
    counts = RepeatCounts(ConvertRow(in.data(), in.size() * 2, 20480), 44100);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(counts[static_cast<std::size_t>(i)], 1) << i;
    }
    EXPECT_EQ(counts[11], 2);

    sink.bytes.clear();
    convert.Setup(8000, 1, 16, 44100, 1, 16);
    in = CountingFrames(8000, 1);
    counts = RepeatCounts(ConvertRow(in.data(), in.size() * 2, 20480), 8000);
    for (const int n : counts) {
        EXPECT_TRUE(n == 5 || n == 6) << n;
    }
    EXPECT_EQ(std::vector<int>(counts.begin(), counts.begin() + 4), (std::vector<int>{5, 6, 5, 6}));
}

TEST_F(SampleConvertTest, WidensEightBitSamplesByTheTable) {
    const std::pair<int, int> table[] = {{0, -32767}, {1, -32511}, {64, -16383}, {127, -255},
                                         {128, 0},    {129, 255},  {192, 16383}, {255, 32511}};
    for (const auto& [in, out] : table) {
        EXPECT_EQ(Widen8To16(static_cast<std::uint8_t>(in)), out) << in;
    }
    convert.Setup(44100, 1, 8, 44100, 2, 16);
    const std::uint8_t bytes[] = {255, 0};
    EXPECT_EQ(AsSamples(ConvertRow(bytes, 2, 2)), (std::vector<std::int16_t>{32511, 32511, -32767, -32767}));
    // A 24-bit target shifts the widened sample on.
    sink.bytes.clear();
    convert.Setup(44100, 1, 8, 44100, 1, 24);
    EXPECT_EQ(ConvertRow(bytes, 1, 1), QByteArray("\0\xFF\x7E", 3));
}

TEST_F(SampleConvertTest, FrameRulesForEveryBitAndChannelCombination) {
    const std::uint8_t mono8[] = {10, 200};
    const std::uint8_t stereo8[] = {10, 200};

    convert.Setup(8000, 1, 8, 8000, 2, 8);
    EXPECT_EQ(ConvertRow(mono8, 2, 2), QByteArray("\x0a\x0a\xc8\xc8", 4));

    sink.bytes.clear();
    convert.Setup(8000, 2, 8, 16000, 2, 8);
    EXPECT_EQ(ConvertRow(stereo8, 2, 2), QByteArray("\x0a\xc8\x0a\xc8", 4));

    sink.bytes.clear();
    convert.Setup(8000, 1, 8, 8000, 1, 16);
    EXPECT_EQ(AsSamples(ConvertRow(mono8, 2, 2)),
              (std::vector<std::int16_t>{Widen8To16(10), Widen8To16(200)}));

    sink.bytes.clear();
    convert.Setup(8000, 2, 8, 8000, 2, 16);
    EXPECT_EQ(AsSamples(ConvertRow(stereo8, 2, 2)),
              (std::vector<std::int16_t>{Widen8To16(10), Widen8To16(200)}));

    const std::int16_t mono16[] = {-5, 7};
    sink.bytes.clear();
    convert.Setup(8000, 1, 16, 8000, 2, 16);
    EXPECT_EQ(AsSamples(ConvertRow(mono16, 4, 4)), (std::vector<std::int16_t>{-5, -5, 7, 7}));
}

TEST(DitherTest, ReducesWithTriangularNoiseTheSameOnEveryRunAndCountsClips) {
    for (const int bits : {16, 24}) {
        audio::Dither dither(bits);
        audio::Dither again(bits);
        for (const double level : {0.5, -100.25}) {
            double sum = 0;
            for (int i = 0; i < 20000; ++i) {
                const std::int32_t reduced = dither.Reduce(level);
                ASSERT_EQ(reduced, again.Reduce(level));
                ASSERT_LE(std::abs(reduced - level), 1.5) << level;  // +-1 step and the rounding
                sum += reduced;
            }
            // Unbiased: truncating or plain rounding would be off by up to half a step.
            EXPECT_NEAR(sum / 20000, level, 0.02) << level;
        }
        const std::int32_t full = 1 << (bits - 1);
        EXPECT_EQ(dither.Reduce(full * 1.3), full - 1);
        EXPECT_EQ(dither.Reduce(-1e12), -full);
        EXPECT_GE(dither.Reduce(full), full - 2);  // full scale itself is no clip
        EXPECT_EQ(dither.Clipped(), 2u);
    }
}

TEST_F(SampleConvertTest, SameFormatRowsAreCopiedInWholeFrames) {
    // 13 bytes in blocks of 5: frames are cut by the blocks and by the end of the row, whose
    // partial frame would shift every later row.
    const QByteArray odd("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D", 13);
    for (const int bits : {8, 16, 24}) {
        sink.bytes.clear();
        convert.Setup(44100, 2, bits, 44100, 2, bits);
        EXPECT_TRUE(convert.SameFormat());
        const int frameBytes = 2 * bits / 8;
        EXPECT_EQ(ConvertRow(odd.constData(), 13, 5), odd.left(13 - 13 % frameBytes)) << bits;
    }
}

TEST_F(SampleConvertTest, StereoChannelsNeverDriftApartWhenRepeated) {
    convert.Setup(44100, 2, 16, 48000, 2, 16);
    std::vector<std::int16_t> in;
    for (int f = 0; f < 44100; ++f) {
        in.push_back(static_cast<std::int16_t>(f % 30000));
        in.push_back(static_cast<std::int16_t>(-(f % 30000)));
    }
    // 3-byte blocks cut frames in every possible place.
    const auto out = AsSamples(ConvertRow(in.data(), in.size() * 2, 3));
    ASSERT_EQ(out.size(), 47999u * 2);
    for (std::size_t i = 0; i < out.size(); i += 2) {
        ASSERT_EQ(out[i + 1], -out[i]) << i;
    }
    EXPECT_EQ(convert.PendingBytes(), 0u);
}

TEST_F(SampleConvertTest, PartialFrameIsCompletedByTheNextBlock) {
    convert.Setup(8000, 2, 8, 8000, 2, 16);
    const std::uint8_t first[] = {255, 0, 128};
    const std::uint8_t second[] = {64};
    convert.Convert(first, 3);
    EXPECT_EQ(convert.PendingBytes(), 1u);
    convert.Convert(second, 1);
    EXPECT_EQ(AsSamples(sink.bytes), (std::vector<std::int16_t>{32511, -32767, 0, -16383}));
}

TEST_F(SampleConvertTest, RowsWithFewerChannelsThanTheTargetFillTheRestWithSilence) {
    const std::int16_t stereo[] = {100, 200};
    convert.Setup(44100, 2, 16, 44100, 4, 16);
    EXPECT_EQ(AsSamples(ConvertRow(stereo, 4, 4)), (std::vector<std::int16_t>{100, 200, 0, 0}));

    sink.bytes.clear();
    const std::uint8_t stereo8[] = {1, 2};
    convert.Setup(44100, 2, 8, 44100, 3, 8);
    EXPECT_EQ(ConvertRow(stereo8, 2, 2), QByteArray("\x01\x02\x80", 3));

    sink.bytes.clear();
    const std::int16_t mono[] = {9};
    convert.Setup(44100, 1, 16, 44100, 6, 16);
    EXPECT_EQ(AsSamples(ConvertRow(mono, 2, 2)), std::vector<std::int16_t>(6, 9));

    sink.bytes.clear();
    convert.Setup(44100, 2, 24, 44100, 3, 24);
    EXPECT_EQ(ConvertRow("\1\2\3\4\5\6", 6, 1), QByteArray("\1\2\3\4\5\6\0\0\0", 9));

    // A 32-bit integer row is no float row of the same width.
    sink.bytes.clear();
    convert.Setup(44100, 1, 32, 44100, 1, 32, false, true);
    EXPECT_EQ(ConvertRow("\0\0\0\x40", 4, 4), QByteArray("\0\0\0\x3F", 4));  // 0.5f
}

TEST_F(SampleConvertTest, EachRowStartsAfreshSoIdenticalRowsGiveIdenticalOutput) {
    const auto in = CountingFrames(1000, 1);
    convert.Setup(32000, 1, 16, 44100, 1, 16);
    convert.Convert(in.data(), in.size() * 2 - 1);  // leaves half a frame behind
    const QByteArray firstRow = sink.bytes;
    sink.bytes.clear();
    convert.Setup(32000, 1, 16, 44100, 1, 16);
    EXPECT_EQ(convert.PendingBytes(), 0u);
    convert.Convert(in.data(), in.size() * 2 - 1);
    EXPECT_EQ(sink.bytes, firstRow);
}

TEST_F(SampleConvertTest, ExtremeRatioIsHandedOnInPieces) {
    // A 1 Hz row in a 44100 Hz target: 44100 frames from one input frame, without one huge buffer.
    struct CountingSink : join::PcmSink {
        void Append(const char*, std::size_t size) override {
            total += size;
            ++calls;
        }
        std::size_t total = 0;
        int calls = 0;
    } counting;
    SampleConvert wide(counting);
    wide.Setup(1, 1, 16, 44100, 2, 16);
    const std::int16_t one = 1;
    wide.Convert(&one, 2);
    EXPECT_EQ(counting.total, 44100u * 4);
    EXPECT_GT(counting.calls, 1);

    // Past 2^24 repeats a float cannot count them down one by one; two crafted headers made the
    // join loop forever here.
    CountingSink extreme;
    SampleConvert faster(extreme);
    faster.Setup(1, 1, 8, 20000001, 1, 8);
    const std::uint8_t sample = 200;
    faster.Convert(&sample, 1);
    EXPECT_EQ(extreme.total, 20000001u);
}

}  // namespace
