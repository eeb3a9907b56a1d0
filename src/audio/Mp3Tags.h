// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"

#include <QIODevice>

#include <optional>

namespace audio {

// The tags of an MP3 file, read from its head and tail only: the ID3v2 tags in a row at the start
// (2.2, 2.3, 2.4), then an APEv2 tag and an ID3v1 tag at the end, each later one filling only the
// fields the earlier ones left empty. Frames are read as FFmpeg's demuxer reads them (genre numbers,
// the 2.3 date frames, the first of several values), text in its own encoding.
// Nothing when the bytes are not an MP3 file's: a RIFF, RF64 or ASF header (also behind an ID3v2
// tag), or neither an ID3v2 tag nor an MPEG audio frame at the start. file must be open and seekable.
std::optional<AudioTags> ReadMp3Tags(QIODevice& file);

// The ID3v2 tags in a row at the start of bytes, read as ReadMp3Tags reads them; a tag cut short
// gives the frames it holds whole.
AudioTags ReadId3v2Tags(const QByteArray& bytes);

}  // namespace audio
