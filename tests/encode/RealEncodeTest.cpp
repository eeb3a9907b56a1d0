// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodeTestUtil.h"
#include "MessageRecorder.h"
#include "Mp3Frames.h"
#include "encode/Wavtomp3.h"
#include "encode/Wavtowma.h"
#include "platform/ExeFolder.h"
#include "platform/Module.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <vector>

using namespace encodetest;

namespace {

// Allocations on this thread fail once this many more have been made; negative: never.
thread_local long allocationsLeft = -1;

// For its scope, allocations on this thread fail after the first `budget`.
struct FailingAllocations {
    explicit FailingAllocations(long budget) { allocationsLeft = budget; }
    ~FailingAllocations() { allocationsLeft = -1; }
};

}  // namespace

// Replaced for the whole test, so the modules' allocations can be made to fail one by one.
void* operator new(std::size_t size) {
    void* p = allocationsLeft != 0 ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    allocationsLeft -= allocationsLeft > 0 ? 1 : 0;
    return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

// The real modules built beside the test: what goes in must come out, whole and in place.
namespace {

// Feeds pcm in the chunk size Init returned, as the join does.
template <typename Feed>
void FeedInChunks(const std::vector<std::int16_t>& pcm, int chunkBytes, Feed feed) {
    const std::size_t chunkSamples = static_cast<std::size_t>(chunkBytes) / 2;
    for (std::size_t at = 0; at < pcm.size(); at += chunkSamples) {
        const std::size_t n = std::min(chunkSamples, pcm.size() - at);
        feed(pcm.data() + at, static_cast<int>(n * 2));
    }
}

QString EncodeMp3(const QString& name, const std::vector<std::int16_t>& pcm, int rate, int modeCode, int kbps,
                  bool crc = false, bool close = true) {
    const QString path = TempDir() + name;
    WavToMp3 adapter;
    const int n = adapter.Init(path, rate, modeCode, kbps, false, crc, true, false);
    EXPECT_GT(n, 0);
    if (n > 0) {
        FeedInChunks(pcm, n,
                     [&](const std::int16_t* p, int bytes) { EXPECT_GE(adapter.EncodeChunk(p, bytes), 0); });
    }
    if (close) {
        EXPECT_TRUE(adapter.Close());
    }
    return path;
}

QString EncodeWma(const QString& name, const std::vector<std::int16_t>& pcm, int rate, int channels,
                  int bitrate, bool close = true) {
    const QString path = TempDir() + name;
    WavToWma adapter;
    const int n = adapter.Init(path, rate, channels, bitrate);
    EXPECT_EQ(n, 16384);
    if (n > 0) {
        FeedInChunks(pcm, n,
                     [&](const std::int16_t* p, int bytes) { EXPECT_TRUE(adapter.WriteChunk(p, bytes)); });
        EXPECT_TRUE(adapter.WriteChunk(pcm.data(), 0));
    }
    if (close) {
        EXPECT_TRUE(adapter.Close());
    }
    return path;
}

struct Mp3Case {
    const char* name;
    int rate;
    int channels;
    int modeCode;
    int kbps;
};

class Mp3RoundTrip : public ::testing::TestWithParam<Mp3Case> {
protected:
    MessageRecorder recorder;
};

TEST_P(Mp3RoundTrip, DecodesToExactlyTheSamplesEncoded) {
    const Mp3Case& c = GetParam();
    // Not a whole number of frames or chunks, so the end padding is exercised.
    const int frames = c.rate / 2 + 321;
    const std::vector<std::int16_t> pcm = Tone(c.rate, c.channels, frames);
    const QString path = EncodeMp3(QString(c.name) + ".mp3", pcm, c.rate, c.modeCode, c.kbps);

    const std::vector<std::int16_t> ffmpeg = DecodeWithFfmpeg(path);
    const Decoded layer = DecodeWithLayer(path, false);
    EXPECT_EQ(ffmpeg.size(), pcm.size());
    EXPECT_EQ(layer.samples.size(), pcm.size());
    EXPECT_EQ(layer.info.freq, static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(layer.info.chans, static_cast<std::uint32_t>(c.channels));
    const double snr = Snr(pcm, layer.samples);
    std::cout << "[ MP3 " << c.name << " " << c.kbps << " kbps ] SNR " << snr << " dB (ffmpeg "
              << Snr(pcm, ffmpeg) << " dB)\n";
    EXPECT_GT(snr, 22);
    EXPECT_GT(Snr(pcm, ffmpeg), 22);
    EXPECT_TRUE(recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, Mp3RoundTrip,
                         ::testing::Values(Mp3Case{"stereo_44100", 44100, 2, 1, 128},
                                           Mp3Case{"joint_48000", 48000, 2, 2, 192},
                                           Mp3Case{"dual_32000", 32000, 2, 3, 128},
                                           Mp3Case{"mono_22050", 22050, 1, 4, 64},
                                           Mp3Case{"mono_8000", 8000, 1, 4, 32}),
                         [](const auto& param) { return std::string(param.param.name); });

// Every rate a join can target, at every bitrate the wizard offers (capped as the join caps it),
// mono and stereo, with and without CRC. Where a frame of the stream's bitrate is too small for the
// Info tag, the tag still comes first in a larger frame; without it both decoders would play the
// encoder's delay and padding as sound. The music frames carry the bitrate the join tells the user.
TEST(Mp3Lengths, EveryOfferedFormatDecodesToTheInputLength) {
    MessageRecorder recorder;
    QStringList paths;
    std::vector<std::size_t> sizes;
    for (const int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        for (const int kbps : {32, 64, 96, 128, 192, 256, 320}) {
            if (rate <= 11025 && kbps > 64) {
                continue;  // the join caps these at 64
            }
            for (int variant = 0; variant < 4; ++variant) {
                const int channels = 1 + variant % 2;
                const bool crc = variant >= 2;
                // Half the cases in blocks, half on one thread: each path writes its own tag.
                const ScopedEnv threads("WAVESTITCH_MP3_THREADS", variant == 0 || variant == 3 ? "1" : "2");
                const std::vector<std::int16_t> pcm = Tone(rate, channels, rate / 10 + 321);
                paths << EncodeMp3(QString("len_%1_%2_%3.mp3").arg(rate).arg(kbps).arg(variant), pcm, rate,
                                   channels == 2 ? 1 : 4, kbps, crc);
                EXPECT_EQ(DecodeWithLayer(paths.back(), false).samples.size(), pcm.size())
                    << paths.back().toStdString();
                const std::vector<Mp3Frame> frames = ParseMp3Frames(ReadFile(paths.back()));
                ASSERT_FALSE(frames.empty());
                EXPECT_EQ(frames.back().kbps, WavToMp3::EncodedKbps(rate, kbps))
                    << paths.back().toStdString();
                sizes.push_back(pcm.size());
            }
        }
    }
    EXPECT_EQ(DecodedSizesWithFfmpeg(paths), sizes);
    EXPECT_TRUE(recorder.messages.empty());
}

// Rates MP3 cannot carry are resampled by the module to the nearest one it can.
TEST(Mp3Resampling, UncarriedRatesBecomeTheNearestMp3Rate) {
    MessageRecorder recorder;
    struct Case {
        int rate;
        int channels;
        int outRate;
        int kbps;
    };
    for (const Case& c : {Case{96000, 2, 48000, 128}, Case{6000, 1, 8000, 128}, Case{37800, 2, 32000, 128},
                          Case{96000, 2, 48000, 32}}) {
        SCOPED_TRACE(c.rate);
        const int frames = c.rate / 2;
        const QString path =
            EncodeMp3(QString("resampled_%1_%2.mp3").arg(c.rate).arg(c.kbps),
                      Tone(c.rate, c.channels, frames), c.rate, c.channels == 2 ? 1 : 4, c.kbps);
        const Decoded layer = DecodeWithLayer(path, false);
        EXPECT_EQ(layer.info.freq, static_cast<std::uint32_t>(c.outRate));
        EXPECT_NEAR(static_cast<double>(layer.Frames()), static_cast<double>(frames) * c.outRate / c.rate,
                    2.0);
        EXPECT_EQ(DecodeWithFfmpeg(path).size(), layer.samples.size());
    }
    EXPECT_TRUE(recorder.messages.empty());
}

// Whatever target format a join produces, the module accepts it.
TEST(Mp3Module, EveryRateBitrateAndModeStarts) {
    platform::Module module(platform::ExeFolder() + "lame_enc.so");
    const auto init = module.Lookup<BeInitStreamFunction>("beInitStream");
    const auto close = module.Lookup<BeCloseStreamFunction>("beCloseStream");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(close, nullptr);
    for (const int rate : {4000, 6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 37800, 44100, 48000,
                           64000, 88200, 96000, 192000}) {
        for (const int kbps : {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}) {
            for (std::uint8_t mode = 0; mode <= 3; ++mode) {
                Mp3EncoderConfig config{};
                config.sampleRate = static_cast<std::uint32_t>(rate);
                config.mode = mode;
                config.bitrate = static_cast<std::uint16_t>(kbps);
                std::uint32_t samples = 0;
                std::uint32_t bufferSize = 0;
                Mp3Stream stream = nullptr;
                ASSERT_EQ(init(&config, &samples, &bufferSize, &stream), MP3_OK) << rate << " " << kbps;
                const bool mpeg1 = rate >= 28000;
                EXPECT_EQ(samples, mpeg1 ? 1152u : 576u) << rate;
                EXPECT_GE(bufferSize, 7200u);
                close(stream);
            }
        }
    }
}

// The module's callers are C: an allocation failing anywhere in a stream's life, on one thread or
// in blocks, must come back as an error, and leave a stream that can still be closed.
TEST(Mp3Module, AllocationFailureAnywhereIsAnErrorReturn) {
    platform::Module module(platform::ExeFolder() + "lame_enc.so");
    const auto init = module.Lookup<BeInitStreamFunction>("beInitStream");
    const auto encode = module.Lookup<BeEncodeChunkFunction>("beEncodeChunk");
    const auto deinit = module.Lookup<BeDeinitStreamFunction>("beDeinitStream");
    const auto close = module.Lookup<BeCloseStreamFunction>("beCloseStream");
    const auto tag = module.Lookup<BeGetInfoTagFunction>("beGetInfoTag");
    ASSERT_TRUE(init && encode && deinit && close && tag);
    // Blocks of a few frames, so a short stream reaches every allocation of the block encoder.
    const ScopedEnv blocks("WAVESTITCH_MP3_BLOCK_FRAMES", "8");
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 40 * 1152);
    const Mp3EncoderConfig config{MP3_CONFIG_MP3, 44100, MP3_MODE_STEREO, 32, 0, 0, 0, 0, {}};
    // Larger than the module asks for, and allocated before allocations fail.
    std::vector<std::uint8_t> output(1 << 20);
    for (const char* threads : {"1", "2"}) {
        const ScopedEnv threadCount("WAVESTITCH_MP3_THREADS", threads);
        long budget = 0;
        for (Mp3Result result = MP3_ERR_NO_MEMORY; result != MP3_OK; ++budget) {
            std::uint32_t samples = 0;
            std::uint32_t bytes = 0;
            Mp3Stream stream = nullptr;
            {
                const FailingAllocations failing(budget);
                result = init(&config, &samples, &bytes, &stream);
                // The input is a whole number of chunks.
                for (std::size_t at = 0; at < pcm.size() && result == MP3_OK; at += samples) {
                    result = encode(stream, samples, pcm.data() + at, output.data(), &bytes);
                }
                result = result == MP3_OK ? deinit(stream, output.data(), &bytes) : result;
                result = result == MP3_OK ? tag(stream, output.data(), 1 << 20, &bytes) : result;
            }
            ASSERT_TRUE(result == MP3_OK || result == MP3_ERR_NO_MEMORY) << threads << " " << budget;
            if (stream != nullptr) {
                deinit(stream, output.data(), &bytes);
                close(stream);
            }
        }
        // Not the first try: allocations did fail on the way.
        EXPECT_GT(budget, 1) << threads;
    }
}

TEST(Mp3Adapter, DestroyedWithoutCloseLeavesAPlayableFile) {
    MessageRecorder recorder;
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 30000);
    const QString path = EncodeMp3("unclosed.mp3", pcm, 44100, 1, 128, false, false);
    EXPECT_EQ(DecodeWithLayer(path, false).samples.size(), pcm.size());
    EXPECT_EQ(DecodeWithFfmpeg(path).size(), pcm.size());
}

TEST(Mp3Adapter, FullDiskIsAFailure) {
    MessageRecorder recorder;
    // Two seconds are too short for the module to split, and it holds them back until the end;
    // on one thread the frames come back while the stream is fed.
    const ScopedEnv oneThread("WAVESTITCH_MP3_THREADS", "1");
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 44100 * 2);
    WavToMp3 adapter;
    const int n = adapter.Init("/dev/full", 44100, 1, 128, false, false, false, false);
    ASSERT_EQ(n, 2304);
    int failures = 0;
    FeedInChunks(pcm, n, [&](const std::int16_t* p, int bytes) {
        if (failures == 0 && adapter.EncodeChunk(p, bytes) == -1) {
            ++failures;
        }
    });
    EXPECT_FALSE(adapter.Close());
    EXPECT_EQ(failures, 1);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Can not write the file.");
}

// A short encode fits the file's buffer, so the full disk shows only when the file is closed; the
// join must still learn of it.
TEST(Mp3Adapter, FullDiskAtTheEndIsAFailure) {
    MessageRecorder recorder;
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 1152);
    WavToMp3 adapter;
    ASSERT_EQ(adapter.Init("/dev/full", 44100, 1, 128, false, false, false, false), 2304);
    EXPECT_GE(adapter.EncodeChunk(pcm.data(), 2304), 0);
    EXPECT_FALSE(adapter.Close());
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Can not write the file.");
}

