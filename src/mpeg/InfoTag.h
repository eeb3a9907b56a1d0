// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The LAME/Info tag of a stream whose frames came from several encoders: the first encoder's tag
// frame with the whole stream's counts, seek table, padding and checksums written in.
namespace mpeg {

// CRC-16 with polynomial 0x8005, bit-reversed, starting at 0: the one LAME uses for its tag.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0);

// The checksum of A followed by B, from the checksums of each and B's length in bytes.
std::uint16_t Crc16Combine(std::uint16_t crcA, std::uint16_t crcB, std::uint64_t bytesB);

// LAME's seek table bookkeeping: a running bitrate sum sampled at ever wider frame spacing, so
// a stream of the same frames gets the same 100 entries whichever encoders made them.
class SeekTable {
public:
    void Add(int kbps);
    void Write(std::uint8_t* toc) const;  // 100 entries
    std::uint32_t Frames() const { return frames; }

private:
    static constexpr int kSize = 400;
    std::vector<int> bag = std::vector<int>(kSize);
    std::uint32_t frames = 0;
    int sum = 0;
    int seen = 0;
    int want = 1;
    int pos = 0;
};

struct StreamTotals {
    const SeekTable* seek = nullptr;
    std::uint32_t bytes = 0;     // the whole stream, the tag frame included
    std::uint16_t musicCrc = 0;  // over every byte after the tag frame
    int padding = 0;
};

// What goes out in place of a tag frame until the stream is finished: its header and zeros, as
// LAME writes it. A player that never gets the finished tag decodes it as one frame of silence.
std::vector<std::uint8_t> TagPlaceholder(const std::vector<std::uint8_t>& tag);

// Writes the totals into tag, a LAME tag frame; false when it is no such frame.
bool PatchInfoTag(std::vector<std::uint8_t>& tag, const StreamTotals& totals);

// Writes the frame and byte counts and the seek table into tag, a tag frame with or without the LAME
// extension; false when it is no tag frame.
bool PatchCounts(std::vector<std::uint8_t>& tag, const StreamTotals& totals);

// A new tag frame to lead frames copied from MP3 files: of the kind that firstHeader (the first
// frame of music) gives, without checksum. For a constant bitrate, an "Info" frame at kbps when
// that bitrate holds the tag, else at the lowest bitrate that does; otherwise a "Xing" frame as a
// VBR encode of LAME makes it. encoderTail, the quality word and LAME extension of the first file's
// tag (40 bytes), or null: a frame without the extension. Its counts are still to be written; empty
// when no bitrate holds it.
std::vector<std::uint8_t> NewTagFrame(const std::uint8_t* firstHeader, int kbps, bool constant,
                                      const std::uint8_t* encoderTail);

// What a stream's encoder says of itself in its tag, for a tag frame another encoder made.
struct EncoderFields {
    int kbps = 0;
    int lowpass = 0;  // Hz
    int delay = 0;
};

// Writes the fields into tag, a frame from lame_get_lametag_frame; false when it is no such frame.
bool SetEncoderFields(std::vector<std::uint8_t>& tag, const EncoderFields& fields);

}  // namespace mpeg
