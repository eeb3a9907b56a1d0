// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Waveinf.h"

#include "platform/FilePath.h"
#include "platform/MessageBox.h"

#include <array>
#include <cstring>
#include <fstream>

namespace {

std::uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint16_t Le16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

void NotValid() {
    platform::MessageBox(QStringLiteral("This is not a valid Wave file"), QStringLiteral("ERROR"),
                         platform::MB_OK);
}

// Skips count bytes of a sequential stream; false when it ends first.
bool Skip(std::istream& in, std::uint64_t count) {
    std::array<char, 4096> scrap{};
    while (count > 0) {
        const auto step = static_cast<std::streamsize>(std::min<std::uint64_t>(count, scrap.size()));
        in.read(scrap.data(), step);
        if (in.gcount() != step) {
            return false;
        }
        count -= static_cast<std::uint64_t>(step);
    }
    return true;
}

std::uint64_t Le64(const char* p) {
    return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

}  // namespace

bool ReadWaveHead(std::istream& in, std::array<char, 36>& head, Ds64Sizes& ds64, bool skipChunks) {
    constexpr std::streamsize kRiffAndChunk = 20;
    constexpr std::uint32_t kDs64Sizes = 28;  // RIFF size, data size, frame count, table length
    in.read(head.data(), kRiffAndChunk);
    if (in.gcount() != kRiffAndChunk) {
        return false;
    }
    const char* lead = head.data() + 12;
    const std::uint32_t leadSize = Le32(lead + 4);
    const bool isDs64 = std::memcmp(lead, "ds64", 4) == 0;
    if (isDs64 || std::memcmp(lead, "JUNK", 4) == 0) {
        if (isDs64) {
            std::array<char, kDs64Sizes> sizes{};
            in.read(sizes.data(), sizes.size());
            if (leadSize < kDs64Sizes || in.gcount() != static_cast<std::streamsize>(sizes.size())) {
                return false;
            }
            ds64.present = true;
            ds64.dataSize = Le64(sizes.data() + 8);
        }
        if (!Skip(in, leadSize - (isDs64 ? kDs64Sizes : 0))) {
            return false;
        }
        SkipPad(in, leadSize);
        in.read(head.data() + 12, 8);
        if (in.gcount() != 8) {
            return false;
        }
    }
    // Stops at the data chunk too, which no format chunk may follow.
    while (skipChunks && std::memcmp(lead, "fmt ", 4) != 0 && std::memcmp(lead, "data", 4) != 0) {
        const std::uint32_t size = Le32(lead + 4);
        if (!Skip(in, size)) {
            return false;
        }
        SkipPad(in, size);
        in.read(head.data() + 12, 8);
        if (in.gcount() != 8) {
            return false;
        }
    }
    in.read(head.data() + kRiffAndChunk, static_cast<std::streamsize>(head.size()) - kRiffAndChunk);
    return in.gcount() == static_cast<std::streamsize>(head.size()) - kRiffAndChunk;
}

std::uint64_t DataChunkLength(std::uint32_t statedSize, const Ds64Sizes& ds64) {
    return statedSize == 0xFFFFFFFFu && ds64.present ? ds64.dataSize : statedSize;
}

void SkipPad(std::istream& in, std::uint32_t chunkSize) {
    // An odd-sized chunk is followed by a zero pad byte; a chunk id never starts with one, so a
    // zero here is the pad, and anything else is the next chunk of a writer that left it out.
    if (chunkSize % 2 == 1 && in.peek() == 0) {
        in.get();
    }
}

bool SkipToDataChunk(std::istream& in, std::uint32_t& dataSize) {
    std::array<char, 8> header{};
    for (;;) {
        in.read(header.data(), header.size());
        if (in.gcount() != static_cast<std::streamsize>(header.size())) {
            return false;
        }
        const std::uint32_t size = Le32(header.data() + 4);
        if (std::memcmp(header.data(), "data", 4) == 0) {
            dataSize = size;
            return true;
        }
        if (!Skip(in, size)) {
            return false;
        }
        SkipPad(in, size);
    }
}

bool ReadFormatRest(std::istream& in, std::uint32_t formatSize, std::uint16_t& tag) {
    // cbSize, valid bits and channel mask come before the sub-format GUID.
    constexpr std::size_t kExtensionBytes = 24;
    constexpr std::size_t kSubFormatAt = 8;
    // The sub-format GUID is the plain tag in its first two bytes, then a fixed tail.
    static constexpr unsigned char kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::uint64_t rest = formatSize > 16 ? formatSize - 16 : 0;
    if (tag == kWaveFormatExtensible && rest >= kExtensionBytes) {
        std::array<char, kExtensionBytes> extension{};
        in.read(extension.data(), extension.size());
        if (in.gcount() != static_cast<std::streamsize>(extension.size())) {
            return false;
        }
        rest -= kExtensionBytes;
        const char* subFormat = extension.data() + kSubFormatAt;
        const std::uint16_t plain = Le16(subFormat);
        if ((plain == kWaveFormatPcm || plain == kWaveFormatIeeeFloat) &&
            std::memcmp(subFormat + 2, kSubFormatTail, sizeof kSubFormatTail) == 0) {
            tag = plain;
        }
    }
    if (!Skip(in, rest)) {
        return false;
    }
    SkipPad(in, formatSize);
    return true;
}

bool PlausibleWaveFormat(std::uint32_t sampleRate, std::uint32_t channels) {
    // A rate of billions would make every other row repeat each frame thousands of times.
    constexpr std::uint32_t kMaxSampleRate = 768000;
    return sampleRate > 0 && sampleRate <= kMaxSampleRate && channels > 0;
}

std::uint32_t WaveSeconds(std::uint64_t dataSize, std::int32_t sampleRate, std::int32_t channels,
                          std::int32_t bitsPerSample) {
    // 64-bit arithmetic: the header's values are 16- and 32-bit and their product cannot overflow it.
    const std::int64_t bitsPerSecond = static_cast<std::int64_t>(sampleRate) * channels * bitsPerSample;
    const std::int64_t bytesPerSecond = bitsPerSecond / 8;
    return bytesPerSecond > 0 ? static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                    dataSize / static_cast<std::uint64_t>(bytesPerSecond), 0xFFFFFFFFu))
                              : 0;
}

