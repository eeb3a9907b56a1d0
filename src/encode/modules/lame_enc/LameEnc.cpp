// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Mp3EncoderApi.h"

#include "BlockedEncoder.h"
#include "LameSetup.h"
#include "mpeg/InfoTag.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// The MP3 encoder module on libmp3lame. It takes any rate and bitrate a join can produce: rates MP3
// cannot carry are resampled by LAME to the nearest one it can, and bitrates are moved to the
// nearest one the resulting MPEG version allows. With more than one core, a stream at a rate MP3
// carries is encoded in blocks on worker threads; otherwise on the caller's thread, as one encoder.

struct Mp3StreamState {
    lameenc::EncoderSettings settings;
    // The one-thread encoder, or null when the stream is encoded in blocks.
    lameenc::LamePtr lame;
    std::unique_ptr<lameenc::BlockedEncoder> blocked;
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t outputBufferSize = 0;
    // A stereo chunk of odd length leaves its last left sample here until its right one comes.
    bool hasCarry = false;
    std::int16_t carry = 0;
    std::vector<std::int16_t> joined;
    // The one-thread stream's own tag frame (EncoderSettings::tagKbps): its placeholder goes out
    // first, and the music after it is counted for the finished tag.
    std::vector<std::uint8_t> ownTag;
    bool placeholderOut = false;
    std::uint32_t streamBytes = 0;
    std::uint16_t musicCrc = 0;
    bool finished = false;
    // A call that threw may have left the stream half changed, so every later one but
    // beCloseStream fails.
    bool broken = false;
};

namespace {

// LAME's own worst case is 1.25 bytes per sample plus 7200; the sample count is taken at the
// output rate, since upsampling makes more samples than went in.
std::uint32_t OutputBufferSize(std::uint32_t framesPerChunk, int inRate, int outRate) {
    const std::uint64_t outFrames =
        (static_cast<std::uint64_t>(framesPerChunk + 1) * outRate + inRate - 1) / inRate + 1152;
    return static_cast<std::uint32_t>(outFrames + outFrames / 4 + 7200);
}

bool ValidStream(Mp3Stream stream) {
    return stream != nullptr && !stream->broken && (stream->lame != nullptr || stream->blocked != nullptr);
}

// The callers are C: no exception may leave an entry point.
template <typename Body>
Mp3Result Guarded(Mp3Stream stream, Body body) noexcept {
    Mp3Result result = MP3_ERR_ENCODE;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        result = MP3_ERR_NO_MEMORY;
    } catch (...) {
    }
    if (stream != nullptr) {
        stream->broken = true;
    }
    return result;
}

// Before the one-thread stream's first music: the placeholder for its own tag frame; the bytes put.
std::uint32_t PutPlaceholder(const Mp3StreamState& stream, std::uint8_t* output) {
    if (stream.ownTag.empty() || stream.placeholderOut) {
        return 0;
    }
    const std::vector<std::uint8_t> placeholder = mpeg::TagPlaceholder(stream.ownTag);
    std::copy(placeholder.begin(), placeholder.end(), output);
    return static_cast<std::uint32_t>(placeholder.size());
}

// Counts what a call put out for the finished tag, once the call has succeeded.
void CountOutput(Mp3StreamState& stream, std::uint32_t placed, const std::uint8_t* music, int bytes) {
    if (stream.ownTag.empty()) {
        return;
    }
    stream.placeholderOut = stream.placeholderOut || placed > 0;
    stream.streamBytes += placed + static_cast<std::uint32_t>(bytes);
    stream.musicCrc = mpeg::Crc16(music, static_cast<std::size_t>(bytes), stream.musicCrc);
}

