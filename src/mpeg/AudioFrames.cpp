// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpeg/AudioFrames.h"

#include "mpeg/InfoTag.h"

#include <algorithm>
#include <cstring>

namespace mpeg {
namespace {

std::uint32_t BigEndian(const std::uint8_t* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// Past every ID3v2 tag at the start: a tagger may leave more than one.
std::size_t AfterId3v2(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (size - at >= 10 && std::memcmp(data + at, "ID3", 3) == 0 && data[at + 3] != 0xFF &&
           (data[at + 6] | data[at + 7] | data[at + 8] | data[at + 9]) < 0x80) {
        const std::size_t body = (std::size_t{data[at + 6]} << 21) | (std::size_t{data[at + 7]} << 14) |
                                 (std::size_t{data[at + 8]} << 7) | data[at + 9];
        const std::size_t footer = (data[at + 5] & 0x10) != 0 ? 10 : 0;
        if (body + footer > size - at - 10) {
            return size;
        }
        at += 10 + body + footer;
    }
    return at;
}

// Where the audio ends: before an ID3v1 tag and an APE tag in front of it.
std::size_t AudioEnd(const std::uint8_t* data, std::size_t start, std::size_t size) {
    std::size_t end = size;
    if (end - start >= 128 && std::memcmp(data + end - 128, "TAG", 3) == 0) {
        end -= 128;
    }
    if (end - start >= 32 && std::memcmp(data + end - 32, "APETAGEX", 8) == 0) {
        const auto le32 = [&](std::size_t at) {
            const std::uint8_t* p = data + end - 32 + at;
            return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                   (std::uint32_t{p[3]} << 24);
        };
        // The size counts the items and this footer; a header, when flagged, comes in front.
        const std::size_t tag = std::size_t{le32(12)} + ((le32(20) & 0x80000000u) != 0 ? 32 : 0);
        end = tag <= end - start ? end - tag : start;
    }
    return end;
}

std::optional<FrameHeader> HeaderAt(const std::uint8_t* data, std::size_t at, std::size_t end) {
    return end - at >= 4 ? ParseHeader(data + at) : std::nullopt;
}

// The first place from at where a frame starts that the next links frames follow without a gap,
// each of its kind, or that ends the audio. Bytes inside junk pass for a header now and then;
// a chain of them does not.
std::optional<std::size_t> NextChain(const std::uint8_t* data, std::size_t at, std::size_t end) {
    constexpr int kLinks = 3;
    for (; end - at >= 4; ++at) {
        const std::optional<FrameHeader> header = ParseHeader(data + at);
        if (!header) {
            continue;
        }
        std::size_t next = at + static_cast<std::size_t>(header->bytes);
        int linked = 0;
        while (linked < kLinks && next < end) {
            const std::optional<FrameHeader> following = HeaderAt(data, next, end);
            if (!following || !SameKind(*following, *header)) {
                break;
            }
            next += static_cast<std::size_t>(following->bytes);
            ++linked;
        }
        if (linked == kLinks || next == end) {
            return at;
        }
    }
    return std::nullopt;
}

// The LAME extension of the Xing/Info frame at frame, or nothing. LAME and FFmpeg write a checksum
// of the frame up to it; tags of older versions without one are known by their encoder's name.
std::optional<EncoderTag> LameExtension(const std::uint8_t* frame, std::size_t info, std::size_t frameBytes) {
    constexpr std::size_t kTailAt = 116;
    constexpr std::size_t kNameAt = 120;
    constexpr std::size_t kDelayPaddingAt = 141;
    constexpr std::size_t kTagCrcAt = 154;
    if (info + kTagCrcAt + 2 > frameBytes) {
        return std::nullopt;
    }
    const std::uint8_t* name = frame + info + kNameAt;
    const bool named = std::memcmp(name, "LAME", 4) == 0 || std::memcmp(name, "Lavf", 4) == 0 ||
                       std::memcmp(name, "Lavc", 4) == 0;
    if (!named && Crc16(frame, info + kTagCrcAt) != BigEndian(frame + info + kTagCrcAt, 2)) {
        return std::nullopt;
    }
    EncoderTag tag;
    const std::uint32_t delayPadding = BigEndian(frame + info + kDelayPaddingAt, 3);
    tag.delay = static_cast<int>(delayPadding >> 12);
    tag.padding = static_cast<int>(delayPadding & 0xFFF);
    std::memcpy(tag.tail.data(), frame + info + kTailAt, tag.tail.size());
    return tag;
}

// Whether the frame is an encoder's tag frame rather than audio, and its LAME extension.
bool IsTagFrame(const std::uint8_t* frame, const FrameHeader& header, std::optional<EncoderTag>& encoder) {
    const std::size_t size = static_cast<std::size_t>(header.bytes);
    const std::size_t side = 4 + (header.mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17));
    // LAME leaves no room for the checksum in front of its tag; others may.
    for (const std::size_t info : {side, side + (header.crc ? 2 : 0)}) {
        if (info + 8 <= size &&
            (std::memcmp(frame + info, "Xing", 4) == 0 || std::memcmp(frame + info, "Info", 4) == 0)) {
            encoder = LameExtension(frame, info, size);
            return true;
        }
    }
    return size >= 40 && std::memcmp(frame + 36, "VBRI", 4) == 0;
}

}  // namespace

bool SameKind(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.rateIndex == b.rateIndex && a.mono == b.mono;
}

AudioFrames FindAudioFrames(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kPrefetchFrames = 8;
    AudioFrames found;
    std::size_t at = AfterId3v2(data, size);
    const std::size_t end = AudioEnd(data, at, size);
    std::optional<FrameHeader> kind;
    while (end - at >= 4) {
        std::optional<FrameHeader> header = ParseHeader(data + at);
        if (!header || !kind || !SameKind(*header, *kind)) {
            const std::optional<std::size_t> chain = NextChain(data, at, end);
            if (!chain) {
                break;
            }
            at = *chain;
            header = ParseHeader(data + at);
            if (kind && !SameKind(*header, *kind)) {
                found.fault = AudioFrames::Fault::KindChanges;
                found.faultOffset = at;
                return found;
            }
        }
        const std::size_t bytes = static_cast<std::size_t>(header->bytes);
        if (bytes > end - at) {
            break;  // cut off
        }
        // The headers are a frame apart, too far for the processor to guess; frames of one
        // bitrate keep that distance, so the header some frames on is fetched while these are read.
        __builtin_prefetch(data + std::min(end - 1, at + kPrefetchFrames * bytes));
        if (!kind) {
            kind = header;
            if (IsTagFrame(data + at, *header, found.encoder)) {
                found.tagFrame = true;
                at += bytes;
                continue;
            }
        }
        if (found.kbps.empty()) {
            found.first = *header;
            std::memcpy(found.firstHeader.data(), data + at, 4);
            found.firstMainDataBegin = MainDataBegin(data + at, *header);
        }
        if (!found.runs.empty() && found.runs.back().offset + found.runs.back().bytes == at) {
            found.runs.back().bytes += bytes;
        } else {
            found.runs.push_back({at, bytes});
        }
        found.kbps.push_back(static_cast<std::uint16_t>(header->kbps));
        found.sizes.push_back(static_cast<std::uint16_t>(bytes));
        found.bytes += bytes;
        at += bytes;
    }
    if (found.kbps.empty()) {
        found.fault = AudioFrames::Fault::NoFrames;
    }
    return found;
}

}  // namespace mpeg
