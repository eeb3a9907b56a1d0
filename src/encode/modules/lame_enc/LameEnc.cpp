#include "encode/Mp3EncoderApi.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// The MP3 encoder module on libmp3lame. It takes any rate and bitrate a join can produce: rates MP3
// cannot carry are resampled by LAME to the nearest one it can, and bitrates are moved to the
// nearest one the resulting MPEG version allows.

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

struct LameFree {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

}  // namespace

struct Mp3StreamState {
    std::unique_ptr<lame_global_flags, LameFree> lame;
    int channels = 2;
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t outputBufferSize = 0;
    // A stereo chunk of odd length leaves its last left sample here until its right one comes.
    bool hasCarry = false;
    std::int16_t carry = 0;
    std::vector<std::int16_t> joined;
    bool finished = false;
};

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

// LAME's own worst case is 1.25 bytes per sample plus 7200; the sample count is taken at the
// output rate, since upsampling makes more samples than went in.
std::uint32_t OutputBufferSize(std::uint32_t framesPerChunk, int inRate, int outRate) {
    const std::uint64_t outFrames =
        (static_cast<std::uint64_t>(framesPerChunk + 1) * outRate + inRate - 1) / inRate + 1152;
    return static_cast<std::uint32_t>(outFrames + outFrames / 4 + 7200);
}

bool Configure(lame_global_flags* lame, const Mp3EncoderConfig& config, int channels) {
    const int inRate = static_cast<int>(config.sampleRate);
    const int outRate = Nearest(kMp3Rates, inRate);
    const int bitrate =
        outRate >= 32000 ? Nearest(kMpeg1Bitrates, config.bitrate) : Nearest(kMpeg2Bitrates, config.bitrate);
    lame_set_num_channels(lame, channels);
    lame_set_in_samplerate(lame, inRate);
    lame_set_out_samplerate(lame, outRate);
    lame_set_mode(lame, LameMode(config.mode));
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, bitrate);
    lame_set_extension(lame, config.privateFlag != 0);
    lame_set_error_protection(lame, config.crc != 0);
    lame_set_copyright(lame, config.copyright != 0);
    lame_set_original(lame, config.original != 0);
    // The Info tag frame goes first and is completed by beGetInfoTag; no ID3 tags of our own.
    lame_set_bWriteVbrTag(lame, 1);
    lame_set_write_id3tag_automatic(lame, 0);
    return lame_init_params(lame) >= 0;
}

bool ValidStream(Mp3Stream stream) {
    return stream != nullptr && stream->lame != nullptr;
}

}  // namespace

