// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Decoder.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace join {

// One read of a decoded row: the bytes and the stream's position and length after it.
struct DecodedBlock {
    std::vector<char> bytes;
    std::uint64_t position = 0;
    std::uint64_t length = 0;
};

// A decoded row (MP3, WMA, other media) opened and decoded on a worker thread, read by blocks as the job's
// loop reads it, while the job works on the rows before it: on two cores the rows decode side by side. The
// worker stops at the end of the row or after limit bytes; the job takes the stream over from there.
class DecodeAhead {
public:
    static constexpr std::size_t kLimit = 32 * 1024 * 1024;

    struct Taken {
        audio::StreamHandle stream = 0;  // 0: the row could not be opened
        std::vector<DecodedBlock> blocks;
    };

    DecodeAhead(const QString& path, audio::OpenFunction open, std::size_t blockBytes,
                std::size_t limit = kLimit);
    // Stops the worker and frees the stream unless it was taken over.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    const QString& Path() const { return path_; }
    // True once the worker has stopped by itself: at the end of the row, at the limit, or when the
    // row could not be opened.
    bool Finished() const { return finished_; }
    // Stops the worker after the block it is reading and hands over the stream, positioned after
    // the blocks read so far; the caller frees it. Once only.
    Taken TakeOver();

private:
    void Run();
    void Decode();

    const QString path_;
    const audio::OpenFunction open_;
    const std::size_t blockBytes_;
    const std::size_t limit_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    // The worker's until it has stopped.
    Taken taken_;
    std::thread worker_;
};

}  // namespace join
