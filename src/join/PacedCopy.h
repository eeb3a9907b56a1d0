// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <functional>
#include <vector>

namespace join {

class JoinHost;

// Chunk sizes for a copy that still hands the user interface its events about every 50 ms: the
// first chunk is one classic block, later ones grow while they take little time and shrink on a
// slow disk, always whole frames.
class CopyPace {
public:
    explicit CopyPace(qint64 frameBytes);
    qint64 Chunk() const { return chunk_; }
    void Start() { clock_.start(); }
    void Finish();

private:
    static constexpr qint64 kFastMs = 15;
    static constexpr qint64 kSlowMs = 50;
    static constexpr qint64 kMaxChunk = 16 * 1024 * 1024;
    qint64 Whole(qint64 bytes) const;

    qint64 frameBytes_;
    qint64 chunk_;
    QElapsedTimer clock_;
};

// Moves bytes from one descriptor to another at their current offsets: the kernel's copy where
// the two files allow it, else reads and writes. Which side failed is kept, for the message.
class ByteMover {
public:
    enum class Fault { None, Read, Write };
    ByteMover(int in, int out) : in_(in), out_(out) {}
    // Up to size bytes; fewer at the end of the input or when fault is set.
    qint64 Move(qint64 size, Fault& fault);

private:
    qint64 KernelCopy(qint64 size, Fault& fault);
    qint64 ReadWrite(qint64 size, Fault& fault);

    static constexpr qint64 kBuffer = 1024 * 1024;
    int in_;
    int out_;
    bool kernelCopy_ = true;
    bool retry_ = false;
    std::vector<char> buffer_;
};

struct PacedCopyResult {
    qint64 moved = 0;
    ByteMover::Fault fault = ByteMover::Fault::None;
    bool terminated = false;
};

// Copies up to size bytes (whole frames) from in to out at their offsets in paced chunks; after
// each chunk progress gets the bytes moved so far, the host handles its events, and a terminate
// request ends the copy.
PacedCopyResult PacedCopy(int in, int out, qint64 size, qint64 frameBytes, JoinHost& host,
                          const std::function<void(qint64 moved)>& progress);

enum class MoveResult { Done, Terminated, Failed };

// Moves size bytes at from by shift bytes within the file fd (later ones first when moving toward
// the end), in paced chunks of whole frames; the host's output bar tells how far it has come, and
// it handles its events and may end the move.
MoveResult MoveWithinFile(int fd, qint64 from, qint64 size, qint64 shift, int frameBytes, JoinHost& host);

}  // namespace join
