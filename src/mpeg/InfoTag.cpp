// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpeg/InfoTag.h"

#include "mpeg/FrameScan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace mpeg {
namespace {

// Offsets from the "Info" word, which follows the header and side information.
constexpr std::size_t kFlagsAt = 4;
constexpr std::size_t kFramesAt = 8;
constexpr std::size_t kBytesAt = 12;
constexpr std::size_t kTocAt = 16;
constexpr std::size_t kQualityAt = 116;
constexpr std::size_t kMethodAt = 129;
constexpr std::size_t kPeakAt = 131;
constexpr std::size_t kLowpassAt = 130;
constexpr std::size_t kBitrateAt = 140;
constexpr std::size_t kDelayPaddingAt = 141;
constexpr std::size_t kPresetAt = 146;
constexpr std::size_t kMusicLengthAt = 148;
constexpr std::size_t kMusicCrcAt = 152;
constexpr std::size_t kTagCrcAt = 154;

// Eight tables: the first is the byte-at-a-time table, table k advances a byte's effect by k more
// bytes, so the checksum takes eight bytes a step (the music checksum covers every byte copied).
using CrcTables = std::array<std::array<std::uint16_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        tables[0][i] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned previous = tables[k - 1][i];
            tables[k][i] = static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFF]);
        }
    }
    return tables;
}
constexpr CrcTables kCrcTables = MakeCrcTables();

void PutBigEndian(std::uint8_t* p, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

// Where the side information ends, and a tag frame's "Info" word begins.
std::size_t SideEnd(const FrameHeader& header) {
    return 4 + (header.mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17));
}

void WriteCounts(std::uint8_t* p, const StreamTotals& totals) {
    PutBigEndian(p + kFramesAt, totals.seek->Frames(), 4);
    PutBigEndian(p + kBytesAt, totals.bytes, 4);
    totals.seek->Write(p + kTocAt);
}

// Where the "Info" word (or "Xing", for frames of varying bitrates) of a tag frame starts, or 0
// when tag is no such frame.
std::size_t InfoAt(const std::vector<std::uint8_t>& tag, std::size_t room = kTagCrcAt + 2) {
    if (tag.size() < 4) {
        return 0;
    }
    const std::optional<FrameHeader> header = ParseHeader(tag.data());
    if (!header) {
        return 0;
    }
    const std::size_t info = SideEnd(*header);
    if (info + room > tag.size() ||
        (std::memcmp(tag.data() + info, "Info", 4) != 0 && std::memcmp(tag.data() + info, "Xing", 4) != 0)) {
        return 0;
    }
    return info;
}

std::uint16_t CrcByTables(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    const auto& t = kCrcTables;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint8_t* p = data + i;
        const unsigned low = (p[0] | (p[1] << 8)) ^ crc;
        crc = static_cast<std::uint16_t>(t[7][low & 0xFF] ^ t[6][low >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^
                                         t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; i < size; ++i) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ t[0][(crc ^ data[i]) & 0xFF]);
    }
    return crc;
}

#if defined(__x86_64__)
// Carry-less multiplication folds sixteen bytes at a time. The checksum is the remainder of the
// message, times x^16, by P = x^16 + x^15 + x^2 + 1, bits taken lowest first. Four 128-bit
// accumulators each stand for sixteen bytes of message; moving one 64 bytes on multiplies its two
// halves by x^576 and x^512 mod P, which keeps its remainder and leaves at most 80 bits, so the
// next bytes are simply added. What is left at the end is sixteen bytes of message with the same
// checksum as all that went before, which the tables finish with the tail.

// x^n mod P, as the reflected 64-bit operand of a carry-less multiplication. The product of two
// reflected operands comes out one bit short, so the caller asks for one power less.
constexpr std::uint64_t ReflectedPower(int n) {
    std::uint32_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if ((r & 0x10000) != 0) {
            r ^= 0x18005;
        }
    }
    std::uint64_t reflected = 0;
    for (int bit = 0; bit < 16; ++bit) {
        if ((r >> bit) & 1) {
            reflected |= std::uint64_t{1} << (63 - bit);
        }
    }
    return reflected;
}

