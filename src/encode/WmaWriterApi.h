// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// The binary interface between WavToWma and the WMA writer module wmaudsdk.so. The writer is a
// reference-counted object reached through its table of virtual functions, so the order of the
// functions below is the contract: never insert, remove or reorder one (not even a destructor).

#if defined(__GNUC__)
#define WMA_WRITER_EXPORT __attribute__((visibility("default")))
#else
#define WMA_WRITER_EXPORT
#endif

// Negative: failure; zero or positive: success.
using WmaStatus = std::int32_t;

constexpr WmaStatus WMA_OK = 0;
constexpr WmaStatus WMA_E_NOTIMPL = static_cast<WmaStatus>(0x80004001u);
constexpr WmaStatus WMA_E_FAIL = static_cast<WmaStatus>(0x80004005u);
constexpr WmaStatus WMA_E_UNEXPECTED = static_cast<WmaStatus>(0x8000FFFFu);
constexpr WmaStatus WMA_E_OUTOFMEMORY = static_cast<WmaStatus>(0x8007000Eu);
constexpr WmaStatus WMA_E_INVALIDARG = static_cast<WmaStatus>(0x80070057u);
constexpr WmaStatus WMA_E_CANNOT_CREATE = static_cast<WmaStatus>(0x80070052u);
constexpr WmaStatus WMA_E_WRITE_FAULT = static_cast<WmaStatus>(0x8007001Du);

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    std::uint16_t formatTag;
    std::uint16_t channels;
    std::uint32_t samplesPerSec;
    std::uint32_t avgBytesPerSec;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;
    std::uint16_t extraSize;
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, samplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, blockAlign) == 12);

class WmaAudioWriter {
public:
    // 0 and 1: kept for the table's layout; the program never asks for other interfaces.
    virtual WmaStatus QueryInterface(const void* interfaceId, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    // 2: drops a reference; the last one frees the writer (finishing a file that was never flushed).
    virtual std::uint32_t Release() = 0;
    virtual WmaStatus Unused3() = 0;
    // 4: the PCM that WriteSamples will receive.
    virtual WmaStatus SetInputFormat(const WAVEFORMATEX* format) = 0;
    // 5: the encoded format; the last argument is reserved and 0.
    virtual WmaStatus SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate, std::uint32_t channels,
                                      std::uint32_t reserved) = 0;
    virtual WmaStatus Unused6() = 0;
    // 7: bytes of PCM in the input format.
    virtual WmaStatus WriteSamples(const void* buffer, std::uint32_t bytes) = 0;
    // 8: encodes what is left and finishes the file.
    virtual WmaStatus Flush() = 0;

protected:
    ~WmaAudioWriter() = default;
};

extern "C" {

// Creates a writer for the file at path (UTF-16, zero-terminated); *writer holds one reference.
WMA_WRITER_EXPORT WmaStatus WMAudioCreateWriter(const char16_t* path, WmaAudioWriter** writer);
}

using WMAudioCreateWriterFunction = decltype(&WMAudioCreateWriter);
