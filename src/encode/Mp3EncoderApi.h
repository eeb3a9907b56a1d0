// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// The binary interface between WavToMp3 and the MP3 encoder module lame_enc.so. The module is
// loaded at run time and may be replaced by any library exporting these entry points, so the
// record layout and the calling conventions below are fixed; nothing here may change size or order.

#if defined(__GNUC__)
#define MP3_ENCODER_EXPORT __attribute__((visibility("default")))
#else
#define MP3_ENCODER_EXPORT
#endif

using Mp3Result = std::uint32_t;

constexpr Mp3Result MP3_OK = 0;
constexpr Mp3Result MP3_ERR_INVALID_CONFIG = 1;
constexpr Mp3Result MP3_ERR_NO_MEMORY = 2;
constexpr Mp3Result MP3_ERR_INVALID_STREAM = 3;
constexpr Mp3Result MP3_ERR_TOO_MANY_SAMPLES = 4;
constexpr Mp3Result MP3_ERR_ENCODE = 5;
constexpr Mp3Result MP3_ERR_BUFFER_TOO_SMALL = 6;

// Record kind 0: the MP3 variant of the configuration record.
constexpr std::uint32_t MP3_CONFIG_MP3 = 0;

// Channel modes of Mp3EncoderConfig::mode.
constexpr std::uint8_t MP3_MODE_STEREO = 0;
constexpr std::uint8_t MP3_MODE_JOINT_STEREO = 1;
constexpr std::uint8_t MP3_MODE_DUAL_CHANNEL = 2;
constexpr std::uint8_t MP3_MODE_MONO = 3;

#pragma pack(push, 1)
// Packed, little-endian. The program fills the first 27 bytes; the reserved tail stays zero.
struct Mp3EncoderConfig {
    std::uint32_t kind;
    std::uint32_t sampleRate;  // Hz, of the PCM handed to beEncodeChunk
    std::uint8_t mode;
    std::uint16_t bitrate;  // kbps
    std::uint32_t privateFlag;
    std::uint32_t crc;
    std::uint32_t copyright;
    std::uint32_t original;
    std::uint8_t reserved[101];
};

struct Mp3EncoderVersion {
    std::uint8_t moduleMajor;
    std::uint8_t moduleMinor;
    std::uint8_t engineMajor;
    std::uint8_t engineMinor;
    char engineText[60];  // zero-terminated
};
#pragma pack(pop)

static_assert(sizeof(Mp3EncoderConfig) == 128);
static_assert(offsetof(Mp3EncoderConfig, sampleRate) == 4);
static_assert(offsetof(Mp3EncoderConfig, mode) == 8);
static_assert(offsetof(Mp3EncoderConfig, bitrate) == 9);
static_assert(offsetof(Mp3EncoderConfig, privateFlag) == 11);
static_assert(offsetof(Mp3EncoderConfig, crc) == 15);
static_assert(offsetof(Mp3EncoderConfig, copyright) == 19);
static_assert(offsetof(Mp3EncoderConfig, original) == 23);
static_assert(offsetof(Mp3EncoderConfig, reserved) == 27);
static_assert(sizeof(Mp3EncoderVersion) == 64);

// Opaque per-stream state of the module.
struct Mp3StreamState;
using Mp3Stream = Mp3StreamState*;

extern "C" {

// Opens an encoder stream. samplesPerChunk is the most 16-bit samples (all channels counted) one
// beEncodeChunk takes; outputBufferSize the bytes the output buffer of every call must hold.
MP3_ENCODER_EXPORT Mp3Result beInitStream(const Mp3EncoderConfig* config, std::uint32_t* samplesPerChunk,
                                          std::uint32_t* outputBufferSize, Mp3Stream* stream);

// Encodes sampleCount 16-bit samples (interleaved when stereo) and puts the MP3 data completed so
// far into output; outputBytes may be 0 while the encoder collects data.
MP3_ENCODER_EXPORT Mp3Result beEncodeChunk(Mp3Stream stream, std::uint32_t sampleCount,
                                           const std::int16_t* samples, std::uint8_t* output,
                                           std::uint32_t* outputBytes);

// Ends the stream: puts the last MP3 frames into output.
MP3_ENCODER_EXPORT Mp3Result beDeinitStream(Mp3Stream stream, std::uint8_t* output,
                                            std::uint32_t* outputBytes);

// Frees the stream.
MP3_ENCODER_EXPORT Mp3Result beCloseStream(Mp3Stream stream);

MP3_ENCODER_EXPORT void beVersion(Mp3EncoderVersion* version);

// Optional: after beDeinitStream, the first frame rewritten with the finished information tag
// (exact sample count, encoder delay and padding). The caller writes it over the stream's first
// frame. outputBytes is 0 when the stream carries no such tag.
MP3_ENCODER_EXPORT Mp3Result beGetInfoTag(Mp3Stream stream, std::uint8_t* output, std::uint32_t capacity,
                                          std::uint32_t* outputBytes);
}

using BeInitStreamFunction = decltype(&beInitStream);
using BeEncodeChunkFunction = decltype(&beEncodeChunk);
using BeDeinitStreamFunction = decltype(&beDeinitStream);
using BeCloseStreamFunction = decltype(&beCloseStream);
using BeVersionFunction = decltype(&beVersion);
using BeGetInfoTagFunction = decltype(&beGetInfoTag);
