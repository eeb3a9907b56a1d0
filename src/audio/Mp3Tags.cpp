// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Mp3Tags.h"

#include "audio/TagBytes.h"

#include <algorithm>
#include <array>

namespace audio {
namespace {

constexpr qint64 kId3v2HeaderBytes = 10;
constexpr qint64 kId3v1Bytes = 128;
constexpr qint64 kApeFooterBytes = 32;
// Enough to tell the container after the ID3v2 tags and to see a frame sync.
constexpr qint64 kProbeBytes = 16;
// Bounds what a damaged APE size can make us read; a real tag, cover included, is far smaller.
constexpr qint64 kMaxApeBytes = qint64(1) << 28;
constexpr int kFrontCover = 3;

// The ID3v1 genres by number, named as FFmpeg names them; ID3v2 genre frames refer to them too.
// clang-format off
constexpr std::array<const char*, 192> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebop",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella", "Euro-House", "Dance Hall",
    "Goa", "Drum & Bass", "Club-House", "Hardcore Techno", "Terror", "Indie", "BritPop", "Negerpunk",
    "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "Jpop",
    "Synthpop", "Abstract", "Art Rock", "Baroque", "Bhangra", "Big Beat", "Breakbeat", "Chillout",
    "Downtempo", "Dub", "EBM", "Eclectic", "Electro", "Electroclash", "Emo", "Experimental", "Garage",
    "Global", "IDM", "Illbient", "Industro-Goth", "Jam Band", "Krautrock", "Leftfield", "Lounge", "Math Rock",
    "New Romantic", "Nu-Breakz", "Post-Punk", "Post-Rock", "Psytrance", "Shoegaze", "Space Rock", "Trop Rock",
    "World Music", "Neoclassical", "Audiobook", "Audio Theatre", "Neue Deutsche Welle", "Podcast",
    "Indie Rock", "G-Funk", "Dubstep", "Garage Rock", "Psybient"
};
// clang-format on

uint Byte(const QByteArray& data, qsizetype at) {
    return static_cast<uchar>(data[at]);
}

// The caller makes sure bytes are there.
quint32 BigEndian(const QByteArray& data, qsizetype at, int bytes) {
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | Byte(data, at + i);
    }
    return value;
}

quint32 LittleEndian32(const QByteArray& data, qsizetype at) {
    return static_cast<quint32>(tagbytes::LittleEndian(data, at, 4));
}

// ID3v2 sizes keep the top bit of every byte clear.
quint32 FromSyncsafe(quint32 raw) {
    return (raw & 0x7F) | ((raw >> 1) & 0x3F80) | ((raw >> 2) & 0x1FC000) | ((raw >> 3) & 0xFE00000);
}

using tagbytes::ReadAt;

// WAV files (RIFF, RF64) and WMA files (ASF) are no MP3 files, even behind an ID3v2 tag.
bool IsOtherContainer(const QByteArray& head) {
    static const QByteArray asf = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
    return head.startsWith("RIFF") || head.startsWith("RF64") || head.startsWith(asf);
}

// An MPEG audio frame header: the sync, and no reserved version, layer, bitrate or rate.
bool IsFrameSync(const QByteArray& head) {
    if (head.size() < 3 || Byte(head, 0) != 0xFF || (Byte(head, 1) & 0xE0) != 0xE0) {
        return false;
    }
    return ((Byte(head, 1) >> 3) & 3) != 1 && ((Byte(head, 1) >> 1) & 3) != 0 && (Byte(head, 2) >> 4) != 15 &&
           ((Byte(head, 2) >> 2) & 3) != 3;
}

// The bytes of the ID3v2 tag that head starts with, header and footer included; 0 without one.
qint64 Id3v2TagBytes(const QByteArray& head) {
    if (head.size() < kId3v2HeaderBytes || !head.startsWith("ID3") || Byte(head, 3) == 0xFF ||
        Byte(head, 4) == 0xFF || (BigEndian(head, 6, 4) & 0x80808080u) != 0) {
        return 0;
    }
    const bool footer = Byte(head, 3) == 4 && (Byte(head, 5) & 0x10) != 0;
    return kId3v2HeaderBytes + FromSyncsafe(BigEndian(head, 6, 4)) + (footer ? kId3v2HeaderBytes : 0);
}