// The one-thread stream's own tag frame with the whole stream's counts; empty when it has none.
std::vector<std::uint8_t> FinishedOwnTag(const Mp3StreamState& stream) {
    std::vector<std::uint8_t> tag = stream.ownTag;
    // A constant bitrate: every frame the same to the seek table.
    mpeg::SeekTable seek;
    const int kbps = lame_get_brate(stream.lame.get());
    for (int i = lame_get_frameNum(stream.lame.get()); i > 0; --i) {
        seek.Add(kbps);
    }
    mpeg::StreamTotals totals;
    totals.seek = &seek;
    totals.bytes = stream.streamBytes;
    totals.musicCrc = stream.musicCrc;
    totals.padding = lame_get_encoder_padding(stream.lame.get());
    if (!tag.empty() && !mpeg::PatchInfoTag(tag, totals)) {
        tag.clear();
    }
    return tag;
}

Mp3Result InitStream(const Mp3EncoderConfig* config, std::uint32_t* samplesPerChunk,
                     std::uint32_t* outputBufferSize, Mp3Stream* stream) {
    if (config == nullptr || samplesPerChunk == nullptr || outputBufferSize == nullptr || stream == nullptr) {
        return MP3_ERR_INVALID_CONFIG;
    }
    *stream = nullptr;
    auto state = std::make_unique<Mp3StreamState>();
    if (!lameenc::MakeSettings(*config, &state->settings)) {
        return MP3_ERR_INVALID_CONFIG;
    }
    const lameenc::EncoderSettings& settings = state->settings;
    lameenc::LamePtr first = lameenc::CreateEncoder(settings, true);
    if (!first) {
        return MP3_ERR_INVALID_CONFIG;
    }
    std::vector<std::uint8_t> ownTag;
    if (settings.tagKbps != 0) {
        ownTag = lameenc::OwnTagFrame(settings, first.get());
        if (ownTag.empty()) {
            return MP3_ERR_INVALID_CONFIG;
        }
    }
    const auto tagBytes = static_cast<std::uint32_t>(ownTag.size());
    state->samplesPerChunk = static_cast<std::uint32_t>(lame_get_framesize(first.get()));
    state->outputBufferSize = OutputBufferSize(state->samplesPerChunk, settings.inRate, settings.outRate);
    // Blocks join seamlessly only on the encoder's own frame grid, which resampling would move.
    const int threads = lameenc::WorkerCount();
    if (threads > 1 && !settings.Resampled()) {
        const int blockFrames = lameenc::BlockFrames();
        state->outputBufferSize = std::max(state->outputBufferSize, lameenc::BlockedEncoder::OutputBufferSize(
                                                                        settings, threads, blockFrames));
        state->blocked = std::make_unique<lameenc::BlockedEncoder>(settings, std::move(first), threads,
                                                                   blockFrames, std::move(ownTag));
    } else {
        state->lame = std::move(first);
        state->ownTag = std::move(ownTag);
        state->joined.reserve(state->samplesPerChunk + 2);
    }
    state->outputBufferSize += tagBytes;
    *samplesPerChunk = state->samplesPerChunk;
    *outputBufferSize = state->outputBufferSize;
    *stream = state.release();
    return MP3_OK;
}

Mp3Result EncodeChunk(Mp3Stream stream, std::uint32_t sampleCount, const std::int16_t* samples,
                      std::uint8_t* output, std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || stream->finished || output == nullptr || outputBytes == nullptr ||
        (samples == nullptr && sampleCount > 0)) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    if (sampleCount > stream->samplesPerChunk) {
        return MP3_ERR_TOO_MANY_SAMPLES;
    }
    if (stream->blocked) {
        lameenc::Output out{output, stream->outputBufferSize, 0};
        const bool ok = stream->blocked->Add(samples, sampleCount, out);
        *outputBytes = static_cast<std::uint32_t>(out.used);
        return ok ? MP3_OK : MP3_ERR_ENCODE;
    }
    const std::uint32_t placed = PutPlaceholder(*stream, output);
    std::uint8_t* music = output + placed;
    const int room = static_cast<int>(stream->outputBufferSize - placed);
    int written = 0;
    if (stream->settings.channels == 1) {
        written = lame_encode_buffer(stream->lame.get(), samples, samples, static_cast<int>(sampleCount),
                                     music, room);
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
                                                 static_cast<int>(count / 2), music, room);
    }
    if (written < 0) {
        return written == -1 ? MP3_ERR_BUFFER_TOO_SMALL : MP3_ERR_ENCODE;
    }
    CountOutput(*stream, placed, music, written);
    *outputBytes = placed + static_cast<std::uint32_t>(written);
    return MP3_OK;
}

