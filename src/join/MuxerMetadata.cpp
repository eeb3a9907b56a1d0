// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/MuxerMetadata.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace join {
namespace {

void SetTag(AVDictionary** metadata, const char* key, const QString& value) {
    if (!value.isEmpty()) {
        av_dict_set(metadata, key, value.toUtf8().constData(), 0);
    }
}

}  // namespace

void SetMuxerTags(AVDictionary** metadata, const AudioTags& tags, const char* yearKey) {
    SetTag(metadata, "title", tags.title);
    SetTag(metadata, "artist", tags.artist);
    SetTag(metadata, "album", tags.album);
    SetTag(metadata, "album_artist", tags.albumArtist);
    SetTag(metadata, yearKey, tags.year);
    SetTag(metadata, "genre", tags.genre);
    SetTag(metadata, "track", tags.track);
}

bool AddMuxerChapters(AVFormatContext& out, const std::vector<JoinChapter>& chapters, int sampleRate) {
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        // The muxer frees what it holds with avformat_free_context, as it does for chapters it read.
        auto** grown =
            static_cast<AVChapter**>(av_realloc_array(out.chapters, out.nb_chapters + 1, sizeof(AVChapter*)));
        if (grown == nullptr) {
            return false;
        }
        out.chapters = grown;
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) {
            return false;
        }
        out.chapters[out.nb_chapters++] = chapter;
        chapter->id = static_cast<std::int64_t>(i + 1);
        chapter->time_base = AVRational{1, sampleRate};
        chapter->start = static_cast<std::int64_t>(chapters[i].startFrame);
        chapter->end = static_cast<std::int64_t>(chapters[i].endFrame);
        SetTag(&chapter->metadata, "title", chapters[i].title);
    }
    return true;
}

}  // namespace join
