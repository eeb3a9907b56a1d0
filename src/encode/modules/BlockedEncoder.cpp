// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/modules/BlockedEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

namespace blocked {
namespace {

// Codec frames a worker reads of its block at a time, for EncodeWhole.
constexpr std::size_t kPieceFrames = 16;

void KeepSamples(void* /*opaque*/, std::uint8_t* /*data*/) {}

// Makes frame the frameSize samples at from of the block's planes without copying them: the planes
// outlive the encode, so their buffers free nothing.
bool PointFrameAt(const AVCodecContext& codec, const std::vector<std::vector<float>>& planes,
                  std::size_t from, int frameSize, std::size_t width, AVFrame* frame) {
    frame->nb_samples = frameSize;
    frame->format = codec.sample_fmt;
    frame->sample_rate = codec.sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &codec.ch_layout) < 0) {
        return false;
    }
    const int bytes = frameSize * static_cast<int>(width * sizeof(float));
    frame->linesize[0] = bytes;
    for (std::size_t c = 0; c < planes.size(); ++c) {
        auto* data = reinterpret_cast<std::uint8_t*>(const_cast<float*>(planes[c].data() + from));
        frame->buf[c] = av_buffer_create(data, static_cast<std::size_t>(bytes), KeepSamples, nullptr,
                                         AV_BUFFER_FLAG_READONLY);
        if (frame->buf[c] == nullptr) {
            return false;
        }
        frame->data[c] = data;
    }
    frame->extended_data = frame->data;
    return true;
}

}  // namespace

struct BlockedEncoder::Block {
    // Per channel: leadInFrames codec frames of the block before, the block's own, then
    // leadOutFrames of the block after, or for the last block a short frame of tailSamples.
    std::vector<std::vector<float>> pcm;
    std::size_t startFrame = 0;  // of the first lead-in frame, in the stream
    std::size_t leadInFrames = 0;
    std::size_t frames = 0;  // the block's own
    std::size_t leadOutFrames = 0;
    std::size_t tailSamples = 0;
    bool last = false;
    AVCodecContext* encoder = nullptr;  // the stream's own for the first block; otherwise a fresh one

    // The block's packets not yet taken, under packetsMutex: EncodeWhole takes the oldest block's
    // while it is encoded.
    std::mutex packetsMutex;
    std::vector<ffmpeg::PacketPtr> packets;
    std::size_t kept = 0;  // packets kept, taken or not
    bool readFailed = false;
    bool ok = false;
    bool done = false;  // under the pool's mutex
};

namespace {

// Moves the packets the encoder has finished into the block's, dropping those outside [keepFrom, keepUntil).
bool ReceivePackets(AVCodecContext* codec, AVPacket* packet, std::int64_t keepFrom, std::int64_t keepUntil,
                    std::mutex& mutex, std::vector<ffmpeg::PacketPtr>& packets, std::size_t& kept) {
    for (;;) {
        const int received = avcodec_receive_packet(codec, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            return false;
        }
        if (packet->pts < keepFrom || packet->pts >= keepUntil) {
            av_packet_unref(packet);
            continue;
        }
        ffmpeg::PacketPtr copy(av_packet_alloc());
        if (!copy) {
            return false;
        }
        av_packet_move_ref(copy.get(), packet);
        const std::lock_guard<std::mutex> lock(mutex);
        packets.push_back(std::move(copy));
        ++kept;
    }
}

}  // namespace

