// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/VorbisComments.h"

namespace join {
namespace {

// The chapter extension counts three digits, so it holds 999 chapters; the rest are left out.
constexpr std::size_t kMaxChapters = 999;

QString ChapterTime(std::uint64_t frame, int sampleRate) {
    const std::uint64_t ms = frame * 1000 / static_cast<std::uint64_t>(sampleRate);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

}  // namespace

flac::Metadata VorbisMetadata(const AudioTags& tags, const std::vector<JoinChapter>& chapters,
                              int sampleRate) {
    flac::Metadata metadata;
    const std::pair<const char*, const QString*> fields[] = {
        {"TITLE", &tags.title},      {"ARTIST", &tags.artist},
        {"ALBUM", &tags.album},      {"ALBUMARTIST", &tags.albumArtist},
        {"DATE", &tags.year},        {"GENRE", &tags.genre},
        {"TRACKNUMBER", &tags.track}};
    for (const auto& [name, value] : fields) {
        if (!value->isEmpty()) {
            metadata.comments << QLatin1String(name) + QLatin1Char('=') + *value;
        }
    }
    for (std::size_t i = 0; i < chapters.size() && i < kMaxChapters; ++i) {
        const QString key = QStringLiteral("CHAPTER%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        metadata.comments << key + QLatin1Char('=') + ChapterTime(chapters[i].startFrame, sampleRate);
        metadata.comments << key + QStringLiteral("NAME=") + chapters[i].title;
    }
    if (!tags.cover.isEmpty()) {
        metadata.pictures.append({tags.cover, tags.coverMime, tags.coverDescription, 3});
    }
    return metadata;
}

}  // namespace join
