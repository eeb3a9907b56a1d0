// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Mp3Tags.h"
#include "audio/WavTags.h"

#include "TestMedia.h"

#include <QBuffer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Byte strings with NULs in them.
QByteArray operator""_b(const char* bytes, std::size_t size) {
    return QByteArray(bytes, static_cast<qsizetype>(size));
}

QByteArray BigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    return out;
}

QByteArray Syncsafe(quint32 value) {
    return BigEndian(
        (value & 0x7F) | ((value << 1) & 0x7F00) | ((value << 2) & 0x7F0000) | ((value << 3) & 0x7F000000),
        4);
}

QByteArray Frame(int version, const char* id, const QByteArray& body, quint16 flags = 0) {
    if (version == 2) {
        return id + BigEndian(body.size(), 3) + body;
    }
    return id + (version == 3 ? BigEndian(body.size(), 4) : Syncsafe(body.size())) + BigEndian(flags, 2) +
           body;
}

QByteArray Tag(int version, const QByteArray& frames, char flags = 0) {
    return "ID3" + QByteArray(1, static_cast<char>(version)) + '\0' + flags + Syncsafe(frames.size()) +
           frames;
}

// A zero after every 0xFF that a zero or a byte of 0xE0 and up follows.
QByteArray Unsynchronised(const QByteArray& data) {
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); ++i) {
        out.append(data[i]);
        if (static_cast<uchar>(data[i]) == 0xFF &&
            (i + 1 == data.size() || data[i + 1] == '\0' || static_cast<uchar>(data[i + 1]) >= 0xE0)) {
            out.append('\0');
        }
    }
    return out;
}

QByteArray Id3v1(const QByteArray& title, const QByteArray& album, const QByteArray& year, int track,
                 int genre) {
    QByteArray comment(30, '\0');
    comment[29] = static_cast<char>(track);
    return "TAG" + title.leftJustified(30, '\0') + QByteArray(30, ' ') + album.leftJustified(30, '\0') +
           year.leftJustified(4, '\0') + comment + static_cast<char>(genre);
}