// Undoes the unsynchronisation that put a zero byte after every 0xFF.
QByteArray Resynchronised(const QByteArray& data) {
    QByteArray out;
    out.reserve(data.size());
    for (qsizetype i = 0; i < data.size(); ++i) {
        out.append(data[i]);
        if (Byte(data, i) == 0xFF && i + 1 < data.size() && data[i + 1] == '\0') {
            ++i;
        }
    }
    return out;
}

// The string at pos in one of the four ID3v2 text encodings, up to its NUL or the end of data;
// pos moves past it. Nothing when a UTF-16 string has no byte-order mark. An unknown encoding
// gives an empty string and reads nothing, as in FFmpeg.
std::optional<QString> DecodeString(uint encoding, const QByteArray& data, qsizetype& pos) {
    if (encoding == 0 || encoding == 3) {
        qsizetype stop = data.indexOf('\0', pos);
        stop = stop < 0 ? data.size() : stop;
        const QByteArray bytes = data.mid(pos, stop - pos);
        pos = std::min(stop + 1, data.size());
        return encoding == 0 ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
    }
    if (encoding != 1 && encoding != 2) {
        return QString();
    }
    bool little = false;
    if (encoding == 1) {
        if (data.size() - pos < 2) {
            return std::nullopt;
        }
        const quint32 bom = BigEndian(data, pos, 2);
        pos += 2;
        if (bom != 0xFEFF && bom != 0xFFFE) {
            return std::nullopt;
        }
        little = bom == 0xFFFE;
    }
    const auto unitAt = [&](qsizetype at) {
        const quint32 unit = BigEndian(data, at, 2);
        return static_cast<char16_t>(little ? ((unit >> 8) | ((unit & 0xFF) << 8)) : unit);
    };
    QString text;
    // A lone byte at the end is no character; a broken surrogate pair ends the string.
    while (data.size() - pos >= 2) {
        const char16_t unit = unitAt(pos);
        pos += 2;
        if (unit == 0 || QChar::isLowSurrogate(unit)) {
            break;
        }
        if (QChar::isHighSurrogate(unit)) {
            if (data.size() - pos < 2 || !QChar::isLowSurrogate(unitAt(pos))) {
                break;
            }
            text.append(QChar(unit));
            text.append(QChar(unitAt(pos)));
            pos += 2;
            continue;
        }
        text.append(QChar(unit));
    }
    return text;
}

// FFmpeg reads a genre frame of "(13)", "13" or "(13)Pop" as ID3v1 genre 13, with sscanf's "(%d)"
// and then "%d": blanks before the number and a sign are allowed, trailing text is not looked at.
QString GenreName(const QString& text) {
    qsizetype at = text.startsWith(QLatin1Char('(')) ? 1 : 0;
    while (at < text.size() && text.at(at).unicode() < 128 && text.at(at).isSpace()) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text.at(at) == QLatin1Char('+') || text.at(at) == QLatin1Char('-'))) {
        negative = text.at(at) == QLatin1Char('-');
        ++at;
    }
    const qsizetype digits = at;
    qint64 number = 0;
    for (; at < text.size() && text.at(at).isDigit() && text.at(at).unicode() < 128; ++at) {
        number = std::min<qint64>(number * 10 + text.at(at).digitValue(), 1000);
    }
    if (at == digits || (negative && number != 0) || number >= static_cast<qint64>(kGenres.size())) {
        return text;
    }
    return QString::fromLatin1(kGenres.at(static_cast<std::size_t>(number)));
}

// The MIME type of an ID3v2 picture format FFmpeg knows, in the form the output tags use; empty for
// the formats it skips.
QString PictureMime(const QString& format) {
    static const std::array<std::pair<const char*, const char*>, 8> known = {{
        {"image/gif", "image/gif"},
        {"image/jpeg", "image/jpeg"},
        {"image/jpg", "image/jpeg"},
        {"image/png", "image/png"},
        {"image/tiff", "image/tiff"},
        {"image/bmp", "image/bmp"},
        {"JPG", "image/jpeg"},
        {"PNG", "image/png"},
    }};
    for (const auto& [name, mime] : known) {
        if (format.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
            return QString::fromLatin1(mime);
        }
    }
    return {};
}

