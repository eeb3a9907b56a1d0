// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace join {

// One input's place in the joined audio, in frames of the target format.
struct JoinChapter {
    QString title;
    QString performer;
    std::uint64_t startFrame = 0;
    std::uint64_t endFrame = 0;
};

// The chapters of the rows that reached the output: rowEndFrames holds, for each row joined, the
// frame count of the joined audio after it; titles and performers are per row, in the same order.
// A row with chapters of its own (own, per row, at sampleRate) gets them, its first one moved to where
// the row starts, if they all start in order inside the row; else one chapter, and its index is added
// to unfit.
std::vector<JoinChapter> MakeChapters(const std::vector<std::uint64_t>& rowEndFrames,
                                      const QStringList& titles, const QStringList& performers,
                                      const std::vector<std::vector<InputChapter>>& own = {},
                                      int sampleRate = 0, std::vector<std::size_t>* unfit = nullptr);

// frames at sampleRate in milliseconds, rounded to the nearest.
std::uint64_t Milliseconds(std::uint64_t frames, int sampleRate);

}  // namespace join
