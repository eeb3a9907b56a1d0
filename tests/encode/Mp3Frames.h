// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

// An independent reading of MP3 files for the encoder tests: frame headers, the side information's
// reservoir fields and the LAME/Info tag.
namespace encodetest {

struct Mp3Frame {
    std::size_t offset = 0;
    int bytes = 0;
    int kbps = 0;
    int mainDataBegin = 0;
    int mainDataBits = 0;  // part2_3_length summed over granules and channels
    int slotBytes = 0;     // the frame's room for main data, after header, CRC and side information
};

inline int Bits(const std::uint8_t* p, int at, int count) {
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        value = (value << 1) | ((p[i / 8] >> (7 - i % 8)) & 1);
    }
    return value;
}

inline std::optional<Mp3Frame> ParseFrame(const std::uint8_t* p, std::size_t available) {
    static constexpr int kKbps[2][16] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
    static constexpr int kRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xE6) != 0xE2 || ((p[1] >> 3) & 3) == 1 ||
        ((p[2] >> 2) & 3) == 3) {
        return std::nullopt;
    }
    const int version = (p[1] >> 3) & 3;
    const bool mpeg1 = version == 3;
    const bool mono = (p[3] >> 6) == 3;
    const int channels = mono ? 1 : 2;
    Mp3Frame frame;
    frame.kbps = kKbps[mpeg1][p[2] >> 4];
    frame.bytes =
        (mpeg1 ? 144000 : 72000) * frame.kbps / kRates[version][(p[2] >> 2) & 3] + ((p[2] >> 1) & 1);
    if (frame.kbps == 0 || static_cast<std::size_t>(frame.bytes) > available) {
        return std::nullopt;
    }
    const int sideBytes = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const std::uint8_t* side = p + ((p[1] & 1) == 0 ? 6 : 4);
    frame.slotBytes = frame.bytes - static_cast<int>(side - p) - sideBytes;
    // Per granule and channel: part2_3_length first, then 47 (MPEG-1) or 51 (MPEG-2) more bits.
    frame.mainDataBegin = Bits(side, 0, mpeg1 ? 9 : 8);
    const int first = mpeg1 ? 9 + (mono ? 5 : 3) + 4 * channels : 8 + (mono ? 1 : 2);
    const int entries = (mpeg1 ? 2 : 1) * channels;
    for (int i = 0; i < entries; ++i) {
        frame.mainDataBits += Bits(side, first + i * (mpeg1 ? 59 : 63), 12);
    }
    return frame;
}

// Every frame of the file, which must hold nothing else.
inline std::vector<Mp3Frame> ParseMp3Frames(const QByteArray& file) {
    std::vector<Mp3Frame> frames;
    const auto* data = reinterpret_cast<const std::uint8_t*>(file.constData());
    std::size_t at = 0;
    while (at < static_cast<std::size_t>(file.size())) {
        std::optional<Mp3Frame> frame = ParseFrame(data + at, static_cast<std::size_t>(file.size()) - at);
        if (!frame) {
            ADD_FAILURE() << "no frame at byte " << at << " of " << file.size();
            break;
        }
        frame->offset = at;
        frames.push_back(*frame);
        at += static_cast<std::size_t>(frame->bytes);
    }
    return frames;
}

// Each frame's main data must start at or after the end of the previous frame's (the back-pointer
// reaches no further than the reservoir holds) and end within its own frame. A leading tag frame
// fills its slot with the tag, so no music may point into it.
inline ::testing::AssertionResult ReservoirValid(const std::vector<Mp3Frame>& frames, bool tagFrame) {
    long slotsBefore = 0;
    long previousEnd = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Mp3Frame& f = frames[i];
        const long start = slotsBefore - f.mainDataBegin;
        const long end = start + (f.mainDataBits + 7) / 8;
        if (start < previousEnd) {
            return ::testing::AssertionFailure()
                   << "frame " << i << " main_data_begin " << f.mainDataBegin << " reaches used data";
        }
        if (end > slotsBefore + f.slotBytes) {
            return ::testing::AssertionFailure() << "frame " << i << " main data runs past its frame";
        }
        slotsBefore += f.slotBytes;
        previousEnd = i == 0 && tagFrame ? slotsBefore : end;
    }
    return ::testing::AssertionSuccess();
}

inline std::uint16_t Crc16Arc(const char* data, std::size_t size, std::uint16_t crc = 0) {
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint8_t>(data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

// The LAME/Info tag in the file's first frame, with the checksums it should carry.
struct InfoTag {
    QByteArray word;    // "Info" for a constant bitrate, "Xing" otherwise
    int frameKbps = 0;  // of the tag frame itself
    int method = 0;     // the LAME extension's VBR method: 1 constant, 4 as `lame -V` writes it
    int lameKbps = 0;   // its bitrate: the constant one, or the lowest a VBR encode may use
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    std::array<std::uint8_t, 100> toc{};
    int delay = 0;
    int padding = 0;
    std::uint32_t musicLength = 0;
    std::uint16_t musicCrc = 0;
    std::uint16_t tagCrc = 0;
    std::uint16_t expectedMusicCrc = 0;  // of every byte after the tag frame
    std::uint16_t expectedTagCrc = 0;    // of the tag frame up to its own CRC
};

inline std::optional<InfoTag> ReadInfoTag(const QByteArray& file) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(file.constData());
    const std::optional<Mp3Frame> frame = ParseFrame(p, static_cast<std::size_t>(file.size()));
    if (!frame) {
        return std::nullopt;
    }
    const int sideBytes = ((p[1] >> 3) & 3) == 3 ? ((p[3] >> 6) == 3 ? 17 : 32) : ((p[3] >> 6) == 3 ? 9 : 17);
    const int info = 4 + sideBytes;
    if ((file.mid(info, 4) != "Info" && file.mid(info, 4) != "Xing") || info + 156 > frame->bytes) {
        return std::nullopt;
    }
    const auto be = [&](int at, int count) {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i) {
            v = (v << 8) | p[info + at + i];
        }
        return v;
    };
    InfoTag tag;
    tag.word = file.mid(info, 4);
    tag.frameKbps = frame->kbps;
    tag.method = static_cast<int>(be(129, 1) & 0xF);
    tag.lameKbps = static_cast<int>(be(140, 1));
    tag.frames = be(8, 4);
    tag.bytes = be(12, 4);
    std::copy_n(p + info + 16, 100, tag.toc.begin());
    const std::uint32_t delayPadding = be(141, 3);
    tag.delay = static_cast<int>(delayPadding >> 12);
    tag.padding = static_cast<int>(delayPadding & 0xFFF);
    tag.musicLength = be(148, 4);
    tag.musicCrc = static_cast<std::uint16_t>(be(152, 2));
    tag.tagCrc = static_cast<std::uint16_t>(be(154, 2));
    tag.expectedMusicCrc =
        Crc16Arc(file.constData() + frame->bytes, static_cast<std::size_t>(file.size() - frame->bytes));
    tag.expectedTagCrc = Crc16Arc(file.constData(), static_cast<std::size_t>(info + 154));
    return tag;
}

}  // namespace encodetest
