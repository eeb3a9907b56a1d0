// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// The decoding layer: MP3, WMA and other media files opened as streams and decoded to interleaved
// PCM (MP3 through libmpg123, the others through FFmpeg): signed 16-bit, a lossless media file at its
// own depth. Streams are named by handles; 0 is never a valid handle and is what every opening operation
// returns on failure. More than two channels are mixed down to stereo. Byte counts and positions are
// 64-bit and count decoded PCM bytes.
namespace audio {

using StreamHandle = std::uint32_t;

// A stream that is only decoded, its samples pulled with ReadStreamData. Without this flag the
// stream is an ordinary one, which needs InitOutputDevice to have succeeded.
constexpr std::uint32_t STREAM_DECODE = 0x200000;

// Sample-format flags of StreamInfoRecord::flags.
constexpr std::uint32_t SAMPLE_8BITS = 1;
constexpr std::uint32_t SAMPLE_FLOAT = 0x100;       // 32-bit IEEE float
constexpr std::uint32_t SAMPLE_24BITS = 0x1000000;  // packed 24-bit integers
constexpr std::uint32_t SAMPLE_32BITS = 0x2000000;

// Mode of GetStreamLength and GetStreamPosition: bytes of decoded data.
constexpr std::uint32_t POS_BYTE = 0;

// Eight 32-bit words; callers read the first three. This layer never reports SAMPLE_8BITS.
struct StreamInfoRecord {
    std::uint32_t freq = 0;      // sample rate in Hz
    std::uint32_t chans = 0;     // channel count (1 or 2)
    std::uint32_t flags = 0;     // sample format: one of the SAMPLE_ flags, none for 16-bit
    std::uint32_t ctype = 0;     // stream type: one of the CTYPE_ values
    std::uint32_t origres = 0;   // original resolution in bits, 0 when not known
    std::uint32_t plugin = 0;    // unused
    std::uint32_t sample = 0;    // unused
    std::uint32_t filename = 0;  // unused
};
static_assert(sizeof(StreamInfoRecord) == 32);

constexpr std::uint32_t CTYPE_MP3 = 0x10005;
constexpr std::uint32_t CTYPE_WMA = 0x10300;
constexpr std::uint32_t CTYPE_OGG = 0x10002;  // Ogg Vorbis, or FLAC in Ogg
constexpr std::uint32_t CTYPE_AIFF = 0x10006;
constexpr std::uint32_t CTYPE_FLAC = 0x10900;
constexpr std::uint32_t CTYPE_MP4 = 0x10b01;  // AAC or ALAC in MP4
constexpr std::uint32_t CTYPE_OPUS = 0x11200;

// Prepares the decoding libraries. The program never plays sound, so this only fails when the
// libraries cannot be used. device -1 is the default device; window and clsid are unused.
// Returns nonzero when ready.
int InitOutputDevice(int device, std::uint32_t freq, std::uint32_t flags, void* window, const void* clsid);
// Also frees the ordinary streams, which belong to the device; decode-only streams stay open.
void FreeOutputDevice();

// Opens path (the whole file: offset and length 0) as an MP3 stream or a WMA stream. mem must be
// false. Returns 0 when the file cannot be opened or decoded, when its sample rate is 0 or above
// 768000 Hz or it has no channels, or when flags lack STREAM_DECODE and no output device is
// initialised. An MP3 stream must begin with a run of frames of one kind (or an Info frame): other
// files named .mp3 hold bytes that pass for a frame now and then.
StreamHandle OpenFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                            std::uint32_t flags);
StreamHandle OpenWmaFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                               std::uint32_t flags);

// Opens path as the media file its extension claims (FLAC, Ogg Vorbis, Opus, M4A, AIFF: see
// MediaFormatName), told by its content. The length is exact where the container states it (FLAC's
// total samples, the last Ogg granule less Opus's pre-skip, the MP4 edit list, AIFF's frame count).
// A lossless source (FLAC, ALAC, AIFF's PCM) is handed out at its own depth: packed 24-bit for up to
// 24 bits, 32-bit, or 32-bit float. A lossy one (Vorbis, Opus, AAC) has no depth of its own: its
// decoder's floating point is dithered to 16 bits, so an Opus file joins as the MP3 beside it would.
StreamHandle OpenMediaFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                                 std::uint32_t flags);

using OpenFunction = StreamHandle (*)(bool mem, const QString& path, std::uint64_t offset,
                                      std::uint64_t length, std::uint32_t flags);
// The opening for a file that is decoded, told by its extension; nullptr for a WAV or an unknown file.
OpenFunction DecodedOpening(const QString& path);

// Fills info (origres: the source's own bits, where known); false for an unknown handle.
bool GetStreamInfo(StreamHandle handle, StreamInfoRecord* info);
// The bits of one sample that info's flags tell: 8, 16, 24 or 32 (float too).
std::uint32_t SampleBits(const StreamInfoRecord& info);

// Length of the decoded data in bytes (mode POS_BYTE). For MP3 it is exact: it equals the bytes
// that reading the stream yields (a file whose sample rate changes midway may yield less); so it is for
// a media file whose container states its length (a damaged one may yield less). For WMA, and media
// files that state none, it comes from the container and is never below the bytes read so far. Once
// the stream has ended it is the bytes read. 0 for an unknown handle.
std::uint64_t GetStreamLength(StreamHandle handle, std::uint32_t mode);

// Seconds that bytes of this stream's decoded data last; 0 for an unknown handle.
double BytesToSeconds(StreamHandle handle, std::uint64_t bytes);

// Nonzero while data remains to be read.
std::uint32_t IsStreamActive(StreamHandle handle);

// Decodes up to length bytes into buffer and returns how many were placed there (whole sample
// frames). A failed read yields 0 and ends the stream.
std::uint32_t ReadStreamData(StreamHandle handle, void* buffer, std::uint32_t length);

// Bytes decoded so far (mode POS_BYTE).
std::uint64_t GetStreamPosition(StreamHandle handle, std::uint32_t mode);

// Frees a stream. Freeing 0 or an unknown handle does nothing and returns false.
// Any thread may call these operations; each stream is used by one thread at a time.
bool FreeStream(StreamHandle handle);

// Test seam: when set, InitOutputDevice asks this function instead of checking the libraries.
using OutputDeviceCheck = std::function<bool()>;
OutputDeviceCheck SetOutputDeviceCheck(OutputDeviceCheck check);

}  // namespace audio