// Multiplies the accumulator's halves by x^(bits + 64) and x^bits mod P, in the constants k.
__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i acc, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) std::uint16_t CrcByFolding(const std::uint8_t* data, std::size_t size,
                                                                  std::uint16_t crc) {
    const auto constants = [](int bits) {
        return _mm_set_epi64x(static_cast<long long>(ReflectedPower(bits - 1)),
                              static_cast<long long>(ReflectedPower(bits + 64 - 1)));
    };
    static const __m128i k512 = constants(512);
    static const __m128i k128 = constants(128);
    const auto load = [&](std::size_t at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    };
    __m128i acc[4] = {_mm_xor_si128(load(0), _mm_cvtsi32_si128(crc)), load(16), load(32), load(48)};
    std::size_t at = 64;
    for (; size - at >= 64; at += 64) {
        for (int i = 0; i < 4; ++i) {
            acc[i] = _mm_xor_si128(Fold(acc[i], k512), load(at + 16 * static_cast<std::size_t>(i)));
        }
    }
    __m128i one = acc[0];
    for (int i = 1; i < 4; ++i) {
        one = _mm_xor_si128(Fold(one, k128), acc[i]);
    }
    for (; size - at >= 16; at += 16) {
        one = _mm_xor_si128(Fold(one, k128), load(at));
    }
    std::uint8_t left[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(left), one);
    return CrcByTables(data + at, size - at, CrcByTables(left, sizeof left, 0));
}
#endif

// a * b mod P, both bit-reversed (the top bit is x^0) as the checksum itself is; a is not 0, which
// no power of x is, P having a constant term.
std::uint16_t MultiplyModP(std::uint16_t a, std::uint16_t b) {
    unsigned m = 0x8000;
    unsigned product = 0;
    for (;;) {
        if ((a & m) != 0) {
            product ^= b;
            if ((a & (m - 1)) == 0) {
                return static_cast<std::uint16_t>(product);
            }
        }
        m >>= 1;
        b = static_cast<std::uint16_t>((b & 1) != 0 ? (b >> 1) ^ 0xA001 : b >> 1);
    }
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
#if defined(__x86_64__)
    static const bool folding = __builtin_cpu_supports("pclmul");
    if (folding && size >= 128) {
        return CrcByFolding(data, size, crc);
    }
#endif
    return CrcByTables(data, size, crc);
}

std::uint16_t Crc16Combine(std::uint16_t crcA, std::uint16_t crcB, std::uint64_t bytesB) {
    // A's checksum moves on by x^(8 * bytesB): squares of x^8 for the bits of the length.
    std::uint16_t power = 0x8000;   // x^0
    std::uint16_t square = 0x0080;  // x^8
    for (std::uint64_t n = bytesB; n != 0; n >>= 1) {
        if ((n & 1) != 0) {
            power = MultiplyModP(square, power);
        }
        square = MultiplyModP(square, square);
    }
    return static_cast<std::uint16_t>(MultiplyModP(power, crcA) ^ crcB);
}

void SeekTable::Add(int kbps) {
    ++frames;
    sum += kbps;
    if (++seen < want) {
        return;
    }
    if (pos < kSize) {
        bag[static_cast<std::size_t>(pos++)] = sum;
        seen = 0;
    }
    if (pos == kSize) {
        for (int i = 1; i < kSize; i += 2) {
            bag[static_cast<std::size_t>(i / 2)] = bag[static_cast<std::size_t>(i)];
        }
        want *= 2;
        pos /= 2;
    }
}

void SeekTable::Write(std::uint8_t* toc) const {
    std::memset(toc, 0, 100);
    if (pos <= 0) {
        return;
    }
    // Single precision where LAME uses it, so the entries round the same way.
    for (int i = 1; i < 100; ++i) {
        const float fraction = static_cast<float>(i) / 100.0f;
        int index = static_cast<int>(std::floor(fraction * static_cast<float>(pos)));
        if (index > pos - 1) {
            index = pos - 1;
        }
        const float act = static_cast<float>(bag[static_cast<std::size_t>(index)]);
        const int point = static_cast<int>(256.0 * act / static_cast<float>(sum));
        toc[i] = static_cast<std::uint8_t>(point > 255 ? 255 : point);
    }
}

std::vector<std::uint8_t> TagPlaceholder(const std::vector<std::uint8_t>& tag) {
    std::vector<std::uint8_t> placeholder(tag.size(), 0);
    std::copy_n(tag.begin(), std::min<std::size_t>(4, tag.size()), placeholder.begin());
    return placeholder;
}

bool PatchInfoTag(std::vector<std::uint8_t>& tag, const StreamTotals& totals) {
    const std::size_t info = InfoAt(tag);
    if (info == 0 || totals.seek == nullptr) {
        return false;
    }
    std::uint8_t* p = tag.data() + info;
    WriteCounts(p, totals);
    // 12 bits of delay, kept from the first encoder, then 12 bits of padding from the last.
    const int padding = totals.padding & 0xFFF;
    p[kDelayPaddingAt + 1] = static_cast<std::uint8_t>((p[kDelayPaddingAt + 1] & 0xF0) | (padding >> 8));
    p[kDelayPaddingAt + 2] = static_cast<std::uint8_t>(padding);
    PutBigEndian(p + kMusicLengthAt, totals.bytes, 4);
    PutBigEndian(p + kMusicCrcAt, totals.musicCrc, 2);
    PutBigEndian(p + kTagCrcAt, Crc16(tag.data(), info + kTagCrcAt), 2);
    return true;
}

