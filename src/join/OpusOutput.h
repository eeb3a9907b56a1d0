// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flac/FlacEncode.h"
#include "join/PlanarFeed.h"

#include <QString>

class QIODevice;

// Ogg Opus (RFC 7845) from libopus, through FFmpeg: always 48 kHz in the stream, other rates
// resampled by libswresample's SoX resampler, the decoded length the joined length exactly (the
// last page's granule position trims the end). The tags, cover and chapters are Vorbis comments.
namespace join {

struct OpusSettings {
    int kbps = 0;  // 0: DefaultOpusKbps
    // The comments and pictures, chapters timed as CHAPTERxxx comments; the pictures go in
    // METADATA_BLOCK_PICTURE comments.
    flac::Metadata metadata;
};

struct OpusResult {
    enum class Fault { None, Read, Write, Refused, Cancelled };
    Fault fault = Fault::None;
    QString error;  // for Refused and Write
};

constexpr int kOpusMinKbps = 6;
constexpr int kOpusMaxKbps = 256;
// 64 kbps for mono, 96 for stereo, as opusenc chooses.
int DefaultOpusKbps(int sourceChannels);

// Encodes the PCM from read into out as pages of an Ogg stream, which needs no seeking. Blocks of
// the stream are encoded on every core.
OpusResult EncodeOpus(QIODevice& out, const PcmSource& source, const OpusSettings& settings,
                      const PcmRead& read, const PcmProgress& progress = {});

}  // namespace join
