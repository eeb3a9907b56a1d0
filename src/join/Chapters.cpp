// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Chapters.h"

#include <algorithm>

namespace join {

namespace {

// Where each of a row's own chapters starts in the row, in frames; empty when one does not start
// after the one before it and before the row's end.
std::vector<std::uint64_t> OwnStarts(const std::vector<InputChapter>& own, std::uint64_t frames,
                                     int sampleRate) {
    std::vector<std::uint64_t> starts;
    for (const InputChapter& chapter : own) {
        const auto us = static_cast<std::uint64_t>(std::max<std::int64_t>(chapter.startMicroseconds, 0));
        const auto rate = static_cast<std::uint64_t>(sampleRate);
        const std::uint64_t at = us / 1000000 * rate + (us % 1000000 * rate + 500000) / 1000000;
        if (at >= frames || (!starts.empty() && at <= starts.back())) {
            return {};
        }
        starts.push_back(at);
    }
    if (!starts.empty()) {
        starts.front() = 0;
    }
    return starts;
}

}  // namespace

std::vector<JoinChapter> MakeChapters(const std::vector<std::uint64_t>& rowEndFrames,
                                      const QStringList& titles, const QStringList& performers,
                                      const std::vector<std::vector<InputChapter>>& own, int sampleRate,
                                      std::vector<std::size_t>* unfit) {
    std::vector<JoinChapter> chapters;
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < rowEndFrames.size(); ++i) {
        const auto row = static_cast<qsizetype>(i);
        const QString title = row < titles.size() ? titles.at(row) : QString();
        const QString performer = row < performers.size() ? performers.at(row) : QString();
        const bool hasOwn = i < own.size() && !own[i].empty() && sampleRate > 0;
        const std::vector<std::uint64_t> starts =
            hasOwn ? OwnStarts(own[i], rowEndFrames[i] - start, sampleRate) : std::vector<std::uint64_t>();
        if (hasOwn && starts.empty() && unfit != nullptr) {
            unfit->push_back(i);
        }
        for (std::size_t c = 0; c < starts.size(); ++c) {
            const std::uint64_t end = c + 1 < starts.size() ? start + starts[c + 1] : rowEndFrames[i];
            const QString& ownTitle = own[i][c].title;
            chapters.push_back({ownTitle.isEmpty() ? title : ownTitle, performer, start + starts[c], end});
        }
        if (starts.empty()) {
            chapters.push_back({title, performer, start, rowEndFrames[i]});
        }
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