// Runs on a worker, or on the caller's thread for a stream too short to split. Frames carry their
// place in the stream as their time stamp, so the packets' stamps come out as one encoder's. Under
// EncodeWhole the block's samples are read a piece at a time, and its own frames counted as encoded.
bool BlockedEncoder::Encode(Block& block) {
    ffmpeg::CodecContextPtr own;
    AVCodecContext* codec = block.encoder;
    if (codec == nullptr) {
        own = plan_.open();
        if (!own) {
            return false;
        }
        codec = own.get();
    }
    const ffmpeg::FramePtr frame(av_frame_alloc());
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        return false;
    }
    const auto size = static_cast<std::size_t>(frameSize_);
    const std::int64_t keepFrom =
        static_cast<std::int64_t>((block.startFrame + block.leadInFrames) * size) - codec->initial_padding;
    const std::int64_t keepUntil = block.last ? std::numeric_limits<std::int64_t>::max()
                                              : keepFrom + static_cast<std::int64_t>(block.frames * size);
    const std::size_t frames = block.leadInFrames + block.frames + block.leadOutFrames;
    const std::size_t blockSamples = frames * size + block.tailSamples;
    if (whole_ != nullptr) {
        block.pcm.assign(plan_.interleaved ? 1 : static_cast<std::size_t>(plan_.channels),
                         std::vector<float>(kPieceFrames * size * width_));
    }
    std::vector<void*> planes(block.pcm.size());
    for (std::size_t i = 0; i <= frames; ++i) {
        const std::size_t samples = i < frames ? size : block.tailSamples;
        if (samples == 0) {
            break;
        }
        std::size_t at = i * size * width_;
        if (whole_ != nullptr) {
            at = i % kPieceFrames * size * width_;
            if (at == 0) {
                if (stop_) {
                    return false;
                }
                for (std::size_t c = 0; c < planes.size(); ++c) {
                    planes[c] = block.pcm[c].data();
                }
                const std::size_t piece = std::min(kPieceFrames * size, blockSamples - i * size);
                if (!whole_->read(planes.data(), (block.startFrame + i) * size, static_cast<int>(piece))) {
                    block.readFailed = true;
                    return false;
                }
            }
        }
        if (!PointFrameAt(*codec, block.pcm, at, static_cast<int>(samples), width_, frame.get())) {
            return false;
        }
        frame->pts = static_cast<std::int64_t>((block.startFrame + i) * size);
        const int sent = avcodec_send_frame(codec, frame.get());
        av_frame_unref(frame.get());
        if (sent < 0 || !ReceivePackets(codec, packet.get(), keepFrom, keepUntil, block.packetsMutex,
                                        block.packets, block.kept)) {
            return false;
        }
        if (i >= block.leadInFrames && i < block.leadInFrames + block.frames + (block.last ? 1 : 0)) {
            encoded_ += samples;
        }
    }
    if (block.last && (avcodec_send_frame(codec, nullptr) < 0 ||
                       !ReceivePackets(codec, packet.get(), keepFrom, keepUntil, block.packetsMutex,
                                       block.packets, block.kept))) {
        return false;
    }
    block.pcm = {};
    // A block that is not the stream's end hands back one packet for each of its frames, or its
    // packets would not join the next block's.
    return block.last || block.kept == block.frames;
}

BlockedEncoder::BlockedEncoder(BlockPlan plan, AVCodecContext* first, int threads, int blockFrames,
                               PacketWriter writer)
    : plan_(std::move(plan)),
      firstEncoder_(first),
      frameSize_(first->frame_size),
      width_(plan_.interleaved ? static_cast<std::size_t>(plan_.channels) : 1),
      blockFrames_(static_cast<std::size_t>(blockFrames)),
      threads_(threads),
      writer_(std::move(writer)),
      incoming_(plan_.interleaved ? 1 : static_cast<std::size_t>(plan_.channels)),
      blocks_(threads, [this](Block& block) { return Encode(block); }) {}

BlockedEncoder::~BlockedEncoder() = default;

// Makes room for samples more at the end of every plane; where they go.
std::vector<void*> BlockedEncoder::Grow(int samples) {
    std::vector<void*> planes(incoming_.size());
    for (std::size_t c = 0; c < incoming_.size(); ++c) {
        const std::size_t used = incoming_[c].size();
        incoming_[c].resize(used + static_cast<std::size_t>(samples) * width_);
        planes[c] = incoming_[c].data() + used;
    }
    return planes;
}

bool BlockedEncoder::Add(int available, const Reader& read) {
    const int whole = available / frameSize_ * frameSize_;
    if (whole > 0 && !read(Grow(whole).data(), whole)) {
        return false;
    }
    return Dispatch() && Collect(false);
}

bool BlockedEncoder::Finish(int tailSamples, const Reader& read) {
    if (tailSamples > 0 && !read(Grow(tailSamples).data(), tailSamples)) {
        return false;
    }
    // A stream that never reached two blocks is encoded whole, here, like a one-thread encode.
    return SendBlock(true) && Collect(true);
}

std::size_t BlockedEncoder::IncomingFrames() const {
    return incoming_.front().size() / (static_cast<std::size_t>(frameSize_) * width_);
}

// Sends every block whose frames have all arrived. Splitting only starts once the stream is two
// blocks long; a shorter one would gain nothing from it.
bool BlockedEncoder::Dispatch() {
    for (;;) {
        const std::size_t received = incomingStart_ + IncomingFrames();
        const std::size_t needed = (nextBlock_ + 1) * blockFrames_ + plan_.leadOutFrames;
        if (received < std::max(needed, started_ ? 0 : 2 * blockFrames_)) {
            return true;
        }
        if (!started_) {
            started_ = true;
            blocks_.StartWorkers();
        }
        if (!SendBlock(false)) {
            return false;
        }
    }
}