// An image's type by its first bytes, else by the extension of its file name; empty if neither tells.
QString ImageMime(const QByteArray& image, const QString& name) {
    if (image.startsWith("\x89PNG\r\n\x1a\n")) {
        return QStringLiteral("image/png");
    }
    if (image.startsWith("\xFF\xD8\xFF")) {
        return QStringLiteral("image/jpeg");
    }
    if (image.startsWith("GIF8")) {
        return QStringLiteral("image/gif");
    }
    if (image.startsWith("BM")) {
        return QStringLiteral("image/bmp");
    }
    const QString extension = name.section(QLatin1Char('.'), -1).toLower();
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")) {
        return QStringLiteral("image/jpeg");
    }
    return PictureMime(QStringLiteral("image/") + extension);
}

struct Picture {
    QByteArray image;
    QString mime;
    QString description;
};

// What the ID3v2 tags in a row say. The first non-empty value of each frame kind wins, over all the
// tags, as in FFmpeg's dictionary.
struct Id3v2Values {
    QString title, artist, album, albumArtist, genre, track, date, year, dayMonth, time;
    Picture front, first;

    AudioTags Tags() const;
};

struct TextFrame {
    const char* id;
    QString Id3v2Values::*field;
};

// FFmpeg maps every one of these, 3-letter (2.2) and 4-letter ids alike, whatever the tag's version.
constexpr std::array<TextFrame, 20> kTextFrames = {{
    {"TIT2", &Id3v2Values::title},       {"TT2", &Id3v2Values::title},       {"TPE1", &Id3v2Values::artist},
    {"TP1", &Id3v2Values::artist},       {"TALB", &Id3v2Values::album},      {"TAL", &Id3v2Values::album},
    {"TPE2", &Id3v2Values::albumArtist}, {"TP2", &Id3v2Values::albumArtist}, {"TCON", &Id3v2Values::genre},
    {"TCO", &Id3v2Values::genre},        {"TRCK", &Id3v2Values::track},      {"TRK", &Id3v2Values::track},
    {"TDRC", &Id3v2Values::date},        {"TDRL", &Id3v2Values::date},       {"TYER", &Id3v2Values::year},
    {"TYE", &Id3v2Values::year},         {"TDAT", &Id3v2Values::dayMonth},   {"TDA", &Id3v2Values::dayMonth},
    {"TIME", &Id3v2Values::time},        {"TIM", &Id3v2Values::time},
}};

bool IsFourDigits(const QString& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return c >= QLatin1Char('0') && c <= QLatin1Char('9');
           });
}

AudioTags Id3v2Values::Tags() const {
    AudioTags tags;
    tags.title = title.trimmed();
    tags.artist = artist.trimmed();
    tags.album = album.trimmed();
    tags.albumArtist = albumArtist.trimmed();
    tags.genre = genre.trimmed();
    tags.track = track.trimmed();
    // A 2.3 year of four digits, with the day and time frames when they are four digits too,
    // becomes "YYYY-MM-DD hh:mm" and wins over a 2.4 date; another year is dropped.
    if (IsFourDigits(year)) {
        tags.year = year;
        if (IsFourDigits(dayMonth)) {
            tags.year += QLatin1Char('-') + dayMonth.mid(2) + QLatin1Char('-') + dayMonth.left(2);
            if (IsFourDigits(time)) {
                tags.year += QLatin1Char(' ') + time.left(2) + QLatin1Char(':') + time.mid(2);
            }
        }
    } else {
        tags.year = date.trimmed();
    }
    const Picture& cover = front.image.isEmpty() ? first : front;
    tags.cover = cover.image;
    tags.coverMime = cover.mime;
    tags.coverDescription = cover.description.trimmed();
    return tags;
}

