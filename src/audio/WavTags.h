// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"

#include <QIODevice>

#include <optional>

namespace audio {

// The tags of a WAV file (RIFF, or RF64 and BW64 with their ds64 sizes), read as FFmpeg's wav demuxer
// reads them: the LIST/INFO texts, the date of a bext chunk, else the ID3v2 tag of an "id3 " chunk,
// whose cover counts in any case. Chunks are walked by their sizes up to the end of the file, without
// reading the audio. A file FFmpeg would refuse (no fmt or data chunk, a broken LIST, bext or ds64)
// gives empty tags. Nothing when the bytes are not a WAV file of that kind (RIFX, XMA2, too short).
// file must be open and seekable.
std::optional<AudioTags> ReadWavTags(QIODevice& file);

}  // namespace audio
