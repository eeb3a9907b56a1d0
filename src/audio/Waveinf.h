#pragma once

#include <QString>

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
};

// Reads the header of a PCM WAV file sequentially (it never seeks) and fills info. Returns true for
// an accepted 8- or 16-bit PCM file; otherwise shows its own message and returns false.
bool ReadWaveHeader(const QString& fileName, WaveHeaderInfo& info);

// The same on a stream of streamSize bytes in all, read from its start.
bool ReadWaveHeader(std::istream& in, std::uint64_t streamSize, WaveHeaderInfo& info);

// Reads chunk headers from the stream's position until the "data" chunk and stores its size.
// Other chunks are skipped together with the pad byte RIFF puts after an odd-sized chunk, when
// the writer put one there. Returns false when the stream ends first.
bool SkipToDataChunk(std::istream& in, std::uint32_t& dataSize);

// Skips the pad byte after a chunk of chunkSize bytes, when there is one.
void SkipPad(std::istream& in, std::uint32_t chunkSize);

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// Reads the rest of a format chunk of formatSize bytes whose first 16 have been read, and its pad
// byte. An extensible header whose sub-format is PCM turns tag into plain PCM: sox and ffmpeg write
// such headers for ordinary 16-bit files above 48 kHz or with more than two channels. False when
// the stream ends first.
bool ReadFormatRest(std::istream& in, std::uint32_t formatSize, std::uint16_t& tag);

// The sample rates and channel counts a header may state and still be audio we can join.
bool PlausibleWaveFormat(std::uint32_t sampleRate, std::uint32_t channels);

// Whole seconds that dataSize bytes last; 0 when rate x channels x bits is below 8 (no bytes per second).
std::uint32_t WaveSeconds(std::uint64_t dataSize, std::int32_t sampleRate, std::int32_t channels,
                          std::int32_t bitsPerSample);