void ReadTextFrame(const QByteArray& id, const QByteArray& data, Id3v2Values& values) {
    const auto frame = std::find_if(kTextFrames.begin(), kTextFrames.end(),
                                    [&](const TextFrame& known) { return id == known.id; });
    if (frame == kTextFrames.end() || !(values.*frame->field).isEmpty() || data.isEmpty()) {
        return;
    }
    // A 2.4 frame may hold several values apart by NULs; FFmpeg 5.1 keeps the first.
    qsizetype pos = 1;
    const std::optional<QString> text = DecodeString(Byte(data, 0), data, pos);
    if (!text || text->isEmpty()) {
        return;
    }
    const bool genre = frame->field == &Id3v2Values::genre;
    values.*frame->field = genre ? GenreName(*text) : *text;
}

// An APIC frame, or a 2.2 PIC frame with a 3-letter image format instead of a MIME type.
void ReadPictureFrame(const QByteArray& data, bool threeLetterFormat, Id3v2Values& values) {
    if (data.size() <= (threeLetterFormat ? 6 : 4)) {
        return;
    }
    qsizetype pos = 1;
    QString format;
    if (threeLetterFormat) {
        format = QString::fromLatin1(data.mid(1, 3));
        pos = 4;
    } else {
        format = DecodeString(0, data, pos).value_or(QString());
    }
    QString mime = PictureMime(format);
    if (mime.isEmpty() || pos >= data.size()) {
        return;
    }
    const uint kind = Byte(data, pos++);
    const std::optional<QString> description = DecodeString(Byte(data, 0), data, pos);
    if (!description || pos >= data.size()) {
        return;
    }
    const QByteArray image = data.mid(pos);
    if (image.startsWith("\x89PNG\r\n\x1a\n")) {
        mime = QStringLiteral("image/png");
    }
    if (kind == kFrontCover && values.front.image.isEmpty()) {
        values.front = {image, mime, *description};
    }
    if (values.first.image.isEmpty()) {
        values.first = {image, mime, *description};
    }
}

bool IsFrameIdAt(const QByteArray& frames, qint64 at) {
    if (at == frames.size()) {
        return true;
    }
    if (at < 0 || at + 4 > frames.size()) {
        return false;
    }
    const QByteArray id = frames.mid(at, 4);
    return id == QByteArray(4, '\0') || std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

// A 2.4 frame size should be syncsafe, but some writers put a plain number there; as FFmpeg does,
// the one after which the next frame id follows wins. -1 when neither fits.
qint64 Version4FrameSize(const QByteArray& frames, qsizetype at) {
    const quint32 raw = BigEndian(frames, at + 4, 4);
    if (raw <= 0x7F || raw >= frames.size() - at) {
        return FromSyncsafe(raw);
    }
    const qint64 next = at + 10;
    if (IsFrameIdAt(frames, next + FromSyncsafe(raw))) {
        return FromSyncsafe(raw);
    }
    return IsFrameIdAt(frames, next + raw) ? raw : -1;
}

// The data of a frame without the bytes its flags put before it; nothing for a compressed or
// encrypted frame.
std::optional<QByteArray> FrameData(QByteArray data, uint version, uint flags, bool unsynchronised) {
    if (version == 3) {
        if ((flags & 0xC0) != 0) {
            return std::nullopt;
        }
        return (flags & 0x20) != 0 ? data.mid(1) : data;
    }
    if (version == 4) {
        if (unsynchronised || (flags & 0x02) != 0) {
            data = Resynchronised(data);
        }
        if ((flags & 0x0C) != 0) {
            return std::nullopt;
        }
        if ((flags & 0x40) != 0) {
            data.remove(0, 1);
        }
        if ((flags & 0x01) != 0) {
            if (data.size() < 4) {
                return std::nullopt;
            }
            const quint32 length = FromSyncsafe(BigEndian(data, 0, 4));
            data.remove(0, 4);
            if (length < static_cast<quint32>(data.size())) {
                data.truncate(length);
            }
        }
    }
    return data;
}

void ReadFrames(const QByteArray& frames, uint version, bool unsynchronised, Id3v2Values& values) {
    const int idBytes = version == 2 ? 3 : 4;
    const int headerBytes = version == 2 ? 6 : 10;
    qsizetype at = 0;
    while (frames.size() - at >= headerBytes && frames[at] != '\0') {
        const QByteArray id = frames.mid(at, idBytes);
        const qint64 size = version == 2   ? BigEndian(frames, at + 3, 3)
                            : version == 3 ? BigEndian(frames, at + 4, 4)
                                           : Version4FrameSize(frames, at);
        const uint flags = version == 2 ? 0 : BigEndian(frames, at + 8, 2);
        const qsizetype start = at + headerBytes;
        if (size < 0 || size > frames.size() - start) {
            break;
        }
        at = start + size;
        const bool picture = id == (version == 2 ? "PIC" : "APIC");
        if (size == 0 || (id[0] != 'T' && !picture)) {
            continue;
        }
        const std::optional<QByteArray> data =
            FrameData(frames.mid(start, size), version, flags, unsynchronised);
        if (!data) {
            continue;
        }
        if (picture) {
            ReadPictureFrame(*data, version == 2, values);
        } else {
            ReadTextFrame(id, *data, values);
        }
    }
}

// One ID3v2 tag, header included; a tag cut short gives the frames it holds whole.
void ReadId3v2(const QByteArray& tag, Id3v2Values& values) {
    const uint version = Byte(tag, 3);
    const uint flags = Byte(tag, 5);
    // FFmpeg skips a compressed 2.2 tag, as it skips versions it does not know.
    if (version < 2 || version > 4 || (version == 2 && (flags & 0x40) != 0)) {
        return;
    }
    const bool unsynchronised = (flags & 0x80) != 0;
    QByteArray frames = tag.mid(kId3v2HeaderBytes, FromSyncsafe(BigEndian(tag, 6, 4)));
    // Up to 2.3 the whole tag is unsynchronised, frame headers included; 2.4 does it frame by frame.
    if (unsynchronised && version < 4) {
        frames = Resynchronised(frames);
    }
    if (version > 2 && (flags & 0x40) != 0) {
        if (frames.size() < 4) {
            return;
        }
        const quint32 raw = BigEndian(frames, 0, 4);
        // The extended header's size counts itself in 2.4 (syncsafe), and not in 2.3.
        const qint64 skip = version == 4 ? FromSyncsafe(raw) : qint64(raw) + 4;
        if (skip < 4 || skip > frames.size()) {
            return;
        }
        frames.remove(0, skip);
    }
    ReadFrames(frames, version, unsynchronised, values);
}

// Latin-1 up to a NUL, trailing blanks dropped.
QString Id3v1Text(const QByteArray& tag, int at, int bytes) {
    QByteArray text = tag.mid(at, bytes);
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) {
        text.truncate(nul);
    }
    return QString::fromLatin1(text).trimmed();
}

