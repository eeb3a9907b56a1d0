// SPDX-License-Identifier: GPL-3.0-or-later
#include "LameSetup.h"

#include "mpeg/EncodeRates.h"
#include "mpeg/InfoTag.h"

#include <algorithm>
#include <mutex>
#include <span>

namespace lameenc {
namespace {

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

// Bytes of a frame without its padding slot.
int FrameBytes(bool mpeg1, int kbps, int rate) {
    return (mpeg1 ? 144000 : 72000) * kbps / rate;
}

// LAME's own measure of its tag frame: header, CRC and side information, then 156 bytes of tag.
int TagFrameBytes(bool mpeg1, int channels, bool crc) {
    const int side = mpeg1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
    return 4 + (crc ? 2 : 0) + side + 156;
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
    s.outRate = mpeg::Mp3SampleRate(s.inRate);
    const bool mpeg1 = s.outRate >= 32000;
    s.bitrate = mpeg::Mp3Bitrate(s.outRate, config.bitrate);
    s.frameSize = mpeg1 ? 1152 : 576;
    s.maxFrameBytes = FrameBytes(mpeg1, s.bitrate, s.outRate) + 1;
    const int tagBytes = TagFrameBytes(mpeg1, s.channels, config.crc != 0);
    if (FrameBytes(mpeg1, s.bitrate, s.outRate) < tagBytes) {
        const std::span<const int> bitrates = mpeg::Mp3Bitrates(s.outRate);
        const auto holds = std::find_if(bitrates.begin(), bitrates.end(), [&](int kbps) {
            return FrameBytes(mpeg1, kbps, s.outRate) >= tagBytes;
        });
        s.tagKbps = holds != bitrates.end() ? *holds : 0;
    }
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
    lame_set_bWriteVbrTag(flags, infoTag && settings.tagKbps == 0 ? 1 : 0);
    lame_set_write_id3tag_automatic(flags, 0);
    const std::lock_guard<std::mutex> lock(SetupMutex());
    return lame_init_params(flags) >= 0 ? std::move(lame) : nullptr;
}

std::vector<std::uint8_t> LameTagFrame(lame_global_flags* lame) {
    const std::size_t size = lame_get_lametag_frame(lame, nullptr, 0);
    std::vector<std::uint8_t> tag(size);
    if (size > 0 && lame_get_lametag_frame(lame, tag.data(), size) != size) {
        tag.clear();
    }
    return tag;
}

std::vector<std::uint8_t> OwnTagFrame(const EncoderSettings& settings, lame_global_flags* streamEncoder) {
    EncoderSettings tagSettings = settings;
    tagSettings.bitrate = settings.tagKbps;
    tagSettings.tagKbps = 0;
    const LamePtr lame = CreateEncoder(tagSettings, true);
    if (!lame) {
        return {};
    }
    // LAME describes only a stream it has encoded; one frame of silence gives it one.
    std::vector<short> silence(static_cast<std::size_t>(settings.frameSize), 0);
    std::vector<unsigned char> mp3(16384);
    const int size = static_cast<int>(mp3.size());
    if (lame_encode_buffer(lame.get(), silence.data(), silence.data(), settings.frameSize, mp3.data(), size) <
            0 ||
        lame_encode_flush(lame.get(), mp3.data(), size) < 0) {
        return {};
    }
    std::vector<std::uint8_t> tag = LameTagFrame(lame.get());
    const mpeg::EncoderFields fields{lame_get_brate(streamEncoder), lame_get_lowpassfreq(streamEncoder),
                                     lame_get_encoder_delay(streamEncoder)};
    if (!mpeg::SetEncoderFields(tag, fields)) {
        tag.clear();
    }
    return tag;
}

}  // namespace lameenc
