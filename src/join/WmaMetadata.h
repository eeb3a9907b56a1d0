// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"

#include <QString>

#include <vector>

namespace join {

// Gives a finished WMA file its tags (ASF content description and extended attributes) and the
// chapters as ASF markers: the file is copied packet by packet into scratchPath with them, and the
// copy is written back over path (which keeps path's inode: it may be a descriptor's name). Empty,
// or the reason it failed; path is left as it was unless the write back failed.
QString AddWmaMetadata(const QString& path, const QString& scratchPath, const AudioTags& tags,
                       const std::vector<JoinChapter>& chapters, int sampleRate);

}  // namespace join