bool PatchCounts(std::vector<std::uint8_t>& tag, const StreamTotals& totals) {
    const std::size_t info = InfoAt(tag, kTocAt + 100);
    if (info == 0 || totals.seek == nullptr) {
        return false;
    }
    WriteCounts(tag.data() + info, totals);
    return true;
}

std::vector<std::uint8_t> NewTagFrame(const std::uint8_t* firstHeader, int kbps, bool constant,
                                      const std::uint8_t* encoderTail) {
    const std::optional<FrameHeader> first = ParseHeader(firstHeader);
    if (!first) {
        return {};
    }
    const std::size_t info = SideEnd(*first);
    const std::size_t room = info + (encoderTail != nullptr ? kTagCrcAt + 2 : kQualityAt);
    // The header: the first frame's version, rate, channel mode and flags, no checksum, no padding.
    std::array<std::uint8_t, 4> header{0xFF, static_cast<std::uint8_t>(0xE3 | (first->version << 3)),
                                       static_cast<std::uint8_t>(first->rateIndex << 2),
                                       static_cast<std::uint8_t>(firstHeader[3] & 0xCF)};
    // LAME's bitrate for the tag frame of a stream of varying bitrates.
    const int wanted = constant ? kbps : (first->mpeg1 ? 128 : (first->version == 2 ? 64 : 32));
    int chosen = 0;
    for (int index = 1; index < 15; ++index) {
        header[2] = static_cast<std::uint8_t>((index << 4) | (first->rateIndex << 2));
        const std::optional<FrameHeader> candidate = ParseHeader(header.data());
        if (!candidate || static_cast<std::size_t>(candidate->bytes) < room) {
            continue;
        }
        chosen = chosen == 0 || candidate->kbps == wanted ? index : chosen;
        if (candidate->kbps == wanted) {
            break;
        }
    }
    if (chosen == 0) {
        return {};
    }
    header[2] = static_cast<std::uint8_t>((chosen << 4) | (first->rateIndex << 2));
    std::vector<std::uint8_t> tag(static_cast<std::size_t>(ParseHeader(header.data())->bytes), 0);
    std::copy(header.begin(), header.end(), tag.begin());
    std::uint8_t* p = tag.data() + info;
    // LAME's words: "Info" for a constant bitrate, "Xing" otherwise; players seek by the table then.
    std::memcpy(p, constant ? "Info" : "Xing", 4);
    constexpr std::uint32_t kFramesBytesToc = 7;
    constexpr std::uint32_t kQuality = 8;
    PutBigEndian(p + kFlagsAt, encoderTail != nullptr ? kFramesBytesToc | kQuality : kFramesBytesToc, 4);
    if (encoderTail != nullptr) {
        std::copy_n(encoderTail, kTagCrcAt + 2 - kQualityAt, p + kQualityAt);
        // Peak and replay gain measured the first file alone.
        std::fill(p + kPeakAt, p + kPeakAt + 8, 0);
        if (!constant) {
            // As `lame -V` writes them: its VBR method, and the lowest bitrate it may use. No preset
            // made the parts together.
            p[kMethodAt] = static_cast<std::uint8_t>((p[kMethodAt] & 0xF0) | 4);
            p[kBitrateAt] = first->mpeg1 ? 32 : 8;
            PutBigEndian(p + kPresetAt, 0, 2);
        }
    }
    return tag;
}

bool SetEncoderFields(std::vector<std::uint8_t>& tag, const EncoderFields& fields) {
    const std::size_t info = InfoAt(tag);
    if (info == 0) {
        return false;
    }
    std::uint8_t* p = tag.data() + info;
    // Rounded and capped as LAME writes them; LAME's preset for a constant bitrate is that bitrate.
    p[kLowpassAt] = static_cast<std::uint8_t>(std::min(255, (fields.lowpass + 50) / 100));
    p[kBitrateAt] = static_cast<std::uint8_t>(std::min(255, fields.kbps));
    p[kDelayPaddingAt] = static_cast<std::uint8_t>(fields.delay >> 4);
    p[kDelayPaddingAt + 1] =
        static_cast<std::uint8_t>(((fields.delay & 0xF) << 4) | (p[kDelayPaddingAt + 1] & 0x0F));
    PutBigEndian(p + kPresetAt, static_cast<std::uint32_t>(fields.kbps), 2);
    return true;
}

}  // namespace mpeg
