// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <span>

// The sample rates and constant bitrates LAME writes, shared by the encoder module, which sets up
// LAME with them, and the join, which tells the user when a chosen bitrate cannot be kept.
namespace mpeg {

// The sample rate of the MP3 stream made from PCM at rate: the nearest one MPEG audio has, the higher
// on a tie.
int Mp3SampleRate(int rate);

// The constant bitrates at an MPEG audio sample rate, lowest first. At the MPEG 2.5 rates (12000 Hz
// and below) LAME stops at 64 kbps although the frame header could name up to 160.
std::span<const int> Mp3Bitrates(int sampleRate);

// The bitrate written at an MPEG audio sample rate for kbps: the nearest of Mp3Bitrates, the higher on
// a tie, so nothing is thrown away needlessly.
int Mp3Bitrate(int sampleRate, long kbps);

}  // namespace mpeg
