// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Decoder.h"

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace join {

// One read of a decoded row: the bytes and the stream's position and length after it.
struct DecodedBlock {
    std::vector<char> bytes;
    std::uint64_t position = 0;
    std::uint64_t length = 0;
};

// A decoded row (MP3, WMA, other media) opened and decoded on a worker thread, by blocks as the job's
// loop would read them: the job converts and writes one block while the next is decoded, and a row
// started before its turn decodes beside the row before it. The worker keeps at most limit bytes
// ahead of the job and waits there.
class DecodeAhead {
public:
    static constexpr std::size_t kLimit = 8 * 1024 * 1024;
    // Blocks the worker decodes before it wakes a job waiting for them.
    static constexpr std::size_t kWakeBlocks = 8;
    // What a row whose turn has come keeps in hand.
    static constexpr std::size_t kTurnLimit = 4 * 1024 * 1024;

    DecodeAhead(const QString& path, audio::OpenFunction open, std::size_t blockBytes,
                std::size_t limit = kLimit);
    // Stops the worker after the block it is reading and frees the stream.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    const QString& Path() const { return path_; }
    // Lets the worker keep no more than limit bytes ahead from now on: the row whose turn has come
    // needs only a few blocks in hand, not the lead of a row decoded beside the one before it.
    void LowerLimit(std::size_t limit);
    // Whether the row opened; waits for the worker to have tried.
    bool Opened();
    // The next block of the row into block, waiting for the worker; false after the last. The bytes
    // block held are taken back for a later block.
    bool Next(DecodedBlock& block);

private:
    void Run();
    void Decode();
    // Reads one block from the stream; false at its end.
    bool Read(DecodedBlock& block);

    const QString path_;
    const audio::OpenFunction open_;
    const std::size_t blockBytes_;
    audio::StreamHandle stream_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_, while the worker runs.
    bool tried_ = false;
    bool finished_ = false;
    bool stop_ = false;
    std::deque<DecodedBlock> blocks_;
    std::vector<std::vector<char>> spares_;
    std::size_t held_ = 0;
    std::size_t limit_;

    bool threaded_ = false;
    std::thread worker_;
};

}  // namespace join
