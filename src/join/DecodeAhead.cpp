// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/DecodeAhead.h"

#include <system_error>
#include <utility>

namespace join {

DecodeAhead::DecodeAhead(const QString& path, audio::OpenFunction open, std::size_t blockBytes,
                         std::size_t limit)
    : path_(path), open_(open), blockBytes_(blockBytes), limit_(limit) {
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to spare: the row is only opened here, and the job decodes all of it.
        stop_ = true;
        Run();
    }
}

DecodeAhead::~DecodeAhead() {
    const Taken left = TakeOver();
    if (left.stream != 0) {
        audio::FreeStream(left.stream);
    }
}

DecodeAhead::Taken DecodeAhead::TakeOver() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
    return std::exchange(taken_, Taken{});
}

void DecodeAhead::Run() {
    // An exception must not end the program from this thread: the job reads on from where the
    // worker stopped, or shows that the row could not be opened.
    try {
        Decode();
    } catch (...) {
    }
    finished_ = true;
}

void DecodeAhead::Decode() {
    taken_.stream = open_(false, path_, 0, 0, audio::STREAM_DECODE);
    if (taken_.stream == 0) {
        return;
    }
    std::size_t held = 0;
    std::vector<DecodedBlock>& blocks = taken_.blocks;
    while (!stop_ && held < limit_ && audio::IsStreamActive(taken_.stream) != 0) {
        // Everything that can fail to allocate comes before the read, so nothing read is lost.
        DecodedBlock block;
        block.bytes.resize(blockBytes_);
        if (blocks.size() == blocks.capacity()) {
            blocks.reserve(2 * blocks.size() + 16);
        }
        const std::uint32_t got =
            audio::ReadStreamData(taken_.stream, block.bytes.data(), static_cast<std::uint32_t>(blockBytes_));
        block.bytes.resize(got);
        block.position = audio::GetStreamPosition(taken_.stream, audio::POS_BYTE);
        block.length = audio::GetStreamLength(taken_.stream, audio::POS_BYTE);
        blocks.push_back(std::move(block));
        held += got;
    }
}

}  // namespace join
