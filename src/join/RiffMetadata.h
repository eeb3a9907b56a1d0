// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"

#include <QByteArray>

#include <vector>

namespace join {

// Complete RIFF chunks, each padded to an even size, to follow a WAV file's data chunk.

// A LIST/INFO chunk with the text tags (UTF-8); empty without any. RIFF has no field for an album
// artist or a picture.
QByteArray RiffInfoChunk(const AudioTags& tags);

// A "cue " chunk with a point at the start of each chapter, and a LIST/adtl chunk with a label
// (its title) for each point. Empty without chapters.
QByteArray RiffCueChunks(const std::vector<JoinChapter>& chapters);

}  // namespace join
