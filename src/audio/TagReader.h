// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// A chapter of an input file: its title and where it starts in that file.
struct InputChapter {
    QString title;
    std::int64_t startMicroseconds = 0;
};

// The tags of an audio file that a join carries over to its output.
struct AudioTags {
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString year;
    QString genre;
    QString track;
    QByteArray cover;  // the front cover's image file, as stored
    QString coverMime;
    QString coverDescription;  // the picture's own caption, such as "Cover"; often empty

    bool IsEmpty() const;
    // Fills every field that is empty here from other (the cover with its type and description).
    void FillFrom(const AudioTags& other);
};

// Reads the tags of a WAV, MP3 or WMA file: an MP3 file (ID3v2, APE, ID3v1) and a WAV file (INFO,
// bext, ID3v2), told by their bytes, with our own readers and no FFmpeg call, any other through FFmpeg. A
// file without tags, or one that cannot be read, gives empty tags.
AudioTags ReadTags(const QString& path);

// The same through FFmpeg's demuxers for any file (ID3v2, ID3v1, ASF attributes, RIFF INFO, Vorbis
// comments, MP4 atoms).
AudioTags ReadTagsWithFfmpeg(const QString& path);

// The chapters FFmpeg's demuxer finds in a file (MP4 chapters, Vorbis CHAPTER comments, ...), in order;
// none for a file without them or that cannot be read.
std::vector<InputChapter> ReadChaptersWithFfmpeg(const QString& path);
