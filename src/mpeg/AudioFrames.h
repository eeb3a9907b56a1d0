// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mpeg/FrameScan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The audio frames of a whole MP3 file, found among its tags, its encoder's tag frame and junk.
namespace mpeg {

// Frames that follow each other without a gap.
struct ByteRun {
    std::size_t offset = 0;
    std::size_t bytes = 0;
};

// What an encoder's LAME extension of its Xing/Info frame says.
struct EncoderTag {
    int delay = 0;    // samples the encoder put in front of the music
    int padding = 0;  // samples it added after the music
    // The quality word and the extension as found, from 116 to 156 bytes after the "Info" word.
    std::array<std::uint8_t, 40> tail{};
};

// Same MPEG version, sample rate and channel count: frames that can follow each other in one stream.
bool SameKind(const FrameHeader& a, const FrameHeader& b);

struct AudioFrames {
    enum class Fault { None, NoFrames, KindChanges };
    Fault fault = Fault::None;
    std::size_t faultOffset = 0;  // where frames of another kind begin
    FrameHeader first;            // the first audio frame's
    std::array<std::uint8_t, 4> firstHeader{};
    int firstMainDataBegin = 0;
    bool tagFrame = false;              // a Xing, Info or VBRI frame led the audio and is left out
    std::optional<EncoderTag> encoder;  // its LAME extension, when it has one
    std::vector<ByteRun> runs;
    std::vector<std::uint16_t> kbps;   // of each frame, in order
    std::vector<std::uint16_t> sizes;  // in bytes, of each frame
    std::size_t bytes = 0;
};

// The Layer III frames of one kind in a file's bytes, in order: ID3v2 tags in front, APE and ID3v1
// tags at the end, the encoder's tag frame, junk between frames and a cut-off last frame are left
// out. Another kind of frame after the first kind is a fault, not junk.
AudioFrames FindAudioFrames(const std::uint8_t* data, std::size_t size);

}  // namespace mpeg
