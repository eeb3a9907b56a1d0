#include "InfoTag.h"

#include "FrameScan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace lameenc {
namespace {

// Offsets from the "Info" word, which follows the header and side information.
constexpr std::size_t kFramesAt = 8;
constexpr std::size_t kBytesAt = 12;
constexpr std::size_t kTocAt = 16;
constexpr std::size_t kLowpassAt = 130;
constexpr std::size_t kBitrateAt = 140;
constexpr std::size_t kDelayPaddingAt = 141;
constexpr std::size_t kPresetAt = 146;
constexpr std::size_t kMusicLengthAt = 148;
constexpr std::size_t kMusicCrcAt = 152;
constexpr std::size_t kTagCrcAt = 154;

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

void PutBigEndian(std::uint8_t* p, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

// Where the "Info" word of a tag frame starts, or 0 when tag is no such frame.
std::size_t InfoAt(const std::vector<std::uint8_t>& tag) {
    if (tag.size() < 4) {
        return 0;
    }
    const std::optional<FrameHeader> header = ParseHeader(tag.data());
    if (!header) {
        return 0;
    }
    const std::size_t info = 4 + (header->mpeg1 ? (header->mono ? 17 : 32) : (header->mono ? 9 : 17));
    if (info + kTagCrcAt + 2 > tag.size() || std::memcmp(tag.data() + info, "Info", 4) != 0) {
        return 0;
    }
    return info;
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    }
    return crc;
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
    PutBigEndian(p + kFramesAt, totals.seek->Frames(), 4);
    PutBigEndian(p + kBytesAt, totals.bytes, 4);
    totals.seek->Write(p + kTocAt);
    // 12 bits of delay, kept from the first encoder, then 12 bits of padding from the last.
    const int padding = totals.padding & 0xFFF;
    p[kDelayPaddingAt + 1] = static_cast<std::uint8_t>((p[kDelayPaddingAt + 1] & 0xF0) | (padding >> 8));
    p[kDelayPaddingAt + 2] = static_cast<std::uint8_t>(padding);
    PutBigEndian(p + kMusicLengthAt, totals.bytes, 4);
    PutBigEndian(p + kMusicCrcAt, totals.musicCrc, 2);
    PutBigEndian(p + kTagCrcAt, Crc16(tag.data(), info + kTagCrcAt), 2);
    return true;
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

}  // namespace lameenc