// A pipe cannot go back to the start for the finished tag, and that is no failure. The stream is
// the file's byte for byte but for the tag frame, which stays a placeholder: a frame of silence.
TEST(Mp3Adapter, PipeOutputKeepsThePlaceholderFrame) {
    MessageRecorder recorder;
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 30000);
    // Our own tag frame, and LAME's.
    for (const int kbps : {32, 128}) {
        const QByteArray file =
            ReadFile(EncodeMp3(QString("seekable_%1.mp3").arg(kbps), pcm, 44100, 1, kbps));
        const QString path = TempDir() + QString("piped_%1.mp3").arg(kbps);
        FILE* pipe = popen(QByteArray("cat > ") + QFile::encodeName(path), "w");
        ASSERT_NE(pipe, nullptr);
        {
            WavToMp3 adapter;
            const int n = adapter.Init(QString("/proc/self/fd/%1").arg(fileno(pipe)), 44100, 1, kbps, false,
                                       false, true, false);
            FeedInChunks(pcm, n, [&](const std::int16_t* p, int bytes) { adapter.EncodeChunk(p, bytes); });
            EXPECT_TRUE(adapter.Close());
        }
        ASSERT_EQ(pclose(pipe), 0);
        const std::size_t tagBytes = ParseMp3Frames(file).front().bytes;
        EXPECT_EQ(ReadFile(path), file.left(4) + QByteArray(tagBytes - 4, '\0') + file.mid(tagBytes));
        // With no tag to trim by, both decoders play every frame: the placeholder, the encoder's
        // delay, the input and the padding.
        const Decoded layer = DecodeWithLayer(path, false);
        EXPECT_EQ(layer.Frames(), ParseMp3Frames(file).size() * 1152);
        EXPECT_EQ(DecodeWithFfmpeg(path).size(), layer.samples.size());
        const auto silentEnd = layer.samples.begin() + 2 * 1152;
        EXPECT_TRUE(std::all_of(layer.samples.begin(), silentEnd, [](std::int16_t s) { return s == 0; }));
        EXPECT_GT(Snr(pcm, std::vector<std::int16_t>(silentEnd + 2 * (576 + 529), layer.samples.end())), 20);
    }
    EXPECT_TRUE(recorder.messages.empty());
}