bool BlockedEncoder::SendBlock(bool last) {
    auto block = std::make_shared<Block>();
    block->last = last;
    block->startFrame = incomingStart_;
    block->leadInFrames = nextBlock_ * blockFrames_ - incomingStart_;
    block->frames = last ? IncomingFrames() - block->leadInFrames : blockFrames_;
    block->leadOutFrames = last ? 0 : plan_.leadOutFrames;
    block->tailSamples = last ? incoming_.front().size() / width_ % static_cast<std::size_t>(frameSize_) : 0;
    block->encoder = nextBlock_ == 0 ? firstEncoder_ : nullptr;
    if (last) {
        block->pcm = std::move(incoming_);
        incoming_.assign(block->pcm.size(), {});
    } else {
        const std::size_t end = (nextBlock_ + 1) * blockFrames_;
        const std::size_t nextFrom = end - plan_.leadInFrames;
        const std::size_t size = static_cast<std::size_t>(frameSize_) * width_;
        block->pcm.resize(incoming_.size());
        for (std::size_t c = 0; c < incoming_.size(); ++c) {
            std::vector<float>& samples = incoming_[c];
            std::vector<float> tail;
            tail.reserve((blockFrames_ + plan_.leadInFrames + plan_.leadOutFrames + 8) * size);
            tail.assign(samples.begin() + static_cast<std::ptrdiff_t>((nextFrom - incomingStart_) * size),
                        samples.end());
            samples.resize((end + plan_.leadOutFrames - incomingStart_) * size);
            block->pcm[c] = std::move(samples);
            samples = std::move(tail);
        }
        incomingStart_ = nextFrom;
    }
    ++nextBlock_;
    while (blocks_.Full()) {
        if (!TakeFront()) {
            return false;
        }
    }
    blocks_.Send(block);
    return true;
}

bool BlockedEncoder::Collect(bool wait) {
    while (!blocks_.Empty()) {
        if (!wait && !blocks_.FrontDone()) {
            return true;
        }
        if (!TakeFront()) {
            return false;
        }
    }
    return true;
}

WholeResult BlockedEncoder::EncodeWhole(const WholeStream& stream) {
    whole_ = &stream;
    const auto size = static_cast<std::size_t>(frameSize_);
    const std::size_t frames = stream.samples / size;
    const std::size_t leadIn = std::max<std::size_t>(plan_.leadInFrames, 1);
    // Rounds of a block per worker, each block at most blockFrames_ long, and every block's own
    // frames at least its lead-in. The first block, which has no lead-in, takes as many more frames,
    // so every worker has the same to do.
    std::size_t count = 1;
    if (threads_ > 1 && frames >= 3 * leadIn) {
        const auto workers = static_cast<std::size_t>(threads_);
        const std::size_t rounds = (frames + workers * blockFrames_ - 1) / (workers * blockFrames_);
        count = std::max<std::size_t>(std::min(rounds * workers, frames / leadIn - 1), 2);
    }
    const std::size_t work = (frames + (count - 1) * leadIn + count - 1) / count;
    blocks_.StartWorkers();
    std::size_t from = 0;
    for (std::size_t k = 0; k < count; ++k) {
        auto block = std::make_shared<Block>();
        block->last = k + 1 == count;
        block->leadInFrames = k == 0 ? 0 : leadIn;
        block->startFrame = from - block->leadInFrames;
        block->frames = block->last ? frames - from : work - block->leadInFrames;
        block->leadOutFrames = block->last ? 0 : plan_.leadOutFrames;
        block->tailSamples = block->last ? stream.samples % size : 0;
        block->encoder = k == 0 ? firstEncoder_ : nullptr;
        from += block->frames;
        while (blocks_.Full()) {
            const WholeResult result = AwaitFront(stream);
            if (result != WholeResult::Done) {
                return Stop(result);
            }
        }
        blocks_.Send(block);
    }
    while (!blocks_.Empty()) {
        const WholeResult result = AwaitFront(stream);
        if (result != WholeResult::Done) {
            return Stop(result);
        }
    }
    return WholeResult::Done;
}

// Writes the oldest block's packets as they come, telling the progress meanwhile, until the block
// is done.
WholeResult BlockedEncoder::AwaitFront(const WholeStream& stream) {
    for (;;) {
        const bool done = blocks_.WaitFront(std::chrono::milliseconds(100));
        Block& block = *blocks_.Front();
        std::vector<ffmpeg::PacketPtr> packets;
        {
            const std::lock_guard<std::mutex> lock(block.packetsMutex);
            packets.swap(block.packets);
        }
        for (const ffmpeg::PacketPtr& packet : packets) {
            if (!writer_(packet.get())) {
                return WholeResult::Failed;
            }
        }
        // Asked after every block too, so even a stream done in a moment can be cancelled.
        if (stream.progress && !stream.progress(encoded_)) {
            return WholeResult::Cancelled;
        }
        if (done) {
            break;
        }
    }
    const std::shared_ptr<Block> block = blocks_.TakeFront();
    if (!block->ok) {
        return block->readFailed ? WholeResult::ReadFailed : WholeResult::Failed;
    }
    for (const ffmpeg::PacketPtr& packet : block->packets) {
        if (!writer_(packet.get())) {
            return WholeResult::Failed;
        }
    }
    return WholeResult::Done;
}

WholeResult BlockedEncoder::Stop(WholeResult result) {
    stop_ = true;
    return result;
}

// Waits for the oldest block and writes its packets.
bool BlockedEncoder::TakeFront() {
    const std::shared_ptr<Block> block = blocks_.TakeFront();
    if (!block->ok) {
        return false;
    }
    for (const ffmpeg::PacketPtr& packet : block->packets) {
        if (!writer_(packet.get())) {
            return false;
        }
    }
    return true;
}

}  // namespace blocked
