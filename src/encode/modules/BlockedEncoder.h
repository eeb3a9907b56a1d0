// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/FfmpegOwners.h"
#include "encode/modules/OrderedBlocks.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// One stream of an FFmpeg encoder taking float, planar or interleaved, encoded in blocks of codec frames on a
// pool of worker threads. Each block after the first goes to a fresh encoder that first hears the frames
// before the block (and, for an encoder that looks ahead, the frames after it), whose packets are
// dropped, so every block's packets join the next block's as a single encoder's do. The caller feeds
// whole frames from one thread and gets the packets back in stream order (Add, Finish), or, for a
// stream that can be read anywhere, has the workers read their blocks themselves (EncodeWhole). The
// WMA writer module and the join's Opus and M4B outputs share it.
namespace blocked {

// A stream whose samples are all there before the encoding starts, such as a file's.
struct WholeStream {
    std::size_t samples = 0;  // per channel
    // Reads samples frames from sample from on into the planes; false when that failed. The workers
    // call it, several at once.
    std::function<bool(void** planes, std::size_t from, int samples)> read;
    // Told the samples encoded so far, on the caller's thread, some ten times a second; false cancels.
    std::function<bool(std::size_t samples)> progress;
};

enum class WholeResult { Done, ReadFailed, Failed, Cancelled };

struct BlockPlan {
    // Opens a fresh encoder with the settings of the stream's own; null when it cannot.
    std::function<ffmpeg::CodecContextPtr()> open;
    int channels = 2;
    // The encoder takes its channels interleaved in one plane (libopus) rather than a plane each.
    bool interleaved = false;
    // Codec frames a fresh encoder hears before its block: enough for the state it carries from
    // frame to frame (the transform's overlap, a psychoacoustic model).
    std::size_t leadInFrames = 1;
    // Codec frames it hears after its block, for an encoder whose packet for a frame needs the next.
    std::size_t leadOutFrames = 0;
};

class BlockedEncoder {
public:
    // Puts one packet, in the encoder's time base, into the file; false when that failed.
    using PacketWriter = std::function<bool(AVPacket*)>;
    // Reads samples frames into the planes (one per channel, or one of interleaved channels); false
    // when that failed.
    using Reader = std::function<bool(void** planes, int samples)>;

    // first: the stream's own encoder, which encodes its first block (or all of a short stream).
    // blockFrames: the codec frames of a block that Add makes, or the most of one that EncodeWhole makes.
    BlockedEncoder(BlockPlan plan, AVCodecContext* first, int threads, int blockFrames, PacketWriter writer);
    ~BlockedEncoder();
    BlockedEncoder(const BlockedEncoder&) = delete;
    BlockedEncoder& operator=(const BlockedEncoder&) = delete;

    // Takes the whole frames of the available samples through read and writes the packets that are
    // finished. False when an encoder or a write failed.
    bool Add(int available, const Reader& read);
    // Encodes what is left, and a last short frame of tailSamples read through read (for an encoder
    // that takes one), and writes the rest of the packets.
    bool Finish(int tailSamples = 0, const Reader& read = {});

    // Encodes the whole stream instead, in as few blocks as keep every worker busy, and writes the
    // packets; the oldest block's as they come, so a single encoder holds none of them.
    WholeResult EncodeWhole(const WholeStream& stream);

private:
    struct Block;

    bool Encode(Block& block);
    WholeResult AwaitFront(const WholeStream& stream);
    WholeResult Stop(WholeResult result);
    std::vector<void*> Grow(int samples);
    std::size_t IncomingFrames() const;
    bool Dispatch();
    bool SendBlock(bool last);
    bool Collect(bool wait);
    bool TakeFront();

    const BlockPlan plan_;
    AVCodecContext* const firstEncoder_;
    const int frameSize_;
    // Floats a sample takes in a plane: the channels when they are interleaved, else one.
    const std::size_t width_;
    const std::size_t blockFrames_;
    const int threads_;
    const PacketWriter writer_;

    // EncodeWhole's stream, which the workers read, and what they have encoded of it.
    const WholeStream* whole_ = nullptr;
    std::atomic<std::size_t> encoded_{0};
    // Set when EncodeWhole gives up, so the workers stop at their next piece.
    std::atomic<bool> stop_{false};

    // Frames not yet sent, per plane, starting at codec frame incomingStart_ of the stream.
    std::vector<std::vector<float>> incoming_;
    std::size_t incomingStart_ = 0;
    std::size_t nextBlock_ = 0;
    bool started_ = false;

    // Last, so its workers stop before what they use goes.
    OrderedBlocks<Block> blocks_;
};

}  // namespace blocked
