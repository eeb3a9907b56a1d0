// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodeTestUtil.h"
#include "MessageRecorder.h"
#include "encode/Wavtowma.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <vector>

using namespace encodetest;

// The WMA writer encoding in blocks on worker threads: the blocks must join into the very packets
// of the one-thread encode, with no seam to hear and not a sample more or less.
namespace {

// Small blocks, so a few seconds of input cross many seams.
constexpr int kBlockFrames = 8;
constexpr int kFrame = 2048;
constexpr int kBlock = kBlockFrames * kFrame;

QString Encode(int threads, const QString& name, const std::vector<std::int16_t>& pcm, int rate,
               int channels) {
    const ScopedEnv threadCount("WAVESTITCH_WMA_THREADS", QByteArray::number(threads));
    const ScopedEnv blockFrames("WAVESTITCH_WMA_BLOCK_FRAMES", QByteArray::number(kBlockFrames));
    const QString path = TempDir() + name;
    WavToWma adapter;
    const int chunk = adapter.Init(path, rate, channels, 128000);
    EXPECT_GT(chunk, 0);
    for (std::size_t at = 0; chunk > 0 && at < pcm.size(); at += static_cast<std::size_t>(chunk) / 2) {
        const std::size_t n = std::min(static_cast<std::size_t>(chunk) / 2, pcm.size() - at);
        EXPECT_TRUE(adapter.WriteChunk(pcm.data() + at, static_cast<int>(n * 2)));
    }
    EXPECT_TRUE(adapter.Close());
    return path;
}

// Music-like noise with a drum hit just before every other seam, where a block's lead-in matters most.
std::vector<std::int16_t> MusicWithDrums(int rate, int channels, int frames) {
    std::vector<std::int16_t> pcm = Music(rate, channels, frames);
    const std::vector<std::int16_t> hiss = Noise(channels, frames, 7, 3000);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(std::clamp(pcm[i] + hiss[i], -32768, 32767));
    }
    // Stream frame 0 is the leading silence, so block k starts at input frame k * kBlock - kFrame.
    for (int seam = kBlock - kFrame; seam + 2000 < frames; seam += 2 * kBlock) {
        const std::vector<std::int16_t> burst = Noise(channels, 1500, static_cast<unsigned>(seam), 12000);
        const std::size_t at = static_cast<std::size_t>(seam - 300) * channels;
        for (std::size_t i = 0; i < burst.size(); ++i) {
            const double decay = std::exp(-static_cast<double>(i) / channels / 250.0);
            pcm[at + i] =
                static_cast<std::int16_t>(std::clamp(pcm[at + i] + burst[i] * decay, -32768.0, 32767.0));
        }
    }
    return pcm;
}

struct StreamCase {
    const char* name;
    int rate;
    int channels;
    int frames;  // sample frames of input
    int threads;
};

TEST(WmaThreads, BlocksJoinIntoTheOneThreadStream) {
    MessageRecorder recorder;
    // With the leading silence frame and the closing one, stream frames are the input's plus two.
    const StreamCase cases[] = {
        {"under_two_blocks", 44100, 2, 2 * kBlock - 3 * kFrame, 2},
        {"last_block_only_closing", 44100, 2, 5 * kBlock - kFrame, 2},
        {"off_the_grid", 44100, 2, 6 * kBlock + 777, 2},
        {"mono_22050_three_threads", 22050, 1, 4 * kBlock + 5, 3},
    };
    std::vector<double> losses;
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::int16_t> pcm = MusicWithDrums(c.rate, c.channels, c.frames);
        const QString onePath = Encode(1, QString("one_%1.wma").arg(c.name), pcm, c.rate, c.channels);
        const QString path = Encode(c.threads, QString("par_%1.wma").arg(c.name), pcm, c.rate, c.channels);
        EXPECT_TRUE(ReadFile(path) == ReadFile(onePath)) << "the packets differ";

        const std::vector<std::int16_t> one = DecodeWithFfmpeg(onePath);
        const std::vector<std::int16_t> parallel = DecodeWithFfmpeg(path);
        EXPECT_EQ(parallel.size(), one.size());
        if (c.rate != 44100) {
            continue;
        }
        // The SNR of the 2048 samples around each seam, against the input.
        for (std::size_t seam = kBlock - kFrame; seam + 1024 < static_cast<std::size_t>(c.frames);
             seam += kBlock) {
            const std::size_t from = (seam - 1024) * 2;
            losses.push_back(Snr(pcm, one, from, 2048 * 2) - Snr(pcm, parallel, from, 2048 * 2));
        }
    }
    ASSERT_GE(losses.size(), 8u);
    std::sort(losses.begin(), losses.end());
    std::cout << "[ seams ] SNR loss median " << losses[losses.size() / 2] << " dB, worst " << losses.back()
              << " dB over " << losses.size() << " seams\n";
    EXPECT_LE(losses[losses.size() / 2], 0.5);
    EXPECT_TRUE(recorder.messages.empty());
}

}  // namespace
