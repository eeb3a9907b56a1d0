#include "LameSetup.h"

#include <array>
#include <cstdlib>
#include <mutex>

namespace lameenc {
namespace {

constexpr std::array<int, 9> kMp3Rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::array<int, 14> kMpeg1Bitrates{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 14> kMpeg2Bitrates{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

// Nearest by distance; on a tie the higher one, so nothing is thrown away needlessly.
template <std::size_t N>
int Nearest(const std::array<int, N>& values, long wanted) {
    int best = values[0];
    for (const int value : values) {
        if (std::labs(value - wanted) <= std::labs(best - wanted)) {
            best = value;
        }
    }
    return best;
}

MPEG_mode LameMode(std::uint8_t mode) {
    switch (mode) {
        case MP3_MODE_JOINT_STEREO:
            return JOINT_STEREO;
        case MP3_MODE_MONO:
            return MONO;
        default:
            // LAME has no dual-channel coding; plain stereo keeps both channels independent too.
            return STEREO;
    }
}

// lame_init_params fills tables shared by every encoder in the process, so two encoders must not
// be set up at the same moment.
std::mutex& SetupMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

bool MakeSettings(const Mp3EncoderConfig& config, EncoderSettings* settings) {
    if (config.kind != MP3_CONFIG_MP3 || config.sampleRate == 0 || config.sampleRate > 1'000'000 ||
        config.mode > MP3_MODE_MONO) {
        return false;
    }
    EncoderSettings s;
    s.config = config;
    s.channels = config.mode == MP3_MODE_MONO ? 1 : 2;
    s.inRate = static_cast<int>(config.sampleRate);
    s.outRate = Nearest(kMp3Rates, s.inRate);
    const bool mpeg1 = s.outRate >= 32000;
    s.bitrate = mpeg1 ? Nearest(kMpeg1Bitrates, config.bitrate) : Nearest(kMpeg2Bitrates, config.bitrate);
    s.frameSize = mpeg1 ? 1152 : 576;
    s.maxFrameBytes = (mpeg1 ? 144000 : 72000) * s.bitrate / s.outRate + 1;
    *settings = s;
    return true;
}

LamePtr CreateEncoder(const EncoderSettings& settings, bool infoTag) {
    LamePtr lame(lame_init());
    if (!lame) {
        return nullptr;
    }
    lame_global_flags* flags = lame.get();
    const Mp3EncoderConfig& config = settings.config;
    lame_set_num_channels(flags, settings.channels);
    lame_set_in_samplerate(flags, settings.inRate);
    lame_set_out_samplerate(flags, settings.outRate);
    lame_set_mode(flags, LameMode(config.mode));
    lame_set_VBR(flags, vbr_off);
    lame_set_brate(flags, settings.bitrate);
    lame_set_extension(flags, config.privateFlag != 0);
    lame_set_error_protection(flags, config.crc != 0);
    lame_set_copyright(flags, config.copyright != 0);
    lame_set_original(flags, config.original != 0);
    // The Info tag frame goes first and is completed by beGetInfoTag; no ID3 tags of our own.
    lame_set_bWriteVbrTag(flags, infoTag ? 1 : 0);
    lame_set_write_id3tag_automatic(flags, 0);
    const std::lock_guard<std::mutex> lock(SetupMutex());
    return lame_init_params(flags) >= 0 ? std::move(lame) : nullptr;
}

}  // namespace lameenc
