// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "encode/Mp3EncoderApi.h"

#include <lame/lame.h>

#include <cstdint>
#include <memory>
#include <vector>

// Turning the configuration record into LAME encoders, the same way for every encoder of a stream.
namespace lameenc {

struct LameFree {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameFree>;

struct EncoderSettings {
    Mp3EncoderConfig config{};
    int channels = 2;
    int inRate = 0;
    // Rates MP3 cannot carry are resampled by LAME to the nearest one it can.
    int outRate = 0;
    int bitrate = 0;
    // Samples per channel in one MP3 frame: 1152 for MPEG-1, 576 below 32 kHz.
    int frameSize = 1152;
    // The longest frame this bitrate and rate can make, padding slot included.
    int maxFrameBytes = 0;
    // LAME puts its Info tag only into a frame of the stream's own bitrate and silently drops it
    // where that frame is too small. Such a stream gets a tag frame of its own at this bitrate, the
    // smallest that holds the tag; 0 when LAME's frame does.
    int tagKbps = 0;

    bool Resampled() const { return inRate != outRate; }
};

// Checks the record and derives the settings; false for a record no encoder can take.
bool MakeSettings(const Mp3EncoderConfig& config, EncoderSettings* settings);

// A configured encoder, or null. infoTag: whether it reserves the Info tag frame at its start
// (never with tagKbps set: that frame is the caller's to write).
LamePtr CreateEncoder(const EncoderSettings& settings, bool infoTag);

// The encoder's finished Info tag frame, empty when it has none.
std::vector<std::uint8_t> LameTagFrame(lame_global_flags* lame);

// For settings with tagKbps: the Info tag frame the stream's encoder would have written had it
// room for it, its counts still to be filled in (PatchInfoTag). Empty on failure.
std::vector<std::uint8_t> OwnTagFrame(const EncoderSettings& settings, lame_global_flags* streamEncoder);

}  // namespace lameenc
