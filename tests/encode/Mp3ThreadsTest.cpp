// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodeTestUtil.h"
#include "MessageRecorder.h"
#include "Mp3Frames.h"
#include "encode/Wavtomp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <vector>

using namespace encodetest;

// The MP3 module encoding in blocks on worker threads: the file must be one valid stream that
// decodes like the one-thread encode of the same input, and its seams must not be heard.
namespace {

// Small blocks, so a few seconds of input cross many seams.
constexpr int kBlockFrames = 32;

class Mp3Threads : public ::testing::Test {
protected:
    void SetUp() override { qputenv("WAVESTITCH_MP3_BLOCK_FRAMES", QByteArray::number(kBlockFrames)); }
    void TearDown() override {
        qunsetenv("WAVESTITCH_MP3_BLOCK_FRAMES");
        qunsetenv("WAVESTITCH_MP3_THREADS");
        EXPECT_TRUE(recorder.messages.empty());
    }

    static QString Encode(int threads, const QString& name, const std::vector<std::int16_t>& pcm, int rate,
                          int channels, int kbps) {
        qputenv("WAVESTITCH_MP3_THREADS", QByteArray::number(threads));
        const QString path = TempDir() + name;
        WavToMp3 adapter;
        const int chunk = adapter.Init(path, rate, channels == 2 ? 1 : 4, kbps, false, false, true, false);
        EXPECT_GT(chunk, 0);
        for (std::size_t at = 0; chunk > 0 && at < pcm.size(); at += static_cast<std::size_t>(chunk) / 2) {
            const std::size_t n = std::min(static_cast<std::size_t>(chunk) / 2, pcm.size() - at);
            EXPECT_GE(adapter.EncodeChunk(pcm.data() + at, static_cast<int>(n * 2)), 0);
        }
        EXPECT_TRUE(adapter.Close());
        return path;
    }

