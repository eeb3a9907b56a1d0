// SPDX-License-Identifier: GPL-3.0-or-later
#include "Mp3Frames.h"
#include "mpeg/InfoTag.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

// The folded checksum against the bytewise one, across the lengths where it changes strategy
// (tables below 128 bytes, 64-byte steps, 16-byte steps, a tail) and unaligned starts, carrying on
// from a previous checksum as the copying join does run after run.
TEST(MusicChecksum, EqualsTheBytewiseChecksumAtEveryLengthAndStart) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(1400);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    for (std::size_t size = 0; size < 1300; ++size) {
        for (const std::size_t start : {0, 3}) {
            const auto from = static_cast<std::uint16_t>(random());
            const auto* data = bytes.data() + start;
            ASSERT_EQ(mpeg::Crc16(data, size, from),
                      encodetest::Crc16Arc(reinterpret_cast<const char*>(data), size, from))
                << size << " bytes from " << start;
        }
    }
    // Parts checked one by one and put together, as the copying join does with its inputs.
    for (const std::size_t split : {0, 1, 200, 1399, 1400}) {
        const std::uint16_t whole = mpeg::Crc16(bytes.data(), bytes.size());
        const std::uint16_t head = mpeg::Crc16(bytes.data(), split);
        const std::uint16_t tail = mpeg::Crc16(bytes.data() + split, bytes.size() - split);
        EXPECT_EQ(mpeg::Crc16Combine(head, tail, bytes.size() - split), whole) << split;
    }
}
