// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/WavTags.h"

#include "audio/Mp3Tags.h"
#include "audio/TagBytes.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace audio {
namespace {

constexpr qint64 kChunkHeaderBytes = 8;
// Enough for "RF64", its size, "WAVE" and a ds64 chunk up to the sample count.
constexpr qint64 kHeadBytes = 44;
// FFmpeg takes no RIFF header from a shorter file.
constexpr qint64 kMinFileBytes = 33;
constexpr qint64 kDs64MinBytes = 24;
// An INFO text is read no further: a real one is far shorter, and only the part before a NUL counts.
constexpr qint64 kMaxTextBytes = qint64(1) << 20;
// The largest ID3v2 tag its 28-bit size allows.
constexpr qint64 kMaxId3Bytes = qint64(1) << 28;
// The texts of a bext chunk and its time reference, then its fixed part.
constexpr qint64 kBextTextBytes = 338;
constexpr qint64 kBextFixedBytes = 602;

using tagbytes::LittleEndian;

QByteArray UpToNul(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

bool SameKey(const QByteArray& a, const QByteArray& b) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

using KeyMap = std::pair<const char*, const char*>;

// How FFmpeg renames bext keys, then INFO ids. Names no tag uses are kept too: a renamed key that is
// set again changes the order of the others.
// clang-format off
constexpr std::array<KeyMap, 4> kBextKeys = {{
    {"description", "comment"}, {"originator", "encoded_by"}, {"origination_date", "date"},
    {"origination_time", "creation_time"},
}};
constexpr std::array<KeyMap, 13> kInfoKeys = {{
    {"IART", "artist"}, {"ICMT", "comment"}, {"ICOP", "copyright"}, {"ICRD", "date"}, {"IGNR", "genre"},
    {"ILNG", "language"}, {"INAM", "title"}, {"IPRD", "album"}, {"IPRT", "track"}, {"ITRK", "track"},
    {"ISFT", "encoder"}, {"ISMP", "timecode"}, {"ITCH", "encoded_by"},
}};
// clang-format on

// An INFO text as UTF-8, which FFmpeg writes; a text that is no UTF-8 is taken as Latin-1, as older
// Windows programs wrote it, rather than losing its accented letters as FFmpeg does.
QString Decoded(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// FFmpeg's metadata dictionary, whose order decides which of two keys renamed alike wins: keys match
// without case, and setting a key again drops its entry, moves the last one into its place and
// appends the new value.
class Dictionary {
public:
    void Set(const QByteArray& key, const QByteArray& value) {
        const auto old = std::find_if(entries_.begin(), entries_.end(),
                                      [&](const auto& entry) { return SameKey(entry.first, key); });
        if (old != entries_.end()) {
            *old = entries_.back();
            entries_.pop_back();
        }
        entries_.emplace_back(key, value);
    }

    bool IsEmpty() const { return entries_.empty(); }

    template <std::size_t N>
    Dictionary Renamed(const std::array<KeyMap, N>& names) const {
        Dictionary renamed;
        for (const auto& entry : entries_) {
            const auto name = std::find_if(names.begin(), names.end(), [&](const KeyMap& map) {
                return SameKey(entry.first, map.first);
            });
            renamed.Set(name == names.end() ? entry.first : QByteArray(name->second), entry.second);
        }
        return renamed;
    }

    // The first of keys with a text that is not blank, as the tag reader asks FFmpeg for it.
    QString Text(std::initializer_list<const char*> keys) const {
        for (const char* key : keys) {
            for (const auto& [name, value] : entries_) {
                const QString text = SameKey(name, key) ? Decoded(value).trimmed() : QString();
                if (!text.isEmpty()) {
                    return text;
                }
            }
        }
        return {};
    }

private:
    std::vector<std::pair<QByteArray, QByteArray>> entries_;
};

class ChunkWalk {
public:
    explicit ChunkWalk(QIODevice& file) : file_(file), size_(file.size()) {}

    std::optional<AudioTags> Read();

private:
    QByteArray ReadAt(qint64 offset, qint64 bytes) const;
    bool ReadFormat(qint64 body, qint64 size);
    void ReadInfo(qint64 start, qint64 end);
    bool ReadBext(qint64 body, qint64 size);
    AudioTags Tags() const;

    QIODevice& file_;
    const qint64 size_;
    Dictionary metadata_;
    AudioTags id3_;
};

QByteArray ChunkWalk::ReadAt(qint64 offset, qint64 bytes) const {
    return tagbytes::ReadAt(file_, offset, bytes);
}

// FFmpeg refuses a format chunk too short to hold a sample rate, or one without a rate.
bool ChunkWalk::ReadFormat(qint64 body, qint64 size) {
    const QByteArray format = ReadAt(body, 8);
    return size >= 14 && format.size() == 8 && static_cast<qint32>(LittleEndian(format, 4, 4)) > 0;
}

// The texts of an INFO list from start up to end. A text said to run past the end may belong to a
// writer that left out the pad byte after an odd size, so its header is tried one byte earlier.
void ChunkWalk::ReadInfo(qint64 start, qint64 end) {
    for (qint64 at = start; at <= end - kChunkHeaderBytes;) {
        QByteArray header = ReadAt(at, kChunkHeaderBytes);
        qint64 body = at + kChunkHeaderBytes;
        if (header.size() < kChunkHeaderBytes) {
            return;
        }
        const auto tooBig = [&](qint64 bytes) {
            return bytes > end || end - bytes < at || bytes == 0xFFFFFFFF;
        };
        if (tooBig(static_cast<qint64>(LittleEndian(header, 4, 4)))) {
            header = ReadAt(at - 1, kChunkHeaderBytes);
            body = at - 1 + kChunkHeaderBytes;
            if (header.size() < kChunkHeaderBytes ||
                tooBig(static_cast<qint64>(LittleEndian(header, 4, 4)))) {
                return;
            }
        }
        qint64 bytes = static_cast<qint64>(LittleEndian(header, 4, 4));
        bytes += bytes & 1;
        at = body + bytes;
        if (LittleEndian(header, 0, 4) != 0) {
            // A text cut short by the end of the file counts with what there is of it.
            metadata_.Set(UpToNul(header.left(4)), UpToNul(ReadAt(body, std::min(bytes, kMaxTextBytes))));
        }
    }
}

// A bext chunk's texts, of which only the date is a tag here; FFmpeg refuses one cut short.
bool ChunkWalk::ReadBext(qint64 body, qint64 size) {
    const QByteArray bext = ReadAt(body, kBextTextBytes + 8);
    if (bext.size() < kBextTextBytes || (size > kBextFixedBytes && body + size > size_)) {
        return false;
    }
    qsizetype at = 0;
    for (const auto& [key, bytes] : {std::pair{"description", 256},
                                     {"originator", 32},
                                     {"originator_reference", 32},
                                     {"origination_date", 10},
                                     {"origination_time", 8}}) {
        const QByteArray text = UpToNul(bext.mid(at, bytes));
        if (!text.isEmpty()) {
            metadata_.Set(key, text);
        }
        at += bytes;
    }
    metadata_.Set("time_reference",
                  bext.size() >= kBextTextBytes + 8 ? QByteArray::number(LittleEndian(bext, at, 8)) : "0");
    if (size > kBextFixedBytes) {
        metadata_.Set("coding_history", {});
    }
    return true;
}

std::optional<AudioTags> ChunkWalk::Read() {
    const QByteArray head = ReadAt(0, kHeadBytes);
    const bool rf64 = head.startsWith("RF64") || head.startsWith("BW64");
    if (size_ < kMinFileBytes || head.mid(8, 4) != "WAVE" ||
        !(head.startsWith("RIFF") || (rf64 && head.mid(12, 4) == "ds64"))) {
        return std::nullopt;
    }
    qint64 at = 12;
    quint64 ds64DataBytes = 0;
    if (rf64) {
        const qint64 ds64Bytes = static_cast<qint64>(LittleEndian(head, 16, 4));
        ds64DataBytes = LittleEndian(head, 28, 8);
        const quint64 sampleCount = head.size() < kHeadBytes ? 0 : LittleEndian(head, 36, 8);
        if (ds64Bytes < kDs64MinBytes || head.size() < kHeadBytes ||
            ((ds64DataBytes | sampleCount) >> 63) != 0) {
            return AudioTags{};
        }
        at = 20 + ds64Bytes;
    }
    bool format = false;
    bool data = false;
    for (QByteArray header = ReadAt(at, kChunkHeaderBytes); header.size() == kChunkHeaderBytes;
         header = ReadAt(at, kChunkHeaderBytes)) {
        const QByteArray id = header.left(4);
        const auto size = static_cast<qint64>(LittleEndian(header, 4, 4));
        const qint64 body = at + kChunkHeaderBytes;
        qint64 next = body + size;
        if (id == "fmt ") {
            if (!format && !ReadFormat(body, size)) {
                return AudioTags{};
            }
            format = true;
        } else if (id == "XMA2" && !format) {
            return std::nullopt;
        } else if (id == "data") {
            data = true;
            if (rf64) {
                // The data size in the chunk itself is a placeholder.
                next = ds64DataBytes >= static_cast<quint64>(size_)
                           ? size_
                           : body + static_cast<qint64>(ds64DataBytes);
            } else if (size == 0 || size == 0xFFFFFFFF) {
                // A streamed file: its data runs to the end, and nothing after it is known.
                break;
            }
        } else if (id == "LIST" || id == "list") {
            if (size < 4) {
                return AudioTags{};
            }
            if (ReadAt(body, 4) == "INFO") {
                ReadInfo(body + 4, body + size);
            }
        } else if (id == "bext") {
            if (!ReadBext(body, size)) {
                return AudioTags{};
            }
        } else if (id == "id3 " || id == "ID3 ") {
            id3_.FillFrom(ReadId3v2Tags(ReadAt(body, std::min(size, kMaxId3Bytes))));
        }
        if (next >= size_) {
            break;
        }
        at = next + (next & 1);
    }
    if (!format || !data) {
        return AudioTags{};
    }
    return Tags();
}

// The INFO and bext texts renamed as FFmpeg renames them; only without any of them do the ID3v2 texts
// count. An ID3v2 cover counts in any case.
AudioTags ChunkWalk::Tags() const {
    AudioTags tags;
    if (metadata_.IsEmpty()) {
        tags = id3_;
    } else {
        const Dictionary renamed = metadata_.Renamed(kBextKeys).Renamed(kInfoKeys);
        tags.title = renamed.Text({"title"});
        tags.artist = renamed.Text({"artist", "author"});
        tags.album = renamed.Text({"album"});
        tags.albumArtist = renamed.Text({"album_artist"});
        tags.year = renamed.Text({"date", "year"});
        tags.genre = renamed.Text({"genre"});
        tags.track = renamed.Text({"track"});
    }
    tags.cover = id3_.cover;
    tags.coverMime = id3_.coverMime;
    tags.coverDescription = id3_.coverDescription;
    return tags;
}

}  // namespace

std::optional<AudioTags> ReadWavTags(QIODevice& file) {
    return ChunkWalk(file).Read();
}

}  // namespace audio