    MessageRecorder recorder;
};

QString FfmpegErrors(const QString& path) {
    QProcess process;
    process.start("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardError() + process.readAllStandardOutput());
}

struct StreamCase {
    const char* name;
    int rate;
    int channels;
    int kbps;
    int frames;  // sample frames of input
    int threads;
};

// frameSize 1152 at 32 kHz and above, 576 below; a block is kBlockFrames of them.
constexpr int Block(int frameSize) {
    return kBlockFrames * frameSize;
}

TEST_F(Mp3Threads, BlocksJoinIntoTheOneThreadStream) {
    const StreamCase cases[] = {
        {"under_a_block", 44100, 2, 128, Block(1152) - 700, 2},
        {"under_two_blocks", 44100, 2, 128, 2 * Block(1152) + 100, 2},
        {"on_the_grid", 44100, 2, 128, 5 * Block(1152), 2},
        {"one_past_the_grid", 44100, 2, 128, 5 * Block(1152) + 1, 2},
        {"odd_stereo_pair", 44100, 2, 192, 4 * Block(1152) + 333, 3},
        {"own_tag_frame_at_32", 44100, 2, 32, 4 * Block(1152) + 5000, 2},
        {"mono_48000_320", 48000, 1, 320, 6 * Block(1152) + 17, 4},
        {"stereo_22050_64", 22050, 2, 64, 5 * Block(576) + 999, 2},
        {"mono_11025_32", 11025, 1, 32, 7 * Block(576) + 1, 2},
        {"stereo_11025_160", 11025, 2, 160, 4 * Block(576) - 1, 2},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int16_t> pcm = Music(c.rate, c.channels, c.frames);
        if (std::string(c.name) == "odd_stereo_pair") {
            pcm.pop_back();
        }
        const QString onePath = Encode(1, QString("one_%1.mp3").arg(c.name), pcm, c.rate, c.channels, c.kbps);
        const QString path =
            Encode(c.threads, QString("par_%1.mp3").arg(c.name), pcm, c.rate, c.channels, c.kbps);
        const QByteArray oneFile = ReadFile(onePath);
        const QByteArray file = ReadFile(path);
        const std::optional<InfoTag> oneTag = ReadInfoTag(oneFile);
        const std::optional<InfoTag> tag = ReadInfoTag(file);
        const std::vector<Mp3Frame> oneFrames = ParseMp3Frames(oneFile);
        const std::vector<Mp3Frame> frames = ParseMp3Frames(file);

        EXPECT_EQ(frames.size(), oneFrames.size());
        EXPECT_TRUE(ReservoirValid(frames, tag.has_value()));
        EXPECT_EQ(FfmpegErrors(path), "");
        if (c.frames < 2 * Block(c.rate >= 32000 ? 1152 : 576)) {
            // Too short to split: encoded on one thread, byte for byte.
            EXPECT_EQ(file, oneFile);
        }

        const Decoded one = DecodeWithLayer(onePath, false);
        const Decoded layer = DecodeWithLayer(path, false);
        const std::vector<std::int16_t> ffmpeg = DecodeWithFfmpeg(path);
        EXPECT_EQ(layer.samples.size(), one.samples.size());
        EXPECT_EQ(ffmpeg.size(), DecodeWithFfmpeg(onePath).size());
        ASSERT_TRUE(tag);
        ASSERT_TRUE(oneTag);
        const auto channels = static_cast<std::size_t>(c.channels);
        const std::size_t padded = (pcm.size() + channels - 1) / channels * channels;
        EXPECT_EQ(layer.samples.size(), padded);
        EXPECT_EQ(ffmpeg.size(), padded);
        EXPECT_EQ(tag->frames, frames.size() - 1);
        EXPECT_EQ(tag->bytes, static_cast<std::uint32_t>(file.size()));
        EXPECT_EQ(tag->musicLength, static_cast<std::uint32_t>(file.size()));
        EXPECT_EQ(tag->toc, oneTag->toc);
        EXPECT_EQ(tag->delay, oneTag->delay);
        EXPECT_EQ(tag->padding, oneTag->padding);
        EXPECT_EQ(tag->musicCrc, tag->expectedMusicCrc);
        EXPECT_EQ(tag->tagCrc, tag->expectedTagCrc);
        // The one-thread file is LAME's own, or at low bitrates ours; its tag is read the same way.
        EXPECT_EQ(oneTag->musicCrc, oneTag->expectedMusicCrc);
        EXPECT_EQ(oneTag->tagCrc, oneTag->expectedTagCrc);
        EXPECT_GT(Snr(one.samples, layer.samples), 12.0);
        EXPECT_NEAR(Snr(pcm, layer.samples), Snr(pcm, one.samples), 1.0);
    }
}

// SNR loss of the parallel file against the one-thread file in +-4096 samples around every seam.
std::vector<double> SeamLosses(const std::vector<std::int16_t>& pcm, const Decoded& one,
                               const Decoded& parallel, int frameSize) {
    std::vector<double> losses;
    const std::size_t frames = pcm.size() / 2;
    const std::size_t block = static_cast<std::size_t>(Block(frameSize));
    for (std::size_t seam = block; seam + 4096 < frames; seam += block) {
        // A block's first frame decodes to the input 1105 samples (encoder and decoder delay) earlier.
        const std::size_t from = (seam + frameSize / 2 - 1105 - 4096) * 2;
        losses.push_back(Snr(pcm, one.samples, from, 8192 * 2) - Snr(pcm, parallel.samples, from, 8192 * 2));
    }
    return losses;
}

TEST_F(Mp3Threads, SeamsInNoiseCannotBeHeard) {
    const std::vector<std::int16_t> pcm = Noise(2, 12 * Block(1152), 11);
    const Decoded one = DecodeWithLayer(Encode(1, "noise_one.mp3", pcm, 44100, 2, 128), false);
    const Decoded parallel = DecodeWithLayer(Encode(2, "noise_par.mp3", pcm, 44100, 2, 128), false);
    std::vector<double> losses = SeamLosses(pcm, one, parallel, 1152);
    ASSERT_EQ(losses.size(), 11u);
    std::sort(losses.begin(), losses.end());
    std::cout << "[ seams in noise ] SNR loss median " << losses[losses.size() / 2] << " dB, worst "
              << losses.back() << " dB\n";
    EXPECT_LE(losses[losses.size() / 2], 0.5);
    EXPECT_LE(losses.back(), 1.5);
}

// A drum-like burst in a new block's first frame, the worst place for it: that frame starts with
// an empty bit reservoir where a single encoder could have saved bits for the attack.
TEST_F(Mp3Threads, ADrumJustBeforeASeamCannotBeHeard) {
    constexpr int kBurst = 1500;
    std::vector<std::int16_t> pcm = Music(44100, 2, 6 * Block(1152));
    for (int seam = 1; seam < 6; ++seam) {
        const std::vector<std::int16_t> burst = Noise(2, kBurst, static_cast<unsigned>(seam), 12000);
        const std::size_t at = static_cast<std::size_t>(seam * Block(1152) - 300) * 2;
        for (std::size_t i = 0; i < burst.size(); ++i) {
            const double decay = std::exp(-static_cast<double>(i / 2) / 250.0);
            pcm[at + i] =
                static_cast<std::int16_t>(std::clamp(pcm[at + i] + burst[i] * decay, -32768.0, 32767.0));
        }
    }
    const Decoded one = DecodeWithLayer(Encode(1, "drum_one.mp3", pcm, 44100, 2, 128), false);
    const Decoded parallel = DecodeWithLayer(Encode(2, "drum_par.mp3", pcm, 44100, 2, 128), false);
    const std::vector<double> losses = SeamLosses(pcm, one, parallel, 1152);
    ASSERT_EQ(losses.size(), 5u);
    for (const double loss : losses) {
        std::cout << "[ drum at a seam ] SNR loss " << loss << " dB\n";
        EXPECT_LE(loss, 2.5);
    }
}

}  // namespace
