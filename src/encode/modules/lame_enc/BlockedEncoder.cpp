// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockedEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lameenc {
namespace {

// Frames of the preceding audio each block's encoder hears before its first frame: enough for
// its filter bank and psychoacoustic model to settle where a single encoder would be.
constexpr std::size_t kLeadInFrames = 16;
// LAME encodes a frame once 224 samples past its end have arrived (576 + 1152 + 224 with its
// 528 samples of start padding), so feeding exactly that many finishes every frame up to a
// block boundary and none beyond it.
constexpr std::size_t kLookahead = 224;
// Samples per channel handed to LAME at once.
constexpr std::size_t kPiece = 4608;

bool Feed(lame_global_flags* lame, int channels, const std::int16_t* pcm, std::size_t frames,
          std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> buffer(kPiece * 5 / 4 + 7200);
    for (std::size_t at = 0; at < frames; at += kPiece) {
        const int n = static_cast<int>(std::min(kPiece, frames - at));
        const std::int16_t* p = pcm + at * static_cast<std::size_t>(channels);
        const int size = static_cast<int>(buffer.size());
        const int written = channels == 1 ? lame_encode_buffer(lame, p, p, n, buffer.data(), size)
                                          : lame_encode_buffer_interleaved(lame, const_cast<short*>(p), n,
                                                                           buffer.data(), size);
        if (written < 0) {
            return false;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + written);
    }
    return true;
}

// Ends the encoder's output: the last block pads and finishes the stream, the others only drain
// the bit reservoir into their last frame, so the next block can start with it empty.
bool Flush(lame_global_flags* lame, bool last, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> buffer(kPiece * 5 / 4 + 7200);
    const int size = static_cast<int>(buffer.size());
    const int written = last ? lame_encode_flush(lame, buffer.data(), size)
                             : lame_encode_flush_nogap(lame, buffer.data(), size);
    if (written < 0) {
        return false;
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + written);
    return true;
}

}  // namespace

struct BlockedEncoder::Block {
    // Interleaved input: leadInFrames sample frames of the block before, the block, then at least
    // kLookahead frames of the next one unless it is the last.
    std::vector<std::int16_t> pcm;
    std::size_t leadInFrames = 0;
    std::size_t frames = 0;  // the block's MP3 frames, when not the last
    bool first = false;
    bool last = false;
    LamePtr encoder;

    std::vector<std::uint8_t> bytes;
    std::vector<mpeg::FrameHeader> headers;
    std::vector<std::uint8_t> tag;
    int padding = 0;
    bool ok = false;
    bool done = false;  // under the mutex
};

bool Output::Append(const std::uint8_t* bytes, std::size_t size) {
    if (size > capacity - used) {
        return false;
    }
    if (size > 0) {
        std::memcpy(data + used, bytes, size);
    }
    used += size;
    return true;
}

int WorkerCount() {
    return WorkerThreads("WAVESTITCH_MP3_THREADS");
}

int BlockFrames() {
    return std::clamp(EnvInt("WAVESTITCH_MP3_BLOCK_FRAMES", 384), 8, 1024);
}

// Runs on a worker. Every block but the first starts with its lead-in, whose frames are dropped
// after the reservoir is drained, so the block's own first frame takes nothing from before it.
bool BlockedEncoder::Encode(const EncoderSettings& settings, Block& block) {
    LamePtr lame = block.first ? std::move(block.encoder) : CreateEncoder(settings, false);
    if (!lame) {
        return false;
    }
    const auto channels = static_cast<std::size_t>(settings.channels);
    const std::size_t frames = block.pcm.size() / channels;
    std::size_t at = 0;
    if (block.leadInFrames > 0) {
        std::vector<std::uint8_t> dropped;
        at = std::min(frames, block.leadInFrames + kLookahead);
        if (!Feed(lame.get(), settings.channels, block.pcm.data(), at, dropped) ||
            !Flush(lame.get(), false, dropped)) {
            return false;
        }
        const auto leadIn = mpeg::ScanFrames(dropped.data(), dropped.size());
        if (!leadIn || leadIn->size() != block.leadInFrames / static_cast<std::size_t>(settings.frameSize)) {
            return false;
        }
    }
    if (!Feed(lame.get(), settings.channels, block.pcm.data() + at * channels, frames - at, block.bytes) ||
        !Flush(lame.get(), block.last, block.bytes)) {
        return false;
    }
    block.pcm = {};
    if (block.last) {
        block.padding = lame_get_encoder_padding(lame.get());
    }
    if (block.first) {
        block.tag = LameTagFrame(lame.get());
    }
    auto headers = mpeg::ScanFrames(block.bytes.data(), block.bytes.size());
    if (!headers) {
        return false;
    }
    const std::size_t tagFrames = block.tag.empty() ? 0 : 1;
    if ((!block.last && headers->size() != block.frames + tagFrames) ||
        (tagFrames == 1 &&
         (headers->empty() || headers->front().bytes != static_cast<int>(block.tag.size()))) ||
        (block.leadInFrames > 0 && !headers->empty() &&
         mpeg::MainDataBegin(block.bytes.data(), headers->front()) != 0)) {
        return false;
    }
    block.headers = std::move(*headers);
    return true;
}

BlockedEncoder::BlockedEncoder(const EncoderSettings& settings_, LamePtr first, int threads_,
                               int blockFrames_, std::vector<std::uint8_t> ownTag)
    : settings(settings_),
      blockFrames(static_cast<std::size_t>(blockFrames_)),
      firstEncoder(std::move(first)),
      tagFrame(std::move(ownTag)),
      blocks(threads_, [this](Block& block) { return Encode(settings, block); }) {}