bool ReadWaveHeader(const QString& fileName, WaveHeaderInfo& info, WavSamples samples) {
    std::ifstream in;
    if (!fileName.isEmpty()) {
        in.open(platform::EncodeName(fileName).toStdString(), std::ios::binary);
    }
    // A folder opens like a file here and only fails at the first read.
    if (!in.is_open() || !in.good() || platform::FileStatus(fileName).IsDir()) {
        platform::ShowMessage(QStringLiteral("Cannot open the file!"));
        return false;
    }
    const qint64 onDisk = platform::FileStatus(fileName).Size();
    return ReadWaveHeader(in, onDisk > 0 ? static_cast<std::uint64_t>(onDisk) : 0, info, samples);
}

bool ReadWaveHeader(std::istream& in, std::uint64_t streamSize, WaveHeaderInfo& info, WavSamples samples) {
    const bool wide = samples == WavSamples::AnyPcmOrFloat;
    // The RIFF header is not checked: files with any first 12 bytes are read on.
    std::array<char, 36> head{};
    Ds64Sizes ds64;
    if (!ReadWaveHead(in, head, ds64, wide)) {
        NotValid();
        return false;
    }
    const char* fmt = head.data() + 12;
    const std::uint32_t formatSize = Le32(fmt + 4);
    std::uint16_t tag = Le16(fmt + 8);
    if (std::memcmp(fmt, "fmt ", 4) != 0 || !ReadFormatRest(in, formatSize, tag) ||
        (tag != kWaveFormatPcm && !(wide && tag == kWaveFormatIeeeFloat)) ||
        !PlausibleWaveFormat(Le32(fmt + 12), Le16(fmt + 10))) {
        NotValid();
        return false;
    }
    info.isFloat = tag == kWaveFormatIeeeFloat;
    info.channels = Le16(fmt + 10);
    info.sampleRate = static_cast<std::int32_t>(Le32(fmt + 12));
    info.bitsPerSample = Le16(fmt + 22);
    std::uint32_t statedSize = 0;
    if (!SkipToDataChunk(in, statedSize)) {
        NotValid();
        return false;
    }
    // Streaming writers leave a placeholder such as 0xFFFFFFFF in the size; like the join, which
    // reads such data to the end of the file, count only what the file holds.
    const std::streamoff dataStart = in.tellg();
    std::uint64_t dataBytes = DataChunkLength(statedSize, ds64);
    const bool heldKnown = dataStart >= 0 && streamSize >= static_cast<std::uint64_t>(dataStart);
    const std::uint64_t held = heldKnown ? streamSize - static_cast<std::uint64_t>(dataStart) : dataBytes;
    dataBytes = std::min(dataBytes, held);
    info.dataSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, 0xFFFFFFFFu));
    // 0xFFFFFFFF outside RF64 means all that follows, however long: the list shows the whole
    // length, as the join reads it.
    if (statedSize == 0xFFFFFFFFu && !ds64.present) {
        dataBytes = held;
    }
    info.fileSize = dataBytes + 44;
    info.seconds = WaveSeconds(dataBytes, info.sampleRate, info.channels, info.bitsPerSample);

    const int bits = info.bitsPerSample;
    const bool depthRead = info.isFloat ? bits == 32 || bits == 64
                                        : bits == 8 || bits == 16 || (wide && (bits == 24 || bits == 32));
    if (!depthRead) {
        platform::ShowMessage(QStringLiteral("Not PCM formats!"));
        return false;
    }
    return true;
}
