#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Reading the MPEG audio layer III frame headers LAME writes, to cut its output into frames.
namespace lameenc {

struct FrameHeader {
    int bytes = 0;
    int kbps = 0;
    bool mpeg1 = true;
    bool mono = false;
    bool crc = false;
};

// The header at p (4 bytes), or nothing when p holds no layer III header.
std::optional<FrameHeader> ParseHeader(const std::uint8_t* p);

// The frame's back-pointer into the bit reservoir; p holds the whole frame.
int MainDataBegin(const std::uint8_t* p, const FrameHeader& header);

// The frames that exactly fill data, or nothing when data holds anything else or ends inside a frame.
std::optional<std::vector<FrameHeader>> ScanFrames(const std::uint8_t* data, std::size_t size);

}  // namespace lameenc
