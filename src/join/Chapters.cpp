// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Chapters.h"

namespace join {

std::vector<JoinChapter> MakeChapters(const std::vector<std::uint64_t>& rowEndFrames,
                                      const QStringList& titles, const QStringList& performers) {
    std::vector<JoinChapter> chapters;
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < rowEndFrames.size(); ++i) {
        const auto row = static_cast<qsizetype>(i);
        chapters.push_back({row < titles.size() ? titles.at(row) : QString(),
                            row < performers.size() ? performers.at(row) : QString(), start,
                            rowEndFrames[i]});
        start = rowEndFrames[i];
    }
    return chapters;
}

std::uint64_t Milliseconds(std::uint64_t frames, int sampleRate) {
    if (sampleRate <= 0) {
        return 0;
    }
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    // Split to stay exact without overflowing for any frame count a file can hold.
    return frames / rate * 1000 + (frames % rate * 1000 + rate / 2) / rate;
}

}  // namespace join
