// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FfmpegHandles.h"
#include "encode/WmaWriterApi.h"
#include "encode/modules/OrderedBlocks.h"

#include <cstdint>
#include <functional>
#include <vector>

// One WMA stream encoded in blocks of codec frames on a pool of worker threads. Each block after
// the first goes to a fresh encoder that first hears the frame before the block, whose packet is
// dropped, so every block's packets are the ones a single encoder makes. The caller feeds whole
// frames from one thread and gets the packets back in stream order.
namespace wmaudsdk {

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

// Worker threads for a stream: one per core, at most 8; WAVESTITCH_WMA_THREADS overrides it for
// tests and benchmarks. Below 2 the writer encodes on the caller's thread.
int WorkerCount();
// Codec frames per block; WAVESTITCH_WMA_BLOCK_FRAMES overrides it for tests.
int BlockFrames();

class BlockedEncoder {
public:
    // Puts one packet, in the encoder's time base, into the file; false when that failed.
    using PacketWriter = std::function<bool(AVPacket*)>;

    // first: the stream's own encoder, which encodes its first block (or all of a short stream).
    BlockedEncoder(const EncoderSettings& settings, AVCodecContext* first, int threads, int blockFrames,
                   PacketWriter writer);
    ~BlockedEncoder();
    BlockedEncoder(const BlockedEncoder&) = delete;
    BlockedEncoder& operator=(const BlockedEncoder&) = delete;

    // Takes every whole frame the FIFO holds and writes the packets that are finished. False when
    // an encoder or a write failed.
    bool Add(AVAudioFifo* fifo);
    // Encodes what is left (whole frames only) and writes the rest of the packets.
    bool Finish();

private:
    struct Block;

    static bool Encode(const EncoderSettings& settings, int frameSize, Block& block);
    std::size_t IncomingFrames() const;
    bool Dispatch();
    bool SendBlock(bool last);
    bool Collect(bool wait);
    bool TakeFront();

    const EncoderSettings settings_;
    AVCodecContext* const firstEncoder_;
    const int frameSize_;
    const std::size_t blockFrames_;
    const PacketWriter writer_;

    // Frames not yet sent, per channel, starting at codec frame incomingStart_ of the stream.
    std::vector<std::vector<float>> incoming_;
    std::size_t incomingStart_ = 0;
    std::size_t nextBlock_ = 0;
    bool started_ = false;

    // Last, so its workers stop before what they use goes.
    OrderedBlocks<Block> blocks_;
};

}  // namespace wmaudsdk
