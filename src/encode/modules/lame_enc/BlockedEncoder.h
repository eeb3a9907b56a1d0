// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LameSetup.h"
#include "encode/modules/OrderedBlocks.h"
#include "mpeg/FrameScan.h"
#include "mpeg/InfoTag.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One MP3 stream encoded in blocks on a pool of worker threads. Each block of frames goes to a
// fresh encoder that first hears the end of the block before it and then starts from an empty bit
// reservoir, so the blocks' frames join into one valid stream that sounds like a one-encoder one.
// The caller feeds it from one thread and gets the stream back in order.
namespace lameenc {

// Where the caller's output buffer is filled.
struct Output {
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::size_t used = 0;

    bool Append(const std::uint8_t* bytes, std::size_t size);
};

// Worker threads for a stream: one per core, at most 8; WAVESTITCH_MP3_THREADS overrides it for
// tests and benchmarks. Below 2 the module encodes on the caller's thread.
int WorkerCount();
// Frames per block; WAVESTITCH_MP3_BLOCK_FRAMES overrides it for tests.
int BlockFrames();

class BlockedEncoder {
public:
    // first: the stream's first encoder, with the Info tag frame reserved unless the stream has a
    // tag frame of its own (EncoderSettings::tagKbps), ownTag, which then goes before the music.
    BlockedEncoder(const EncoderSettings& settings, LamePtr first, int threads, int blockFrames,
                   std::vector<std::uint8_t> ownTag);
    ~BlockedEncoder();
    BlockedEncoder(const BlockedEncoder&) = delete;
    BlockedEncoder& operator=(const BlockedEncoder&) = delete;

    // The most bytes Add or Finish can put out in one call.
    static std::uint32_t OutputBufferSize(const EncoderSettings& settings, int threads, int blockFrames);

    // Takes interleaved samples (a stereo pair may be split across calls) and puts out the
    // stream's next finished frames, often none. False when an encoder failed.
    bool Add(const std::int16_t* samples, std::size_t count, Output& output);
    // Puts out the rest of the stream.
    bool Finish(Output& output);
    // After Finish: the Info tag frame describing the whole stream, empty when it has none.
    std::vector<std::uint8_t> InfoTag() const;

private:
    struct Block;

    static bool Encode(const EncoderSettings& settings, Block& block);
    std::size_t BlockStart(std::size_t index) const;
    bool Dispatch(Output& output);
    bool SendBlock(bool last, Output& output);
    bool Collect(Output& output, bool wait);
    bool TakeFront(Output& output);

    const EncoderSettings settings;
    const std::size_t blockFrames;
    LamePtr firstEncoder;

    // Input not yet sent: interleaved, starting at sample frame incomingStart of the stream.
    std::vector<std::int16_t> incoming;
    std::size_t incomingStart = 0;
    std::size_t nextBlock = 0;
    bool started = false;

    // What the Info tag needs, gathered as the frames are put out.
    mpeg::SeekTable seek;
    std::uint32_t streamBytes = 0;
    std::uint16_t musicCrc = 0;
    int padding = 0;
    std::vector<std::uint8_t> tagFrame;

    // Last, so its workers stop before what they use goes.
    OrderedBlocks<Block> blocks;
};

}  // namespace lameenc
