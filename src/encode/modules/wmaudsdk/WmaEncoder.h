// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FfmpegHandles.h"
#include "encode/WmaWriterApi.h"
#include "encode/modules/BlockedEncoder.h"

#include <cstdint>

// FFmpeg's WMA v2 encoder as the writer opens it, one for the stream and one for each block.
namespace wmaudsdk {

using blocked::BlockedEncoder;

// What every encoder of a stream is opened with.
struct EncoderSettings {
    int sampleRate = 44100;
    int channels = 2;
    std::int64_t bitrate = 0;
    bool globalHeader = false;
};

// Opens a WMA v2 encoder taking planar float into *codec; WMA_E_INVALIDARG for settings the
// encoder refuses.
WmaStatus OpenEncoder(const EncoderSettings& settings, CodecContextPtr* codec);

// How a block's fresh encoder is made. The encoder's only memory between frames is the windowed
// second half of the frame before (the transform's overlap), so hearing that one frame first makes
// a block's packets exactly those of a single encoder.
blocked::BlockPlan BlockPlanOf(const EncoderSettings& settings);

// Worker threads for a stream: one per core, at most 8; WAVESTITCH_WMA_THREADS overrides it for
// tests and benchmarks. Below 2 the writer encodes on the caller's thread.
int WorkerCount();
// Codec frames per block; WAVESTITCH_WMA_BLOCK_FRAMES overrides it for tests.
int BlockFrames();

}  // namespace wmaudsdk
