// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/RiffMetadata.h"

#include <QtEndian>

#include <limits>

namespace join {
namespace {

void AppendLe32(QByteArray& out, std::uint32_t value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

QByteArray Chunk(const char* id, const QByteArray& body) {
    QByteArray chunk(id, 4);
    AppendLe32(chunk, static_cast<std::uint32_t>(body.size()));
    chunk += body;
    if (body.size() % 2 != 0) {
        chunk += '\0';
    }
    return chunk;
}

// A zero-terminated text in a chunk of its own; nothing for an empty text.
QByteArray TextChunk(const char* id, const QString& text) {
    return text.isEmpty() ? QByteArray() : Chunk(id, text.toUtf8() + '\0');
}

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

QByteArray RiffInfoChunk(const AudioTags& tags) {
    const QByteArray items = TextChunk("INAM", tags.title) + TextChunk("IART", tags.artist) +
                             TextChunk("IPRD", tags.album) + TextChunk("ICRD", tags.year) +
                             TextChunk("IGNR", tags.genre) + TextChunk("ITRK", tags.track);
    return items.isEmpty() ? QByteArray() : Chunk("LIST", "INFO" + items);
}

QByteArray RiffCueChunks(const std::vector<JoinChapter>& chapters) {
    if (chapters.empty()) {
        return {};
    }
    QByteArray points;
    AppendLe32(points, static_cast<std::uint32_t>(chapters.size()));
    QByteArray labels("adtl");
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const auto id = static_cast<std::uint32_t>(i + 1);
        const std::uint32_t frame = Clamp32(chapters[i].startFrame);
        AppendLe32(points, id);
        AppendLe32(points, frame);  // the position in play order, which is the sample position here
        points += "data";
        AppendLe32(points, 0);  // chunk start and block start: uncompressed data
        AppendLe32(points, 0);
        AppendLe32(points, frame);
        QByteArray label;
        AppendLe32(label, id);
        labels += Chunk("labl", label + chapters[i].title.toUtf8() + '\0');
    }
    return Chunk("cue ", points) + Chunk("LIST", labels);
}

}  // namespace join
