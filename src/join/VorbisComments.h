// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "flac/FlacEncode.h"
#include "join/Chapters.h"

#include <vector>

namespace join {

// The output's tags as Vorbis comments (TITLE, ARTIST, ALBUM, ALBUMARTIST, DATE, GENRE, TRACKNUMBER),
// the cover as a picture, and each chapter as CHAPTERxxx and CHAPTERxxxNAME, numbered from 001 and
// timed HH:MM:SS.mmm: the form FLAC and Ogg readers share.
flac::Metadata VorbisMetadata(const AudioTags& tags, const std::vector<JoinChapter>& chapters,
                              int sampleRate);

}  // namespace join