BlockedEncoder::~BlockedEncoder() = default;

std::uint32_t BlockedEncoder::OutputBufferSize(const EncoderSettings& settings, int threads,
                                               int blockFrames) {
    // Finish puts out every block in flight, the last one and the frames its flush adds; a short
    // stream encoded whole at the end is smaller than that.
    const std::uint64_t frames =
        static_cast<std::uint64_t>(2 * threads + 2) * static_cast<std::uint64_t>(blockFrames + 3);
    return static_cast<std::uint32_t>(frames * static_cast<std::uint64_t>(settings.maxFrameBytes) + 7200);
}

std::size_t BlockedEncoder::BlockStart(std::size_t index) const {
    return index * blockFrames * static_cast<std::size_t>(settings.frameSize);
}

bool BlockedEncoder::Add(const std::int16_t* samples, std::size_t count, Output& output) {
    incoming.insert(incoming.end(), samples, samples + count);
    return Dispatch(output) && Collect(output, false);
}

bool BlockedEncoder::Finish(Output& output) {
    if (incoming.size() % static_cast<std::size_t>(settings.channels) != 0) {
        // The lone left sample gets a silent right one rather than being dropped.
        incoming.push_back(0);
    }
    // A stream that never reached two blocks is encoded whole, here, like a one-thread encode.
    return SendBlock(true, output) && Collect(output, true);
}

std::vector<std::uint8_t> BlockedEncoder::InfoTag() const {
    std::vector<std::uint8_t> tag = tagFrame;
    mpeg::StreamTotals totals;
    totals.seek = &seek;
    totals.bytes = streamBytes;
    totals.musicCrc = musicCrc;
    totals.padding = padding;
    if (!tag.empty() && !mpeg::PatchInfoTag(tag, totals)) {
        tag.clear();
    }
    return tag;
}

// Sends every block whose input is complete. Splitting only starts once the stream is two blocks
// long; a shorter one would gain nothing from it.
bool BlockedEncoder::Dispatch(Output& output) {
    const auto channels = static_cast<std::size_t>(settings.channels);
    for (;;) {
        const std::size_t received = incomingStart + incoming.size() / channels;
        const std::size_t needed = BlockStart(started ? nextBlock + 1 : 2) + kLookahead;
        if (received < needed) {
            return true;
        }
        if (!started) {
            started = true;
            blocks.StartWorkers();
        }
        if (!SendBlock(false, output)) {
            return false;
        }
    }
}

bool BlockedEncoder::SendBlock(bool last, Output& output) {
    const auto channels = static_cast<std::size_t>(settings.channels);
    auto block = std::make_shared<Block>();
    block->first = nextBlock == 0;
    block->last = last;
    block->leadInFrames = BlockStart(nextBlock) - incomingStart;
    block->frames = blockFrames;
    if (block->first) {
        block->encoder = std::move(firstEncoder);
    }
    if (last) {
        block->pcm = std::move(incoming);
        incoming = {};
    } else {
        const std::size_t next = BlockStart(nextBlock + 1);
        const std::size_t nextFrom =
            next - std::min(next, kLeadInFrames * static_cast<std::size_t>(settings.frameSize));
        std::vector<std::int16_t> tail(
            incoming.begin() + static_cast<std::ptrdiff_t>((nextFrom - incomingStart) * channels),
            incoming.end());
        block->pcm = std::move(incoming);
        block->pcm.resize((next + kLookahead - incomingStart) * channels);
        incoming = std::move(tail);
        incoming.reserve(
            (BlockStart(1) + (kLeadInFrames + 2) * static_cast<std::size_t>(settings.frameSize)) * channels);
        incomingStart = nextFrom;
    }
    ++nextBlock;
    while (blocks.Full()) {
        if (!TakeFront(output)) {
            return false;
        }
    }
    blocks.Send(block);
    return true;
}

bool BlockedEncoder::Collect(Output& output, bool wait) {
    while (!blocks.Empty()) {
        if (!wait && !blocks.FrontDone()) {
            return true;
        }
        if (!TakeFront(output)) {
            return false;
        }
    }
    return true;
}

// Waits for the oldest block, puts its frames out and counts them for the Info tag.
bool BlockedEncoder::TakeFront(Output& output) {
    const std::shared_ptr<Block> block = blocks.TakeFront();
    if (!block->ok) {
        if (block->first) {
            // Without its start the stream has no place for a tag.
            tagFrame.clear();
        }
        return false;
    }
    std::size_t skipFrames = 0;
    std::size_t skipBytes = 0;
    if (block->first && !block->tag.empty()) {
        // The reserved tag frame is not music: it is neither counted nor in the music CRC.
        tagFrame = std::move(block->tag);
        skipFrames = 1;
        skipBytes = tagFrame.size();
    } else if (block->first && !tagFrame.empty()) {
        // Our own tag frame: its placeholder goes before the music.
        const std::vector<std::uint8_t> placeholder = mpeg::TagPlaceholder(tagFrame);
        if (!output.Append(placeholder.data(), placeholder.size())) {
            return false;
        }
        streamBytes += static_cast<std::uint32_t>(placeholder.size());
    }
    if (!output.Append(block->bytes.data(), block->bytes.size())) {
        return false;
    }
    for (std::size_t i = skipFrames; i < block->headers.size(); ++i) {
        seek.Add(block->headers[i].kbps);
    }
    musicCrc = mpeg::Crc16(block->bytes.data() + skipBytes, block->bytes.size() - skipBytes, musicCrc);
    streamBytes += static_cast<std::uint32_t>(block->bytes.size());
    if (block->last) {
        padding = block->padding;
    }
    return true;
}

}  // namespace lameenc
