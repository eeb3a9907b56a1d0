// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/WmaMetadata.h"

#include "audio/FfmpegOwners.h"
#include "join/MuxerMetadata.h"
#include "platform/FilePath.h"

#include <QFile>
#include <QtEndian>

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>

namespace join {
namespace {

QString Remux(const QString& path, const QString& scratchPath, const AudioTags& tags,
              const std::vector<JoinChapter>& chapters, int sampleRate) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, platform::EncodeName(path).constData(), nullptr, nullptr) < 0) {
        return QStringLiteral("cannot read it back");
    }
    const ffmpeg::InputPtr in(opened);
    AVFormatContext* created = nullptr;
    if (avformat_find_stream_info(in.get(), nullptr) < 0 ||
        avformat_alloc_output_context2(&created, nullptr, "asf", nullptr) < 0) {
        return QStringLiteral("cannot read it back");
    }
    const ffmpeg::OutputPtr out(created);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out.get(), nullptr);
        if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) < 0) {
            return QStringLiteral("out of memory");
        }
        stream->time_base = in->streams[i]->time_base;
    }
    SetMuxerTags(&out->metadata, tags, "WM/Year");
    if (!AddMuxerChapters(*out, chapters, sampleRate)) {
        return QStringLiteral("out of memory");
    }
    if (avio_open(&out->pb, QFile::encodeName(scratchPath).constData(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(out.get(), nullptr) < 0) {
        return QStringLiteral("cannot write ") + scratchPath;
    }
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    int read = 0;
    while (packet && (read = av_read_frame(in.get(), packet.get())) >= 0) {
        const AVStream* from = in->streams[packet->stream_index];
        av_packet_rescale_ts(packet.get(), from->time_base, out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        if (av_interleaved_write_frame(out.get(), packet.get()) < 0) {
            return QStringLiteral("cannot write ") + scratchPath;
        }
    }
    if (!packet || read != AVERROR_EOF) {
        return QStringLiteral("cannot read it back");
    }
    if (av_write_trailer(out.get()) < 0 || avio_closep(&out->pb) < 0) {
        return QStringLiteral("cannot write ") + scratchPath;
    }
    return {};
}

// FFmpeg's muxer leaves the marker object of the chapters out of the header's count of objects,
// which strict readers refuse; the count is written again from the objects the header holds.
bool CountHeaderObjects(const QString& path) {
    constexpr qint64 kStart = 30;  // GUID, size, count and two reserved bytes
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    const QByteArray start = file.read(kStart);
    if (start.size() != kStart) {
        return false;
    }
    const auto size = qFromLittleEndian<quint64>(start.constData() + 16);
    if (size < kStart || size > static_cast<quint64>(file.size())) {
        return false;
    }
    const QByteArray objects = file.read(static_cast<qint64>(size) - kStart);
    quint32 count = 0;
    qsizetype at = 0;
    for (; objects.size() - at >= 24; ++count) {
        const auto bytes = qFromLittleEndian<quint64>(objects.constData() + at + 16);
        if (bytes < 24 || bytes > static_cast<quint64>(objects.size() - at)) {
            return false;
        }
        at += static_cast<qsizetype>(bytes);
    }
    const quint32 le = qToLittleEndian(count);
    return at == objects.size() && file.seek(24) &&
           file.write(reinterpret_cast<const char*>(&le), sizeof le) == sizeof le;
}

// Rewrites target in place with the bytes of source.
bool CopyBack(const QString& source, const QString& target) {
    QFile from(source);
    QFile to;
    if (!from.open(QIODevice::ReadOnly) ||
        !platform::OpenFile(to, target, QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    constexpr qint64 kBlock = 1 << 20;
    while (!from.atEnd()) {
        const QByteArray block = from.read(kBlock);
        if (block.isEmpty() || to.write(block) != block.size()) {
            return false;
        }
    }
    return to.flush();
}

}  // namespace

QString AddWmaMetadata(const QString& path, const QString& scratchPath, const AudioTags& tags,
                       const std::vector<JoinChapter>& chapters, int sampleRate) {
    QString error = Remux(path, scratchPath, tags, chapters, sampleRate);
    if (error.isEmpty() && !CountHeaderObjects(scratchPath)) {
        error = QStringLiteral("cannot write ") + scratchPath;
    }
    if (error.isEmpty() && !CopyBack(scratchPath, path)) {
        error = QStringLiteral("cannot write it");
    }
    QFile::remove(scratchPath);
    return error;
}

}  // namespace join
