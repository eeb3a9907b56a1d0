// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"

#include <vector>

struct AVDictionary;
struct AVFormatContext;

// A join's tags and chapters as FFmpeg's muxers take them.
namespace join {

// The tags under FFmpeg's generic keys; the year under yearKey, as each muxer knows it.
void SetMuxerTags(AVDictionary** metadata, const AudioTags& tags, const char* yearKey);
// Adds the chapters, at sampleRate, to a muxer's context; false when out of memory.
bool AddMuxerChapters(AVFormatContext& out, const std::vector<JoinChapter>& chapters, int sampleRate);

}  // namespace join
