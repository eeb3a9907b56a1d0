// SPDX-License-Identifier: GPL-3.0-or-later
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
    Terminated,    // the user stopped the copy; the file is finished with what was copied, without the
                   // chunks after the data, which would describe what is not there
    CannotCreate,  // the output file could not be created; the job ends at once
    Failed,        // reading or writing failed; the message is shown and the join marked failed
};

struct WavTarget {
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    bool isFloat = false;  // IEEE float samples of 32 bits
};

// Both size fields of the canonical header are 32-bit. Data that would make the RIFF size exceed
// this is written as RF64, whose "ds64" chunk holds the 64-bit sizes.
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;

// The canonical header of 8- and 16-bit PCM.
constexpr int kWavHeaderSize = 44;
// The header of a file too large for the canonical one has a 36-byte chunk more between "WAVE" and
// "fmt ": either the ds64 chunk (no table) or a JUNK chunk holding its place.
constexpr int kRf64Room = 36;

// The size of the canonical header for target: 44 bytes for PCM of up to 16 bits; deeper PCM has the
// extensible format chunk (68 bytes), float the 18-byte one and a "fact" chunk (58 bytes).
int WavHeaderSize(const WavTarget& target);
// The copy loop's largest block, cut down to whole frames; also the unit of progress and event handling.
constexpr int kWavCopyBlock = 10240;

// The canonical header; sizes are the values of the RIFF and data size fields. A float header's
// "fact" chunk gets the frames of dataSize (0xFFFFFFFF when that is).
QByteArray WavHeader(const WavTarget& target, std::uint32_t riffSize, std::uint32_t dataSize);

// The header a WAV output written as the rows are joined starts with, both sizes 0: the canonical
// one, or with RF64's room (wide) where the data is expected past the size limit.
QByteArray StartingWavHeader(const WavTarget& target, bool wide);

enum class StraightWavEnd { Done, Terminated, Failed };

// Finishes a file written as StartingWavHeader(target, wide) and whole frames of data: trailingChunks
// behind the data and the header rewritten from the file's length, byte for byte the file
// WriteWavOutput makes of the same data. Where the data ended on the other side of maxRiffSize than
// wide expected, it is first moved by RF64's room, in paced chunks with host's progress and events.
StraightWavEnd FinishStraightWav(QFile& file, const WavTarget& target, bool wide,
                                 const QByteArray& trailingChunks, JoinHost& host,
                                 std::uint64_t maxRiffSize = kMaxRiffSize);

// Writes the joined PCM of tempPcmFile as a WAV file at outputPath: the header with both sizes 0,
// the whole frames of the data copied in blocks with progress and a terminate check after each,
// then trailingChunks (complete chunks, each padded to even) behind the data, and the sizes filled
// in from the file's real length. Data that fits the 32-bit sizes gets the canonical header; larger
// data the 80-byte one, which ends as RF64 unless a stop or a failed write left the file small.
// An output that cannot seek (a pipe, a device) gets its sizes at once: 0xFFFFFFFF in both, as
// streaming writers do, or the real ones where trailing chunks follow the data, or RF64. maxRiffSize
// is a seam for tests of the size rule.
WavOutputResult WriteWavOutput(const QString& tempPcmFile, const QString& outputPath, const WavTarget& target,
                               JoinHost& host, const QByteArray& trailingChunks = {},
                               std::uint64_t maxRiffSize = kMaxRiffSize);

}  // namespace join