QByteArray LittleEndian(quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray ApeItem(const QByteArray& key, const QByteArray& value, quint32 flags = 0) {
    return LittleEndian(value.size()) + LittleEndian(flags) + key + '\0' + value;
}

QByteArray ApeFooter(quint32 bytes, int items) {
    return "APETAGEX" + LittleEndian(2000) + LittleEndian(bytes) + LittleEndian(items) + QByteArray(12, '\0');
}

const QByteArray kAudio = QByteArray::fromHex("fffb9000") + QByteArray(413, '\0');
const QByteArray kJpeg = QByteArray::fromHex("ffd8ffe0") + "jpeg";
const QByteArray kPng = QByteArray::fromHex("89504e470d0a1a0a") + "png";

std::vector<std::string> Fields(const AudioTags& t) {
    std::vector<std::string> fields;
    for (const QString& s : {t.title, t.artist, t.album, t.albumArtist, t.year, t.genre, t.track, t.coverMime,
                             t.coverDescription}) {
        fields.push_back(s.toStdString());
    }
    fields.push_back(t.cover.toHex().toStdString());
    return fields;
}

std::optional<AudioTags> Read(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return audio::ReadMp3Tags(buffer);
}

TEST(Mp3TagsTest, CraftedTagsGiveTheFieldsFfmpegWould) {
    const QByteArray utf16le = QByteArray::fromHex("fffe") + QByteArray::fromHex("ff00e900");  // "ÿé"
    const QByteArray v23 = Frame(3, "TIT2", '\x01' + utf16le) +
                           Frame(3, "TPE1", "\x01\xfe\xff\x03\xa9\x00m"_b) + Frame(3, "TCON", "\x00 13"_b) +
                           Frame(3, "TRCK", "\x02\x00\x37"_b) + Frame(3, "TALB", "\x00Zip"_b, 0x0080) +
                           Frame(3, "TYER",
                                 "\x00"
                                 "87"_b);
    const QByteArray v24Title = Unsynchronised("\x00\xff\xe0"_b);
    const QByteArray v24 =
        Syncsafe(6) + "\x01\x00"_b + Frame(4, "TIT2", Syncsafe(3) + v24Title, 0x0003) +
        Frame(4, "TPE1",
              "\x03\xc3\x84\x00"
              "B"_b) +
        Frame(4, "TCON", "\x03(13)Pop\x00Rock"_b) + Frame(4, "TALB", "\x03zipped"_b, 0x0009) +
        Frame(4, "TALB",
              "\x03"
              "Album"_b) +
        Frame(4, "TDRC",
              "\x03"
              "2004-05"_b) +
        Frame(4, "APIC", "\x00image/jpeg\x00\x00\x00"_b + kJpeg) +
        Frame(4, "APIC", "\x03image/jpeg\x00\x03\xc3\xa4\x00"_b + kPng) + QByteArray(20, '\0');
    const QByteArray ape = ApeItem("TITLE", "Ape\x00Two"_b) + ApeItem("Album Artist", "Band") +
                           ApeItem("Year", "2001") + ApeItem("Genre", "Jazz") + ApeItem("Track", "2/3") +
                           ApeItem("Cover Art (Front)", "c.jpg\0"_b + kJpeg, 2);
    const QByteArray truncated = "ID3\x03\x00\x00"_b + Syncsafe(1000) + Frame(3, "TIT2", "\x00Kept"_b) +
                                 Frame(3, "TALB", "\x01\xff\xfe\x41\x00\x42"_b) +
                                 Frame(3, "TPE2", "\x01\x12\x34\x41\x00"_b) +
                                 Frame(3, "TPE1", QByteArray(80, 'x'));

    const struct {
        const char* name;
        QByteArray bytes;
        AudioTags expected;
    } cases[] = {
        {"2.2 with its 3-letter frames, a date of year and day, and a picture",
         Tag(2, Frame(2, "TT2", "\x00Title"_b) +
                    Frame(2, "TP1",
                          "\x00"
                          "Artist"_b) +
                    Frame(2, "TAL",
                          "\x00"
                          "Album"_b) +
                    Frame(2, "TP2",
                          "\x00"
                          "Band"_b) +
                    Frame(2, "TYE",
                          "\x00"
                          "1999"_b) +
                    Frame(2, "TDA",
                          "\x00"
                          "3112"_b) +
                    Frame(2, "TCO", "\x00(13)"_b) +
                    Frame(2, "TRK",
                          "\x00"
                          "4/12"_b) +
                    Frame(2, "PIC", "\x00JPG\x03\x00"_b + kJpeg)) +
             kAudio,
         {"Title", "Artist", "Album", "Band", "1999-12-31", "Pop", "4/12", kJpeg, "image/jpeg", ""}},
        {"2.3 unsynchronised as a whole: UTF-16 both ways, a compressed frame, a 2-digit year; ID3v1 fills "
         "in",
         Tag(3, Unsynchronised(v23), '\x80') + kAudio + Id3v1("V1", "V1 Album", "1990", 5, 17),
         {QStringLiteral("\u00ff\u00e9"),
          QStringLiteral("\u03a9m"),
          "V1 Album",
          "",
          "1990",
          "Pop",
          "7",
          {},
          {},
          {}}},
        {"2.4: extended header, data length, multiple values, front cover by its bytes",
         Tag(4, v24, '\x40') + kAudio,
         {QStringLiteral("\u00ff\u00e0"), QStringLiteral("\u00c4"), "Album", "", "2004-05", "Pop", "", kPng,
          "image/png", QStringLiteral("\u00e4")}},
        {"two tags in a row: the first one's values win",
         Tag(3, Frame(3, "TIT2",
                      "\x00"
                      "First"_b)) +
             Tag(3, Frame(3, "TIT2", "\x00Second"_b) + Frame(3, "TPE1",
                                                             "\x00"
                                                             "Artist"_b)) +
             kAudio,
         {"First", "Artist", "", "", "", "", "", {}, {}, {}}},
        {"APE before ID3v1, which only fills in",
         kAudio + ape + ApeFooter(ape.size() + 32, 6) + Id3v1("V1", "V1 Album", "", 0, 255),
         {"Ape", "", "V1 Album", "Band", "2001", "Jazz", "2/3", kJpeg, "image/jpeg", ""}},
        {"ID3v1.1: Latin-1, blanks and NULs trimmed, genre and track by number",
         kAudio + Id3v1("Caf\xe9  ", "Al\0junk"_b, "1987", 7, 191),
         {QStringLiteral("Caf\u00e9"), "", "Al", "", "1987", "Psybient", "7", {}, {}, {}}},
        {"a tag cut short, a lone UTF-16 byte, a bad byte-order mark",
         truncated.left(60),
         {"Kept", "", "A", "", "", "", "", {}, {}, {}}},
        {"an APE tag said to start before the file",
         kAudio + ApeFooter(5000, 1) + Id3v1("V1", "", "", 0, 0),
         {"V1", "", "", "", "", "Blues", "", {}, {}, {}}},
        {"frames alone", kAudio, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AudioTags> tags = Read(c.bytes);
        ASSERT_TRUE(tags.has_value());
        EXPECT_EQ(Fields(*tags), Fields(c.expected));
    }

    // WAV and WMA files, also behind an ID3v2 tag, and bytes that are no audio go to FFmpeg.
    for (const QByteArray& other :
         {"RIFF\x24\x00\x00\x00WAVEfmt "_b, Tag(3, Frame(3, "TIT2", "\x00T"_b)) + "RF64xxxxWAVE",
          QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c"), QByteArray("fLaC"), QByteArray()}) {
        EXPECT_FALSE(Read(other).has_value()) << other.toHex().toStdString();
    }
}

QByteArray Chunk(const QByteArray& id, const QByteArray& body) {
    return id + LittleEndian(body.size()) + body + QByteArray(body.size() % 2, '\0');
}

QByteArray Wave(const QByteArray& chunks, const QByteArray& magic = "RIFF") {
    return magic + LittleEndian(chunks.size() + 4) + "WAVE" + chunks;
}

// Crafted WAV files give what FFmpeg's demuxer gives, read by our own reader.
TEST(Mp3TagsTest, CraftedWavFilesGiveWhatFfmpegReads) {
    const QByteArray fmt = Chunk("fmt ", QByteArray::fromHex("01000100401f0000803e000002001000"));
    const QByteArray data = Chunk("data", QByteArray(100, '\0'));
    const QByteArray id3 = Tag(3, Frame(3, "TIT2", "\x00Id3"_b) +
                                      Frame(3, "TPE2",
                                            "\x00"
                                            "Band"_b) +
                                      Frame(3, "APIC", "\x00image/png\x00\x03Cover\x00"_b + kPng));
    const QByteArray info = Chunk("LIST", "INFO" + Chunk("INAM", "Info\0"_b) + Chunk("ICRD", "1999"));
    const QByteArray bext = Chunk("bext", QByteArray(320, '\0') + "2020-01-02" + QByteArray(272, '\0'));
    const QByteArray streamed = "data\xff\xff\xff\xff"_b + QByteArray(100, '\0') + info;
    const struct {
        const char* name;
        QByteArray bytes;
        const char* title;
    } cases[] = {
        {"INFO: the later of ITRK and IPRT, texts up to a NUL, bytes taken as UTF-8",
         Wave(fmt +
              Chunk("LIST", "INFO" + Chunk("INAM", "Caf\xc3\xa9\0"_b) + Chunk("ITRK", "1") +
                                Chunk("IPRT", "2") + Chunk("iart", " A \0junk"_b) + Chunk("IGNR", "Pop") +
                                Chunk("IPRD", "Al")) +
              data),
         "Caf\xc3\xa9"},
        {"an id3 chunk alone", Wave(fmt + data + Chunk("id3 ", id3)), "Id3"},
        {"INFO wins over an id3 chunk, whose cover counts", Wave(fmt + info + data + Chunk("ID3 ", id3)),
         "Info"},
        {"odd sizes, padded and not",
         Wave(fmt + Chunk("odd ", "x") + Chunk("LIST", "INFOINAM\3\0\0\0abc"_b + Chunk("IART", "ar")) + data),
         "abcI"},
        {"RF64: the data size from ds64, INFO after the data",
         Wave(Chunk("ds64", QByteArray(8, '\0') + LittleEndian(100) + QByteArray(12, '\0')) + fmt +
                  "data\xff\xff\xff\xff"_b + QByteArray(100, '\0') + info,
              "RF64"),
         "Info"},
        {"JUNK, and a bext date after ICRD",
         Wave(Chunk("JUNK", QByteArray(28, '\0')) + fmt + info + bext + data), "Info"},
        {"a text and a LIST cut short by the end",
         Wave(fmt + data) + "LIST\x64\0\0\0INFO"_b + Chunk("IART", "a") + "INAM\x14\0\0\0Trunc"_b, "Trunc"},
        {"nothing counts after a streamed data size", Wave(fmt + streamed), ""},
        {"no fmt chunk", Wave(info + data), ""},
        {"a bext chunk cut short", Wave(fmt + info + data + bext.left(200)), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const std::optional<AudioTags> ours = audio::ReadWavTags(buffer);
        ASSERT_TRUE(ours.has_value());
        EXPECT_EQ(Fields(*ours), Fields(ReadTagsWithFfmpeg(testmedia::WriteFile("crafted.wav", bytes))));
        EXPECT_EQ(ours->title.toStdString(), c.title);
    }
    // Where FFmpeg loses letters: a text that is no UTF-8 is Latin-1.
    QByteArray latin1 = Wave(fmt + Chunk("LIST", "INFO" + Chunk("INAM", "Caf\xe9")) + data);
    QBuffer latin1Buffer(&latin1);
    latin1Buffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(audio::ReadWavTags(latin1Buffer)->title, QStringLiteral("Caf\u00e9"));
    // RIFX, XMA2, RF64 without ds64 and a file too short for FFmpeg to take go to FFmpeg.
    for (QByteArray other :
         {Wave(fmt + info + data, "RIFX"), Wave(Chunk("XMA2", QByteArray(36, '\0')) + data),
          Wave(fmt + info + data, "RF64"), Wave(Chunk("LIST", "INFO") + "1234")}) {
        QBuffer buffer(&other);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_FALSE(audio::ReadWavTags(buffer).has_value()) << other.toHex().toStdString();
    }
}

// Tagged by lame and by ffmpeg's muxer (2.3 with an ID3v1 tag behind, 2.4 with a cover): what FFmpeg's
// demuxer gives for each field.
TEST(Mp3TagsTest, TaggedFilesGiveWhatFfmpegReads) {
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QStringList lameTags{"--tt", "Title", "--ta", "Artist", "--tl", "Album",
                               "--ty", "2001",  "--tn", "3/9",    "--tg", "Rock"};
    const QString cover = testmedia::Dir() + "cover.png";
    testmedia::RunTool(
        "ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1", "-y", cover});
    const QString plain = testmedia::Lame("tags_none.mp3", wav, {"-b", "64"});
    const auto tagged = [&](const QString& name, const QStringList& options) {
        const QString path = testmedia::Dir() + name;
        testmedia::RunTool(
            "ffmpeg", QStringList{"-v", "error", "-i", plain} + options +
                          QStringList{"-metadata", QStringLiteral("title=\u00c7a \u00ff \u65e5\u672c"),
                                      "-metadata", "artist=Artist", "-metadata", "album=Album", "-metadata",
                                      "album_artist=Band", "-metadata", "date=2002", "-metadata", "genre=Pop",
                                      "-metadata", "track=4/10", "-y", path});
        return path;
    };
    const QString files[] = {
        testmedia::Lame("tags_lame.mp3", wav, lameTags),
        testmedia::Lame("tags_v1.mp3", wav, lameTags + QStringList{"--id3v1-only"}),
        testmedia::Lame("tags_v2.mp3", wav, lameTags + QStringList{"--id3v2-only"}),
        tagged("tags_23.mp3", {"-c", "copy", "-id3v2_version", "3", "-write_id3v1", "1"}),
        tagged("tags_24.mp3", {"-i", cover, "-map", "0", "-map", "1", "-c", "copy", "-disposition:v",
                               "attached_pic", "-metadata:s:v", "comment=Cover (front)", "-metadata:s:v",
                               "title=Cover", "-id3v2_version", "4"}),
    };
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const AudioTags ours = ReadTags(file);
        EXPECT_EQ(Fields(ours), Fields(ReadTagsWithFfmpeg(file)));
        EXPECT_FALSE(ours.title.isEmpty() || ours.year.isEmpty() || ours.track.isEmpty());
    }
    EXPECT_EQ(ReadTags(files[4]).cover, testmedia::ReadFile(cover));
    EXPECT_EQ(ReadTags(files[4]).coverDescription, "Cover");

    // WAV: the INFO texts ffmpeg writes, and those our own join writes after the data; WMA: the
    // attributes our own join writes; MP3: the tag our own join writes, cover and its description
    // included.
    const QString wavTagged = tagged("tags.wav", {"-c:a", "pcm_s16le"});
    const QString joined = testmedia::Dir() + "joined.wav";
    const QString joinedWma = testmedia::Dir() + "joined.wma";
    const QString joinedMp3 = testmedia::Dir() + "joined.mp3";
    for (const QStringList& output :
         {QStringList{joined, wavTagged, wav}, QStringList{joinedWma, wavTagged, wav},
          QStringList{joinedMp3, files[4]}}) {
        testmedia::RunTool(WAVESTITCH_BUILD_DIR "/wavestitch-join",
                           QStringList{"-q", "--tags=1", "--overwrite", "-o"} + output);
    }
    EXPECT_EQ(Fields(ReadTags(joinedMp3)), Fields(ReadTags(files[4])));
    for (const QString& file : {wavTagged, joined, joinedWma, joinedMp3}) {
        SCOPED_TRACE(file.toStdString());
        const AudioTags ours = ReadTags(file);
        EXPECT_EQ(Fields(ours), Fields(ReadTagsWithFfmpeg(file)));
        EXPECT_FALSE(ours.title.isEmpty() || ours.year.isEmpty() || ours.track.isEmpty());
    }
}

}  // namespace