AudioTags ReadId3v1(const QByteArray& tag) {
    AudioTags tags;
    tags.title = Id3v1Text(tag, 3, 30);
    tags.artist = Id3v1Text(tag, 33, 30);
    tags.album = Id3v1Text(tag, 63, 30);
    tags.year = Id3v1Text(tag, 93, 4);
    // ID3v1.1: a zero before the comment's last byte makes that byte the track number.
    if (tag[125] == '\0' && tag[126] != '\0') {
        tags.track = QString::number(Byte(tag, 126));
    }
    if (Byte(tag, 127) < kGenres.size()) {
        tags.genre = QString::fromLatin1(kGenres.at(Byte(tag, 127)));
    }
    return tags;
}

void ReadApeItem(const QByteArray& key, uint flags, const QByteArray& value, AudioTags& tags) {
    const bool binary = ((flags >> 1) & 3) == 1;
    if (binary) {
        const qsizetype nameEnd = value.indexOf('\0');
        if (key.compare("Cover Art (Front)", Qt::CaseInsensitive) != 0 || nameEnd < 0 ||
            !tags.cover.isEmpty()) {
            return;
        }
        const QByteArray image = value.mid(nameEnd + 1);
        const QString mime = ImageMime(image, QString::fromUtf8(value.left(nameEnd)));
        if (!image.isEmpty() && !mime.isEmpty()) {
            tags.cover = image;
            tags.coverMime = mime;
        }
        return;
    }
    static const std::array<std::pair<const char*, QString AudioTags::*>, 7> fields = {{
        {"Title", &AudioTags::title},
        {"Artist", &AudioTags::artist},
        {"Album", &AudioTags::album},
        {"Album Artist", &AudioTags::albumArtist},
        {"Year", &AudioTags::year},
        {"Genre", &AudioTags::genre},
        {"Track", &AudioTags::track},
    }};
    for (const auto& [name, field] : fields) {
        if (key.compare(name, Qt::CaseInsensitive) == 0 && (tags.*field).isEmpty()) {
            // Several values are apart by NULs; the first one counts, as in an ID3v2 frame.
            const qsizetype nul = value.indexOf('\0');
            tags.*field = QString::fromUtf8(nul < 0 ? value : value.left(nul)).trimmed();
        }
    }
}

