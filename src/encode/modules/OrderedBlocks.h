// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// A positive whole number from the environment variable name, else fallback: the modules' knobs
// for tests and benchmarks.
inline int EnvInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    return *end == '\0' && n > 0 && n < 100000 ? static_cast<int>(n) : fallback;
}

// Worker threads for a stream: one per core, at most 8, unless the variable overrideName says
// otherwise (1 to 16).
inline int WorkerThreads(const char* overrideName) {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(EnvInt(overrideName, std::clamp(cores, 1, 8)), 1, 16);
}

// Blocks of one stream encoded on a pool of worker threads and taken back in the order they were
// sent, for the encoder modules. Block has the flags ok (the encoding succeeded) and done (set
// under the pool's mutex). Without workers (too few threads, or threads that cannot start) every
// block is encoded on the sending thread.
template <typename Block>
class OrderedBlocks {
public:
    using Encode = std::function<bool(Block&)>;

    // A block per worker and one more are held, so memory stays small whatever the stream's length;
    // a second block per worker made nothing faster and held 42 MB more of an M4B output.
    OrderedBlocks(int threads, Encode encode) : threads_(threads), encode_(std::move(encode)) {}
    ~OrderedBlocks() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        workReady_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }
    OrderedBlocks(const OrderedBlocks&) = delete;
    OrderedBlocks& operator=(const OrderedBlocks&) = delete;

    void StartWorkers() {
        try {
            for (int i = 0; i < threads_; ++i) {
                workers_.emplace_back([this] { WorkerLoop(); });
            }
        } catch (...) {
            // With fewer threads, or none, the blocks are encoded all the same (on the caller's thread).
        }
    }

    // Whether the oldest block must be taken before another may be sent.
    bool Full() const { return inFlight_.size() >= static_cast<std::size_t>(threads_ + 1); }
    bool Empty() const { return inFlight_.empty(); }
    bool FrontDone() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return inFlight_.front()->done;
    }

    void Send(const std::shared_ptr<Block>& block) {
        inFlight_.push_back(block);
        if (workers_.empty()) {
            block->ok = encode_(*block);
            block->done = true;
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(block);
        }
        workReady_.notify_one();
    }

    // The oldest block sent and not yet taken.
    const std::shared_ptr<Block>& Front() const { return inFlight_.front(); }
    // Waits up to timeout for the oldest block to finish; whether it has.
    bool WaitFront(std::chrono::milliseconds timeout) {
        const std::shared_ptr<Block> block = inFlight_.front();
        std::unique_lock<std::mutex> lock(mutex_);
        return blockDone_.wait_for(lock, timeout, [&] { return block->done; });
    }

    // Waits for the oldest block and hands it over.
    std::shared_ptr<Block> TakeFront() {
        const std::shared_ptr<Block> block = inFlight_.front();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            blockDone_.wait(lock, [&] { return block->done; });
        }
        inFlight_.pop_front();
        return block;
    }

private:
    void WorkerLoop() {
        for (;;) {
            std::shared_ptr<Block> block;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                workReady_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) {
                    return;
                }
                block = queue_.front();
                queue_.pop_front();
            }
            // An exception must not end the thread (and the program): the block fails instead.
            bool ok = false;
            try {
                ok = encode_(*block);
            } catch (...) {
                ok = false;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                block->ok = ok;
                block->done = true;
            }
            blockDone_.notify_all();
        }
    }

    const int threads_;
    const Encode encode_;
    // Blocks sent and not yet taken, in stream order.
    std::deque<std::shared_ptr<Block>> inFlight_;

    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable blockDone_;
    std::deque<std::shared_ptr<Block>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
