// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/DecodeAhead.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace join {

DecodeAhead::DecodeAhead(const QString& path, audio::OpenFunction open, std::size_t blockBytes,
                         std::size_t limit)
    : path_(path), open_(open), blockBytes_(blockBytes), limit_(limit) {
    try {
        worker_ = std::thread([this] { Run(); });
        threaded_ = true;
    } catch (const std::system_error&) {
        // No thread to spare: the row is opened here, and Next decodes each block when asked.
        stream_ = open_(false, path_, 0, 0, audio::STREAM_DECODE);
        tried_ = true;
    }
}

DecodeAhead::~DecodeAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    if (stream_ != 0) {
        audio::FreeStream(stream_);
    }
}

void DecodeAhead::LowerLimit(std::size_t limit) {
    const std::lock_guard<std::mutex> lock(mutex_);
    limit_ = std::min(limit_, limit);
}

bool DecodeAhead::Opened() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return tried_; });
    return stream_ != 0;
}

bool DecodeAhead::Next(DecodedBlock& block) {
    if (!threaded_) {
        return stream_ != 0 && Read(block);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // The block given back is the worker's to fill again, without allocating.
    if (block.bytes.capacity() >= blockBytes_ && spares_.size() < kWakeBlocks) {
        spares_.push_back(std::move(block.bytes));
    }
    changed_.wait(lock, [this] { return !blocks_.empty() || finished_; });
    if (blocks_.empty()) {
        return false;
    }
    block = std::move(blocks_.front());
    blocks_.pop_front();
    held_ -= block.bytes.size();
    // A worker waiting at its limit goes on once half of it is free: not woken for every block.
    const bool wake = held_ <= limit_ / 2;
    lock.unlock();
    if (wake) {
        changed_.notify_all();
    }
    return true;
}

bool DecodeAhead::Read(DecodedBlock& block) {
    if (audio::IsStreamActive(stream_) == 0) {
        return false;
    }
    block.bytes.resize(blockBytes_);
    const std::uint32_t got =
        audio::ReadStreamData(stream_, block.bytes.data(), static_cast<std::uint32_t>(blockBytes_));
    block.bytes.resize(got);
    block.position = audio::GetStreamPosition(stream_, audio::POS_BYTE);
    block.length = audio::GetStreamLength(stream_, audio::POS_BYTE);
    return true;
}

void DecodeAhead::Run() {
    // An exception must not end the program from this thread: the row ends where the worker
    // stopped, or shows that it could not be opened.
    try {
        Decode();
    } catch (...) {
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        tried_ = true;
        finished_ = true;
    }
    changed_.notify_all();
}

void DecodeAhead::Decode() {
    const audio::StreamHandle stream = open_(false, path_, 0, 0, audio::STREAM_DECODE);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stream_ = stream;
        tried_ = true;
    }
    changed_.notify_all();
    if (stream == 0) {
        return;
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (held_ >= limit_ && !blocks_.empty()) {
                changed_.wait(lock, [this] { return stop_ || held_ <= limit_ / 2 || blocks_.empty(); });
            }
            if (stop_) {
                return;
            }
        }
        DecodedBlock block;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!spares_.empty()) {
                block.bytes = std::move(spares_.back());
                spares_.pop_back();
            }
        }
        if (!Read(block)) {
            return;
        }
        bool wake = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            held_ += block.bytes.size();
            blocks_.push_back(std::move(block));
            // The job, when it waits, is woken for a few blocks at a time.
            wake = blocks_.size() >= kWakeBlocks || held_ >= limit_;
        }
        if (wake) {
            changed_.notify_all();
        }
    }
}

}  // namespace join
