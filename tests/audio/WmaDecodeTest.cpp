// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testmedia;

namespace {

struct WmaCase {
    const char* name;
    int rate;
    int chans;
    double seconds;
    const char* codec = "wmav2";
};

// ffmpeg decoding the same file is the reference for both the samples and their number.
class WmaFiles : public ::testing::TestWithParam<WmaCase> {};

TEST_P(WmaFiles, DecodesLikeFfmpeg) {
    const WmaCase& c = GetParam();
    const QString wma = Asf(QString(c.name) + ".wma", c.rate, c.chans, c.seconds, c.codec);
    const Decoded d = OpenAndReadAll(wma, true);
    EXPECT_EQ(d.info.freq, static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(d.info.chans, static_cast<std::uint32_t>(c.chans));
    EXPECT_EQ(d.pcm, RunTool("ffmpeg", {"-v", "error", "-i", wma, "-f", "s16le", "-"}));

    // The container's length is known before decoding; WMA's frame of 2048 samples bounds its error.
    const double frameBytes = c.chans * 2;
    EXPECT_NEAR(d.lengthAtOpen / frameBytes, d.pcm.size() / frameBytes, 2.5 * 2048);
    EXPECT_EQ(d.lengthAtEnd, static_cast<std::uint64_t>(d.pcm.size()));
}

INSTANTIATE_TEST_SUITE_P(Rates, WmaFiles,
                         ::testing::Values(WmaCase{"mono_22050", 22050, 1, 1.0},
                                           WmaCase{"stereo_44100", 44100, 2, 1.0},
                                           WmaCase{"mono_44100_long", 44100, 1, 10.0},
                                           WmaCase{"stereo_48000", 48000, 2, 1.0},
                                           WmaCase{"pcm_768000", 768000, 1, 0.1, "pcm_s16le"}),
                         [](const auto& param) { return std::string(param.param.name); });

// wmav2 stops at two channels, so 5.1 arrives as AC-3 in ASF; it must come out as ffmpeg's stereo mix.
TEST(WmaDownmix, SixChannelsBecomeStereo) {
    const QString asf = Asf("surround.wma", 48000, 6, 0.5, "ac3");
    const Decoded d = OpenAndReadAll(asf, true);
    EXPECT_EQ(d.info.chans, 2u);
    EXPECT_EQ(d.pcm, RunTool("ffmpeg", {"-v", "error", "-i", asf, "-ac", "2", "-f", "s16le", "-"}));
}

TEST(WmaBadFiles, RefusedOrEndEarly) {
    const QByteArray wma = ReadFile(Asf("cut_source.wma", 44100, 2, 2.0));
    const QStringList refused{
        WriteFile("empty.wma", {}),
        WriteFile("text.wma", QByteArray("hello\n").repeated(2000)),
        WriteFile("header_cut.wma", wma.left(200)),
        Lame("mp3_named.wma", Tone(44100, 2, 0.5), {}),
        Asf("pcm_768001.wma", 768001, 1, 0.1, "pcm_s16le"),
        Dir() + "missing.wma",
    };
    for (const QString& path : refused) {
        EXPECT_EQ(audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE), 0u)
            << path.toStdString();
    }

    const Decoded half = OpenAndReadAll(WriteFile("cut.wma", wma.left(wma.size() / 2)), true);
    EXPECT_GT(half.Frames(), 22050u);
    EXPECT_LT(half.Frames(), 88200u);
    EXPECT_EQ(half.lengthAtEnd, static_cast<std::uint64_t>(half.pcm.size()));
}

}  // namespace
