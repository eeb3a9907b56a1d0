// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
std::vector<JoinChapter> MakeChapters(const std::vector<std::uint64_t>& rowEndFrames,
                                      const QStringList& titles, const QStringList& performers);

// frames at sampleRate in milliseconds, rounded to the nearest.
std::uint64_t Milliseconds(std::uint64_t frames, int sampleRate);

}  // namespace join
