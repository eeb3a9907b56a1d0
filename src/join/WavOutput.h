#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

class QFile;

namespace join {

class JoinHost;

// How the WAV output stage ended, so the join job knows whether to go on with its clean-up.
enum class WavOutputResult {
    Done,          // all data copied; the file is finished and closed
    Terminated,    // the user stopped the copy; the file is finished with what was copied
    CannotCreate,  // the output file could not be created; the job ends at once
    Failed,        // reading or writing failed; the message is shown and the join marked failed
};

struct WavTarget {
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
};

// Both size fields of the header are 32-bit. A file whose RIFF size would exceed this gets
// 0xFFFFFFFF in both, the usual mark for "read to the end of the file".
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;

constexpr int kWavHeaderSize = 44;
// The copy loop's largest block, cut down to whole frames; also the unit of progress and event handling.
constexpr int kWavCopyBlock = 10240;

// The canonical 44-byte header; sizes are the values of the RIFF and data size fields.
QByteArray WavHeader(const WavTarget& target, std::uint32_t riffSize, std::uint32_t dataSize);

// Fills in the two size fields of a file that starts with the canonical header from the file's
// current length, so the header describes what is really in it, even after a stop or a failed
// write. Both are 0xFFFFFFFF when the RIFF size would exceed maxRiffSize. False when it cannot.
// trailing: the bytes after the data chunk, which count in the RIFF size only.
bool FinishWavSizes(QFile& file, std::uint64_t maxRiffSize = kMaxRiffSize, qint64 trailing = 0);

// Writes chunks (complete, each of even size) after dataSize bytes of data, with a pad byte first
// when the data is odd, and gives their size with it, or 0 when there are none or the RIFF size
// would not hold them (a file read "to the end" would take them for audio). A failed write cuts
// the file back to its data and sets writeFailed.
qint64 AppendWavChunks(QFile& file, qint64 dataSize, const QByteArray& chunks, std::uint64_t maxRiffSize,
                       bool& writeFailed);

// Writes the joined PCM of tempPcmFile as a WAV file at outputPath: the header with both sizes 0,
// the whole frames of the data copied in blocks with progress and a terminate check after each,
// then the sizes filled in from the file's real length. An output that cannot seek (a pipe, a
// device) gets 0xFFFFFFFF in both sizes at once, as streaming writers do. maxRiffSize is a seam for
// tests of the oversize rule. trailingChunks (complete chunks, each of even size) follow the data
// chunk and count in the RIFF size; a file read "to the end" would take them for audio, so the
// streaming and oversize cases go without them.
WavOutputResult WriteWavOutput(const QString& tempPcmFile, const QString& outputPath, const WavTarget& target,
                               JoinHost& host, std::uint64_t maxRiffSize = kMaxRiffSize,
                               const QByteArray& trailingChunks = {});

}  // namespace join