Mp3Result DeinitStream(Mp3Stream stream, std::uint8_t* output, std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || stream->finished || output == nullptr || outputBytes == nullptr) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    if (stream->blocked) {
        lameenc::Output out{output, stream->outputBufferSize, 0};
        stream->finished = true;
        const bool ok = stream->blocked->Finish(out);
        *outputBytes = static_cast<std::uint32_t>(out.used);
        return ok ? MP3_OK : MP3_ERR_ENCODE;
    }
    const std::uint32_t placed = PutPlaceholder(*stream, output);
    std::uint8_t* music = output + placed;
    const int room = static_cast<int>(stream->outputBufferSize - placed);
    int used = 0;
    if (stream->hasCarry) {
        // The lone left sample gets a silent right one rather than being dropped.
        short last[2] = {stream->carry, 0};
        stream->hasCarry = false;
        used = lame_encode_buffer_interleaved(stream->lame.get(), last, 1, music, room);
        if (used < 0) {
            return MP3_ERR_ENCODE;
        }
    }
    const int n = lame_encode_flush(stream->lame.get(), music + used, room - used);
    if (n < 0) {
        return MP3_ERR_ENCODE;
    }
    stream->finished = true;
    CountOutput(*stream, placed, music, used + n);
    *outputBytes = placed + static_cast<std::uint32_t>(used + n);
    return MP3_OK;
}

Mp3Result GetInfoTag(Mp3Stream stream, std::uint8_t* output, std::uint32_t capacity,
                     std::uint32_t* outputBytes) {
    if (!ValidStream(stream) || !stream->finished || output == nullptr || outputBytes == nullptr) {
        return MP3_ERR_INVALID_STREAM;
    }
    *outputBytes = 0;
    if (stream->lame && stream->ownTag.empty()) {
        const std::size_t size = lame_get_lametag_frame(stream->lame.get(), output, capacity);
        if (size > capacity) {
            return MP3_ERR_BUFFER_TOO_SMALL;
        }
        *outputBytes = static_cast<std::uint32_t>(size);
        return MP3_OK;
    }
    const std::vector<std::uint8_t> tag =
        stream->blocked ? stream->blocked->InfoTag() : FinishedOwnTag(*stream);
    if (tag.size() > capacity) {
        return MP3_ERR_BUFFER_TOO_SMALL;
    }
    std::copy(tag.begin(), tag.end(), output);
    *outputBytes = static_cast<std::uint32_t>(tag.size());
    return MP3_OK;
}

}  // namespace

extern "C" {

MP3_ENCODER_EXPORT Mp3Result beInitStream(const Mp3EncoderConfig* config, std::uint32_t* samplesPerChunk,
                                          std::uint32_t* outputBufferSize, Mp3Stream* stream) {
    return Guarded(nullptr, [&] { return InitStream(config, samplesPerChunk, outputBufferSize, stream); });
}

MP3_ENCODER_EXPORT Mp3Result beEncodeChunk(Mp3Stream stream, std::uint32_t sampleCount,
                                           const std::int16_t* samples, std::uint8_t* output,
                                           std::uint32_t* outputBytes) {
    return Guarded(stream, [&] { return EncodeChunk(stream, sampleCount, samples, output, outputBytes); });
}

MP3_ENCODER_EXPORT Mp3Result beDeinitStream(Mp3Stream stream, std::uint8_t* output,
                                            std::uint32_t* outputBytes) {
    return Guarded(stream, [&] { return DeinitStream(stream, output, outputBytes); });
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
    return Guarded(stream, [&] { return GetInfoTag(stream, output, capacity, outputBytes); });
}

}  // extern "C"
