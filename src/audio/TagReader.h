#pragma once

#include <QByteArray>
#include <QString>

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

    bool IsEmpty() const;
    // Fills every field that is empty here from other (the cover with its type).
    void FillFrom(const AudioTags& other);
};

// Reads the tags of a WAV, MP3 or WMA file through FFmpeg's demuxers (ID3v2, ID3v1, APE, ASF
// attributes, RIFF INFO); a file without tags, or one FFmpeg cannot open, gives empty tags.
AudioTags ReadTags(const QString& path);
