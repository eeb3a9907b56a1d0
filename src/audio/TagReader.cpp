// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TagReader.h"

#include "audio/FfmpegOwners.h"
#include "audio/Mp3Tags.h"
#include "audio/WavTags.h"
#include "platform/FilePath.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>
#include <optional>

namespace {

QString Value(const AVDictionary* metadata, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
        if (entry != nullptr) {
            const QString text = QString::fromUtf8(entry->value).trimmed();
            if (!text.isEmpty()) {
                return text;
            }
        }
    }
    return {};
}

QString MimeOf(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_PNG:
            return QStringLiteral("image/png");
        case AV_CODEC_ID_GIF:
            return QStringLiteral("image/gif");
        case AV_CODEC_ID_BMP:
            return QStringLiteral("image/bmp");
        case AV_CODEC_ID_WEBP:
            return QStringLiteral("image/webp");
        default:
            return QStringLiteral("image/jpeg");
    }
}

// The attached picture marked as the front cover, else the first one.
const AVStream* CoverStream(const AVFormatContext& format) {
    const AVStream* first = nullptr;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 || stream->attached_pic.size <= 0) {
            continue;
        }
        const AVDictionaryEntry* kind = av_dict_get(stream->metadata, "comment", nullptr, 0);
        if (kind != nullptr && QString::fromUtf8(kind->value) == QLatin1String("Cover (front)")) {
            return stream;
        }
        if (first == nullptr) {
            first = stream;
        }
    }
    return first;
}

}  // namespace

bool AudioTags::IsEmpty() const {
    return title.isEmpty() && artist.isEmpty() && album.isEmpty() && albumArtist.isEmpty() &&
           year.isEmpty() && genre.isEmpty() && track.isEmpty() && cover.isEmpty();
}

void AudioTags::FillFrom(const AudioTags& other) {
    for (auto field : {&AudioTags::title, &AudioTags::artist, &AudioTags::album, &AudioTags::albumArtist,
                       &AudioTags::year, &AudioTags::genre, &AudioTags::track}) {
        if ((this->*field).isEmpty()) {
            this->*field = other.*field;
        }
    }
    if (cover.isEmpty()) {
        cover = other.cover;
        coverMime = other.coverMime;
        coverDescription = other.coverDescription;
    }
}

AudioTags ReadTags(const QString& path) {
    QFile file;
    if (!platform::OpenFile(file, path, QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return {};
    }
    if (std::optional<AudioTags> tags = audio::ReadMp3Tags(file)) {
        return *std::move(tags);
    }
    if (std::optional<AudioTags> tags = audio::ReadWavTags(file)) {
        return *std::move(tags);
    }
    file.close();
    return ReadTagsWithFfmpeg(path);
}

AudioTags ReadTagsWithFfmpeg(const QString& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, platform::EncodeName(path).constData(), nullptr, nullptr) < 0) {
        return {};
    }
    const ffmpeg::InputPtr format(opened);
    const AVDictionary* metadata = format->metadata;
    AudioTags tags;
    tags.title = Value(metadata, {"title"});
    tags.artist = Value(metadata, {"artist", "author"});
    tags.album = Value(metadata, {"album"});
    tags.albumArtist = Value(metadata, {"album_artist"});
    tags.year = Value(metadata, {"date", "year", "WM/Year"});
    tags.genre = Value(metadata, {"genre"});
    tags.track = Value(metadata, {"track"});
    if (const AVStream* cover = CoverStream(*format)) {
        tags.cover =
            QByteArray(reinterpret_cast<const char*>(cover->attached_pic.data), cover->attached_pic.size);
        tags.coverMime = MimeOf(cover->codecpar->codec_id);
        // The ID3v2 and ASF demuxers keep a picture's description as its stream's title.
        tags.coverDescription = Value(cover->metadata, {"title"});
    }
    return tags;
}

std::vector<InputChapter> ReadChaptersWithFfmpeg(const QString& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, platform::EncodeName(path).constData(), nullptr, nullptr) < 0) {
        return {};
    }
    const ffmpeg::InputPtr format(opened);
    std::vector<InputChapter> chapters;
    for (unsigned i = 0; i < format->nb_chapters; ++i) {
        const AVChapter* chapter = format->chapters[i];
        chapters.push_back({Value(chapter->metadata, {"title"}),
                            av_rescale_q(chapter->start, chapter->time_base, AVRational{1, 1000000})});
    }
    return chapters;
}