struct WmaCase {
    const char* name;
    int rate;
    int channels;
    int bitrate;
};

class WmaRoundTrip : public ::testing::TestWithParam<WmaCase> {
protected:
    MessageRecorder recorder;
};

// The output is 44100 Hz stereo whatever goes in. It decodes from its very first sample on
// (the codec's delay is compensated), and is whole codec frames long: the input rounded up to a
// frame, plus the one frame of silence that completes the last.
TEST_P(WmaRoundTrip, DecodesToTheWholeInputFromItsStart) {
    const WmaCase& c = GetParam();
    const int frames = c.rate / 2 + 321;
    const std::vector<std::int16_t> pcm = Tone(c.rate, c.channels, frames);
    const QString path = EncodeWma(QString(c.name) + ".wma", pcm, c.rate, c.channels, c.bitrate);

    EXPECT_EQ(Probe(path, "codec_name,sample_rate,channels"),
              "codec_name=wmav2\nsample_rate=44100\nchannels=2");
    const std::vector<std::int16_t> ffmpeg = DecodeWithFfmpeg(path);
    const Decoded layer = DecodeWithLayer(path, true);
    EXPECT_EQ(layer.info.freq, 44100u);
    EXPECT_EQ(layer.info.chans, 2u);
    EXPECT_EQ(layer.samples.size(), ffmpeg.size());

    // The same tone, as the output should carry it: at 44100 Hz, in both channels.
    const int outFrames = static_cast<int>((static_cast<long>(frames) * 44100 + c.rate - 1) / c.rate);
    std::vector<std::int16_t> expected = Tone(44100, 2, outFrames);
    if (c.channels == 1) {
        for (std::size_t i = 0; i < expected.size(); i += 2) {
            expected[i + 1] = expected[i];
        }
    }
    const std::size_t wholeFrames = (static_cast<std::size_t>(outFrames) + 2047) / 2048 * 2048 + 2048;
    EXPECT_NEAR(static_cast<double>(layer.Frames()), static_cast<double>(wholeFrames), 2048.0);
    EXPECT_GE(layer.Frames(), static_cast<std::size_t>(outFrames));

    const double snr = Snr(expected, layer.samples);
    const double startSnr = Snr(expected, layer.samples, 0, 2 * 2048);
    std::cout << "[ WMA " << c.name << " " << c.bitrate / 1000 << " kbit/s ] SNR " << snr
              << " dB, first 2048 " << startSnr << " dB, " << layer.Frames() << " frames for " << outFrames
              << "\n";
    EXPECT_GT(snr, 40);
    EXPECT_GT(startSnr, 38);
    EXPECT_GT(Snr(expected, ffmpeg), 40);
    EXPECT_TRUE(recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, WmaRoundTrip,
                         ::testing::Values(WmaCase{"stereo_44100", 44100, 2, 128000},
                                           WmaCase{"mono_8000", 8000, 1, 64000},
                                           WmaCase{"stereo_48000", 48000, 2, 160000},
                                           WmaCase{"mono_22050", 22050, 1, 48000}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WmaAdapter, DestroyedWithoutCloseLeavesAPlayableFile) {
    MessageRecorder recorder;
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 30000);
    const QString path = EncodeWma("unclosed.wma", pcm, 44100, 2, 128000, false);
    const std::vector<std::int16_t> decoded = DecodeWithFfmpeg(path);
    EXPECT_GE(decoded.size(), pcm.size());
    EXPECT_GT(Snr(pcm, decoded), 30);
    EXPECT_EQ(DecodeWithLayer(path, true).samples.size(), decoded.size());
}

TEST(WmaAdapter, NothingWrittenStillMakesAReadableFile) {
    MessageRecorder recorder;
    const QString path = EncodeWma("empty.wma", {}, 44100, 2, 128000);
    EXPECT_EQ(Probe(path, "codec_name"), "codec_name=wmav2");
}

TEST(WmaAdapter, RefusedFormatsLeaveNoFile) {
    MessageRecorder recorder;
    const QString badInput = TempDir() + "bad_input.wma";
    const QString badOutput = TempDir() + "bad_output.wma";
    {
        WavToWma adapter;
        EXPECT_EQ(adapter.Init(badInput, 0, 2, 128000), -1);
    }
    {
        WavToWma adapter;
        // Below what the encoder can do.
        EXPECT_EQ(adapter.Init(badOutput, 44100, 2, 8000), -1);
    }
    {
        WavToWma adapter;
        EXPECT_EQ(adapter.Init(TempDir() + "no/such/folder.wma", 44100, 2, 128000), -1);
    }
    ASSERT_EQ(recorder.messages.size(), 3u);
    EXPECT_EQ(recorder.messages[0].text, "Failed to Set Input Format");
    EXPECT_EQ(recorder.messages[1].text, "Failed to Set Output Format");
    EXPECT_EQ(recorder.messages[2].text, "Failed to Create Audio Writer");
    EXPECT_FALSE(QFile::exists(badInput));
    EXPECT_FALSE(QFile::exists(badOutput));
}

TEST(WmaAdapter, FullDiskIsAFailure) {
    MessageRecorder recorder;
    const std::vector<std::int16_t> pcm = Tone(44100, 2, 44100 * 2);
    bool ok = true;
    {
        WavToWma adapter;
        ASSERT_EQ(adapter.Init("/dev/full", 44100, 2, 128000), 16384);
        FeedInChunks(pcm, 16384,
                     [&](const std::int16_t* p, int bytes) { ok = adapter.WriteChunk(p, bytes) && ok; });
        ok = adapter.Close() && ok;
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(recorder.messages.empty());
}

}  // namespace
