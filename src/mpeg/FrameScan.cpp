// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpeg/FrameScan.h"

namespace mpeg {
namespace {

constexpr int kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kMpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

}  // namespace

std::optional<FrameHeader> ParseHeader(const std::uint8_t* p) {
    const int version = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || rateIndex == 3) {
        return std::nullopt;
    }
    FrameHeader header;
    header.mpeg1 = version == 3;
    header.kbps = header.mpeg1 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    if (header.kbps == 0) {
        return std::nullopt;
    }
    header.mono = (p[3] >> 6) == 3;
    header.crc = (p[1] & 1) == 0;
    header.version = version;
    header.rateIndex = rateIndex;
    header.sampleRate = kRates[version][rateIndex];
    header.samples = header.mpeg1 ? 1152 : 576;
    const int padding = (p[2] >> 1) & 1;
    header.bytes = (header.mpeg1 ? 144000 : 72000) * header.kbps / header.sampleRate + padding;
    return header;
}

int MainDataBegin(const std::uint8_t* p, const FrameHeader& header) {
    const std::uint8_t* side = p + (header.crc ? 6 : 4);
    return header.mpeg1 ? (side[0] << 1) | (side[1] >> 7) : side[0];
}

std::optional<std::vector<FrameHeader>> ScanFrames(const std::uint8_t* data, std::size_t size) {
    std::vector<FrameHeader> frames;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4) {
            return std::nullopt;
        }
        const std::optional<FrameHeader> header = ParseHeader(data + at);
        if (!header || static_cast<std::size_t>(header->bytes) > size - at) {
            return std::nullopt;
        }
        frames.push_back(*header);
        at += static_cast<std::size_t>(header->bytes);
    }
    return frames;
}

}  // namespace mpeg
