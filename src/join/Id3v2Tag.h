// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"

#include <QByteArray>

#include <vector>

namespace join {

// An ID3v2.4 tag to stand before the first MP3 frame: the text tags and the front cover, then one
// CHAP frame per chapter (start and end in milliseconds of sampleRate) under an ordered top-level
// CTOC (split into tables under it past 255 chapters). Empty when there is nothing to write.
QByteArray Id3v2Tag(const AudioTags& tags, const std::vector<JoinChapter>& chapters, int sampleRate);

}  // namespace join
