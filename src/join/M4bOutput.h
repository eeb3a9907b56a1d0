// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"
#include "join/PlanarFeed.h"

#include <QString>

#include <cstdint>
#include <vector>

// AAC-LC in MP4 (.m4b, .m4a), as audiobook players expect it, from FFmpeg's own AAC encoder and its
// iPod muxer: the index before the audio, the encoder's priming declared in an edit list, tags, a
// front cover and chapters (a QuickTime chapter track and Nero chapters).
namespace join {

// The joined PCM, whole in a file before the encoding starts.
struct M4bSource : PcmSource {
    std::uint64_t frames = 0;
};

struct M4bMetadata {
    AudioTags tags;
    std::vector<JoinChapter> chapters;  // in frames at the source's rate
};

struct M4bSettings {
    int kbps = 0;  // 0: DefaultM4bKbps
    // The major brand: "M4A " for music, "M4B " (an audiobook) otherwise.
    bool music = false;
    M4bMetadata metadata;
};

struct M4bResult {
    enum class Fault { None, Create, Read, Write, Refused, Cancelled };
    Fault fault = Fault::None;
    QString error;  // for Refused and Write
};

// Reads up to size bytes of the PCM from byte at on into data; returns the bytes read, -1 on
// failure. The encoder's workers call it, several at once.
using M4bRead = std::function<std::int64_t(char* data, std::int64_t size, std::uint64_t at)>;
using M4bProgress = PcmProgress;

// 64 kbps for mono, 128 for stereo.
int DefaultM4bKbps(int sourceChannels);
// The sample rates AAC has (7350 to 96000 Hz).
bool AacTakesRate(int sampleRate);

// Encodes the source's frames from read into a new file at path, which must be seekable: the index is moved
// before the audio once the audio is written.
M4bResult EncodeM4b(const QString& path, const M4bSource& source, const M4bSettings& settings,
                    const M4bRead& read, const M4bProgress& progress = {});

}  // namespace join