// The APE tag whose footer ends at end, its items no earlier than start.
AudioTags ReadApe(QIODevice& file, qint64 start, qint64 end, const QByteArray& footer) {
    const quint32 version = LittleEndian32(footer, 8);
    const qint64 bytes = LittleEndian32(footer, 12);
    const quint32 flags = LittleEndian32(footer, 20);
    const bool isHeader = (flags & (1u << 29)) != 0;
    if ((version != 1000 && version != 2000) || isHeader || bytes < kApeFooterBytes || bytes > kMaxApeBytes ||
        end - bytes < start) {
        return {};
    }
    const QByteArray items = ReadAt(file, end - bytes, bytes - kApeFooterBytes);
    AudioTags tags;
    qsizetype at = 0;
    for (quint32 i = LittleEndian32(footer, 16); i > 0 && items.size() - at >= 8; --i) {
        const qint64 valueBytes = LittleEndian32(items, at);
        const quint32 itemFlags = LittleEndian32(items, at + 4);
        const qsizetype keyEnd = items.indexOf('\0', at + 8);
        if (keyEnd < 0 || valueBytes > items.size() - keyEnd - 1) {
            break;
        }
        ReadApeItem(items.mid(at + 8, keyEnd - at - 8), itemFlags, items.mid(keyEnd + 1, valueBytes), tags);
        at = keyEnd + 1 + valueBytes;
    }
    return tags;
}

// The tags at the end of the file, after the head tags that end at start: the APE tag fills what
// the ID3v1 tag behind it would.
AudioTags ReadTailTags(QIODevice& file, qint64 start) {
    qint64 end = file.size();
    const qint64 tailStart = std::max(start, end - kId3v1Bytes - kApeFooterBytes);
    QByteArray tail = ReadAt(file, tailStart, end - tailStart);
    AudioTags id3v1;
    if (tail.size() >= kId3v1Bytes && tail.right(kId3v1Bytes).startsWith("TAG")) {
        id3v1 = ReadId3v1(tail.right(kId3v1Bytes));
        tail.chop(kId3v1Bytes);
        end -= kId3v1Bytes;
    }
    AudioTags tags;
    if (tail.size() >= kApeFooterBytes && tail.right(kApeFooterBytes).startsWith("APETAGEX")) {
        tags = ReadApe(file, start, end, tail.right(kApeFooterBytes));
    }
    tags.FillFrom(id3v1);
    return tags;
}

}  // namespace

AudioTags ReadId3v2Tags(const QByteArray& bytes) {
    Id3v2Values values;
    qsizetype at = 0;
    for (qint64 tag = Id3v2TagBytes(bytes.mid(at, kProbeBytes)); tag > 0 && at < bytes.size();
         tag = Id3v2TagBytes(bytes.mid(at, kProbeBytes))) {
        ReadId3v2(bytes.mid(at, tag), values);
        at += tag;
    }
    return values.Tags();
}

std::optional<AudioTags> ReadMp3Tags(QIODevice& file) {
    Id3v2Values head;
    qint64 offset = 0;
    QByteArray start = ReadAt(file, 0, kProbeBytes);
    // Tags in a row: FFmpeg reads each, earlier values winning.
    for (qint64 bytes = Id3v2TagBytes(start); bytes > 0; bytes = Id3v2TagBytes(start)) {
        ReadId3v2(ReadAt(file, offset, bytes), head);
        offset += bytes;
        start = ReadAt(file, offset, kProbeBytes);
    }
    if (IsOtherContainer(start) || (offset == 0 && !IsFrameSync(start))) {
        return std::nullopt;
    }
    AudioTags tags = head.Tags();
    tags.FillFrom(ReadTailTags(file, offset));
    return tags;
}

}  // namespace audio
