// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <istream>

// The format of a WAV file as its header states it.
struct WaveHeaderInfo {
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    std::int32_t bitsPerSample = 0;
    std::uint32_t dataSize = 0;  // size of the "data" chunk, at most what the file holds after its header
    std::uint64_t fileSize = 0;  // data length + 44: the size of the same data behind a canonical header
    std::uint32_t seconds = 0;   // playing time in whole seconds
    bool isFloat = false;        // IEEE float samples (of 32 or 64 bits)
};

// Which sample formats a reader of WAV headers accepts: the window takes 8- and 16-bit PCM, the
// command-line joiner also 24- and 32-bit PCM and 32- and 64-bit float.
enum class WavSamples { Pcm8Or16, AnyPcmOrFloat };

// Reads the header of a PCM WAV file sequentially (it never seeks) and fills info. Returns true for
// an accepted file, 8- or 16-bit PCM unless samples says more; otherwise shows its own message and
// returns false.
bool ReadWaveHeader(const QString& fileName, WaveHeaderInfo& info, WavSamples samples = WavSamples::Pcm8Or16);

// The same on a stream of streamSize bytes in all, read from its start.
bool ReadWaveHeader(std::istream& in, std::uint64_t streamSize, WaveHeaderInfo& info,
                    WavSamples samples = WavSamples::Pcm8Or16);

// The 64-bit data size of an RF64 file, from its "ds64" chunk.
struct Ds64Sizes {
    bool present = false;
    std::uint64_t dataSize = 0;
};

// Reads the RIFF header and the first 24 bytes of the format chunk into head, where a canonical
// header has them (the chunk id at 12). Before the format chunk may come one "ds64" chunk, whose
// sizes go to ds64, or a "JUNK" chunk keeping its place; any other chunk there stays at 12, unless
// skipChunks: then any chunks before the format chunk are passed over (a recorder's "bext" or "iXML").
// False when the stream ends first or a ds64 chunk is too short for its sizes.
bool ReadWaveHead(std::istream& in, std::array<char, 36>& head, Ds64Sizes& ds64, bool skipChunks = false);

// The length of a data chunk whose header states statedSize: 0xFFFFFFFF in an RF64 file stands for
// the ds64 chunk's data size.
std::uint64_t DataChunkLength(std::uint32_t statedSize, const Ds64Sizes& ds64);

// Reads chunk headers from the stream's position until the "data" chunk and stores its size.
// Other chunks are skipped together with the pad byte RIFF puts after an odd-sized chunk, when
// the writer put one there. Returns false when the stream ends first.
bool SkipToDataChunk(std::istream& in, std::uint32_t& dataSize);

// Skips the pad byte after a chunk of chunkSize bytes, when there is one.
void SkipPad(std::istream& in, std::uint32_t chunkSize);

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// Reads the rest of a format chunk of formatSize bytes whose first 16 have been read, and its pad
// byte. An extensible header whose sub-format is PCM or IEEE float turns tag into that plain tag:
// sox and ffmpeg write such headers for ordinary 16-bit files above 48 kHz or with more than two
// channels, and for every file deeper than 16 bits. False when the stream ends first.
bool ReadFormatRest(std::istream& in, std::uint32_t formatSize, std::uint16_t& tag);

// The sample rates and channel counts a header may state and still be audio we can join.
bool PlausibleWaveFormat(std::uint32_t sampleRate, std::uint32_t channels);

// Whole seconds that dataSize bytes last; 0 when rate x channels x bits is below 8 (no bytes per second).
std::uint32_t WaveSeconds(std::uint64_t dataSize, std::int32_t sampleRate, std::int32_t channels,
                          std::int32_t bitsPerSample);
