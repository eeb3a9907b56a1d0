// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Id3v2Tag.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

namespace join {
namespace {

constexpr char kUtf8 = 3;
// A CTOC counts its entries in one byte.
constexpr std::size_t kMaxTocEntries = 255;

void AppendBigEndian32(QByteArray& out, std::uint32_t value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

// ID3v2.4 sizes keep the top bit of every byte clear.
void AppendSyncsafe(QByteArray& out, std::uint32_t value) {
    out.append(static_cast<char>((value >> 21) & 0x7F));
    out.append(static_cast<char>((value >> 14) & 0x7F));
    out.append(static_cast<char>((value >> 7) & 0x7F));
    out.append(static_cast<char>(value & 0x7F));
}

QByteArray Frame(const char* id, const QByteArray& body) {
    QByteArray frame(id, 4);
    AppendSyncsafe(frame, static_cast<std::uint32_t>(body.size()));
    frame.append(2, '\0');
    return frame + body;
}

QByteArray TextFrame(const char* id, const QString& text) {
    return text.isEmpty() ? QByteArray() : Frame(id, kUtf8 + text.toUtf8());
}

QByteArray CoverFrame(const AudioTags& tags) {
    if (tags.cover.isEmpty()) {
        return {};
    }
    QByteArray body(1, kUtf8);
    body += tags.coverMime.toLatin1() + '\0';
    body += '\x03';  // the front cover
    body += tags.coverDescription.toUtf8() + '\0';
    return Frame("APIC", body + tags.cover);
}

QByteArray ChapterId(std::size_t index) {
    return "ch" + QByteArray::number(static_cast<qulonglong>(index));
}

QByteArray ChapterFrame(const JoinChapter& chapter, std::size_t index, int sampleRate) {
    QByteArray body = ChapterId(index) + '\0';
    AppendBigEndian32(body, static_cast<std::uint32_t>(Milliseconds(chapter.startFrame, sampleRate)));
    AppendBigEndian32(body, static_cast<std::uint32_t>(Milliseconds(chapter.endFrame, sampleRate)));
    // No byte offsets: players go by the times.
    AppendBigEndian32(body, 0xFFFFFFFFu);
    AppendBigEndian32(body, 0xFFFFFFFFu);
    return Frame("CHAP", body + TextFrame("TIT2", chapter.title));
}

QByteArray TocFrame(const QByteArray& id, bool topLevel, const std::vector<QByteArray>& children) {
    QByteArray body = id + '\0';
    body += topLevel ? '\x03' : '\x01';  // ordered, and top level or not
    body += static_cast<char>(children.size());
    for (const QByteArray& child : children) {
        body += child + '\0';
    }
    return Frame("CTOC", body);
}

// A table of contents counts its entries in one byte: longer lists are split into tables of
// their own under the top-level one.
QByteArray TocFrames(std::size_t chapterCount) {
    std::vector<QByteArray> chapterIds;
    for (std::size_t i = 0; i < chapterCount; ++i) {
        chapterIds.push_back(ChapterId(i));
    }
    if (chapterCount <= kMaxTocEntries) {
        return TocFrame("toc", true, chapterIds);
    }
    QByteArray parts;
    std::vector<QByteArray> partIds;
    for (std::size_t first = 0; first < chapterCount; first += kMaxTocEntries) {
        partIds.push_back("toc" + QByteArray::number(static_cast<qulonglong>(partIds.size() + 1)));
        const auto end =
            chapterIds.begin() + static_cast<std::ptrdiff_t>(std::min(first + kMaxTocEntries, chapterCount));
        parts +=
            TocFrame(partIds.back(), false, {chapterIds.begin() + static_cast<std::ptrdiff_t>(first), end});
    }
    return TocFrame("toc", true, partIds) + parts;
}

}  // namespace

QByteArray Id3v2Tag(const AudioTags& tags, const std::vector<JoinChapter>& chapters, int sampleRate) {
    QByteArray frames = TextFrame("TIT2", tags.title) + TextFrame("TPE1", tags.artist) +
                        TextFrame("TALB", tags.album) + TextFrame("TPE2", tags.albumArtist) +
                        TextFrame("TDRC", tags.year) + TextFrame("TCON", tags.genre) +
                        TextFrame("TRCK", tags.track) + CoverFrame(tags);
    if (!chapters.empty()) {
        frames += TocFrames(chapters.size());
        for (std::size_t i = 0; i < chapters.size(); ++i) {
            frames += ChapterFrame(chapters[i], i, sampleRate);
        }
    }
    if (frames.isEmpty()) {
        return {};
    }
    QByteArray tag("ID3\x04\x00\x00", 6);
    AppendSyncsafe(tag, static_cast<std::uint32_t>(frames.size()));
    return tag + frames;
}

}  // namespace join
