// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Reading MPEG audio layer III frame headers: the encoder module cuts its output into frames with
// them, the copying join finds the frames of its inputs.
namespace mpeg {

struct FrameHeader {
    int bytes = 0;
    int kbps = 0;
    bool mpeg1 = true;
    bool mono = false;
    bool crc = false;
    int version = 3;    // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
    int rateIndex = 0;  // with version, the sample rate
    int sampleRate = 0;
    int samples = 0;  // per frame: 1152, or 576 for MPEG 2 and 2.5
};

// The header at p (4 bytes), or nothing when p holds no layer III header.
std::optional<FrameHeader> ParseHeader(const std::uint8_t* p);

// The frame's back-pointer into the bit reservoir; p holds the whole frame.
int MainDataBegin(const std::uint8_t* p, const FrameHeader& header);

// The frames that exactly fill data, or nothing when data holds anything else or ends inside a frame.
std::optional<std::vector<FrameHeader>> ScanFrames(const std::uint8_t* data, std::size_t size);

}  // namespace mpeg