extern "C" {

MP3_ENCODER_EXPORT Mp3Result beInitStream(const Mp3EncoderConfig* config, std::uint32_t* samplesPerChunk,
                                          std::uint32_t* outputBufferSize, Mp3Stream* stream) {
    if (config == nullptr || samplesPerChunk == nullptr || outputBufferSize == nullptr || stream == nullptr) {
        return MP3_ERR_INVALID_CONFIG;
    }
    *stream = nullptr;
    if (config->kind != MP3_CONFIG_MP3 || config->sampleRate == 0 || config->sampleRate > 1'000'000 ||
        config->mode > MP3_MODE_MONO) {
        return MP3_ERR_INVALID_CONFIG;
    }
    std::unique_ptr<Mp3StreamState> state(new (std::nothrow) Mp3StreamState);
    if (!state) {
        return MP3_ERR_NO_MEMORY;
    }
    state->lame.reset(lame_init());
    if (!state->lame) {
        return MP3_ERR_NO_MEMORY;
    }
    state->channels = config->mode == MP3_MODE_MONO ? 1 : 2;
    if (!Configure(state->lame.get(), *config, state->channels)) {
        return MP3_ERR_INVALID_CONFIG;
    }
    state->samplesPerChunk = static_cast<std::uint32_t>(lame_get_framesize(state->lame.get()));
    state->outputBufferSize = OutputBufferSize(state->samplesPerChunk, static_cast<int>(config->sampleRate),
                                               lame_get_out_samplerate(state->lame.get()));
    state->joined.reserve(state->samplesPerChunk + 2);
    *samplesPerChunk = state->samplesPerChunk;
    *outputBufferSize = state->outputBufferSize;
    *stream = state.release();
    return MP3_OK;
}

MP3_ENCODER_EXPORT Mp3Result beEncodeChunk(Mp3Stream stream, std::uint32_t sampleCount,
                                           const std::int16_t* samples, std::uint8_t* output,
                                           std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || stream->finished || output == nullptr || outputBytes == nullptr ||
        (samples == nullptr && sampleCount > 0)) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    if (sampleCount > stream->samplesPerChunk) {
        return MP3_ERR_TOO_MANY_SAMPLES;
    }
    int written = 0;
    if (stream->channels == 1) {
        written = lame_encode_buffer(stream->lame.get(), samples, samples, static_cast<int>(sampleCount),
                                     output, static_cast<int>(stream->outputBufferSize));
    } else {
        const std::int16_t* pcm = samples;
        std::uint32_t count = sampleCount;
        if (stream->hasCarry) {
            stream->joined.assign(1, stream->carry);
            stream->joined.insert(stream->joined.end(), samples, samples + sampleCount);
            pcm = stream->joined.data();
            count = sampleCount + 1;
        }
        stream->hasCarry = count % 2 != 0;
        if (stream->hasCarry) {
            stream->carry = pcm[count - 1];
        }
        written = lame_encode_buffer_interleaved(stream->lame.get(), const_cast<short*>(pcm),
                                                 static_cast<int>(count / 2), output,
                                                 static_cast<int>(stream->outputBufferSize));
    }
    if (written < 0) {
        return written == -1 ? MP3_ERR_BUFFER_TOO_SMALL : MP3_ERR_ENCODE;
    }
    *outputBytes = static_cast<std::uint32_t>(written);
    return MP3_OK;
}

MP3_ENCODER_EXPORT Mp3Result beDeinitStream(Mp3Stream stream, std::uint8_t* output,
                                            std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || stream->finished || output == nullptr || outputBytes == nullptr) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    std::uint32_t used = 0;
    if (stream->hasCarry) {
        // The lone left sample gets a silent right one rather than being dropped.
        short last[2] = {stream->carry, 0};
        stream->hasCarry = false;
        const int n = lame_encode_buffer_interleaved(stream->lame.get(), last, 1, output,
                                                     static_cast<int>(stream->outputBufferSize));
        if (n < 0) {
            return MP3_ERR_ENCODE;
        }
        used = static_cast<std::uint32_t>(n);
    }
    const int n = lame_encode_flush(stream->lame.get(), output + used,
                                    static_cast<int>(stream->outputBufferSize - used));
    if (n < 0) {
        return MP3_ERR_ENCODE;
    }
    stream->finished = true;
    *outputBytes = used + static_cast<std::uint32_t>(n);
    return MP3_OK;
}

MP3_ENCODER_EXPORT Mp3Result beCloseStream(Mp3Stream stream) {
    if (stream == nullptr) {
        return MP3_ERR_INVALID_STREAM;
    }
    delete stream;
    return MP3_OK;
}

MP3_ENCODER_EXPORT void beVersion(Mp3EncoderVersion* version) {
    if (version == nullptr) {
        return;
    }
    std::memset(version, 0, sizeof *version);
    lame_version_t engine{};
    get_lame_version_numerical(&engine);
    version->moduleMajor = 1;
    version->moduleMinor = 0;
    version->engineMajor = static_cast<std::uint8_t>(engine.major);
    version->engineMinor = static_cast<std::uint8_t>(engine.minor);
    std::strncpy(version->engineText, get_lame_version(), sizeof version->engineText - 1);
}

MP3_ENCODER_EXPORT Mp3Result beGetInfoTag(Mp3Stream stream, std::uint8_t* output, std::uint32_t capacity,
                                          std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || !stream->finished || output == nullptr || outputBytes == nullptr) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    const std::size_t size = lame_get_lametag_frame(stream->lame.get(), output, capacity);
    if (size > capacity) {
        return MP3_ERR_BUFFER_TOO_SMALL;
    }
    *outputBytes = static_cast<std::uint32_t>(size);
    return MP3_OK;
}

}  // extern "C"
