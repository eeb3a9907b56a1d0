// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QIODevice;

// FLAC output. FLAC frames are independent of each other, so the PCM is cut into segments of whole
// blocks that libFLAC encodes on every core at once; the frames are then numbered for their place in
// the whole stream and written in order, the same frames one encoder would have made.
namespace flac {

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    // 8 (unsigned, as WAV keeps it), 16, 24 (three bytes) or 32; little-endian, interleaved.
    int bits = 0;
};

struct Picture {
    QByteArray data;
    QString mimeType;
    QString description;
    int type = 3;  // front cover
};

struct Metadata {
    QStringList comments;  // "FIELD=value", in order
    QList<Picture> pictures;
};

struct EncodeOptions {
    int level = 5;            // libFLAC's compression level, 0 to 8
    int threads = 0;          // 0: one per core
    int segmentBlocks = 256;  // blocks per segment an encoder takes at a time
};

// Reads up to size bytes of PCM into data; returns the bytes read, 0 at the end, -1 on failure.
using PcmRead = std::function<std::int64_t(char* data, std::int64_t size)>;
// Told the frames encoded so far; false cancels.
using Progress = std::function<bool(std::uint64_t frames)>;

struct EncodeResult {
    bool ok = false;
    bool cancelled = false;
    QString error;
};

// The same stream pushed as the PCM comes, its length known only at its end. The head is written at
// once, with a seek table for the frames expected and the metadata as it stands then; Finish completes
// it for the frames pushed and the metadata as it stands at the end. The padding takes up any change in
// size, so the audio stays where it is; only a head that outgrows the padding moves the audio. Where
// the expected frames and the metadata's size were right, the file is the one EncodeFlac makes.
class StreamEncoder {
public:
    StreamEncoder(const PcmFormat& format, QIODevice& out, const EncodeOptions& options = {},
                  Progress progress = {});
    // Waits for the segments still being encoded.
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // Writes the head; false when that failed (State() tells why).
    bool Begin(std::uint64_t expectedFrames, const Metadata& metadata);
    // Appends PCM, whole frames or not; false once the stream has failed or been cancelled.
    bool Push(const char* data, std::size_t size);
    // Encodes what remains and completes the head.
    EncodeResult Finish(const Metadata& metadata);
    const EncodeResult& State() const;
    // The frames pushed so far.
    std::uint64_t Frames() const;

private:
    friend EncodeResult EncodeFlac(const PcmFormat& format, std::uint64_t totalFrames, const PcmRead& read,
                                   QIODevice& out, const Metadata& metadata, const EncodeOptions& options,
                                   const Progress& progress);
    struct Work;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Encodes totalFrames frames of PCM from read into out. On a device that can seek, the stream
// information is completed at the end (MD5, frame sizes) and a seek table with a point every ten
// seconds is filled in; a pipe gets neither, as FLAC allows.
EncodeResult EncodeFlac(const PcmFormat& format, std::uint64_t totalFrames, const PcmRead& read,
                        QIODevice& out, const Metadata& metadata, const EncodeOptions& options = {},
                        const Progress& progress = {});

// The bodies of the VORBIS_COMMENT and PICTURE metadata blocks, which Ogg streams carry too: the
// comments after this program's vendor string, and the picture with its size left 0 (unknown), as
// readers take it from the picture itself.
QByteArray VorbisCommentBody(const QStringList& comments);
QByteArray PictureBody(const Picture& picture);

// FLAC's frame checksums (CRC-8 of the header, CRC-16 of the whole frame).
std::uint8_t Crc8(const std::uint8_t* data, std::size_t size);
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size);

}  // namespace flac
