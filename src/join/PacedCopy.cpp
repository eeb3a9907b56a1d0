// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/PacedCopy.h"

#include "join/JoinHost.h"
#include "join/WavOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace join {

CopyPace::CopyPace(qint64 frameBytes) : frameBytes_(frameBytes), chunk_(Whole(kWavCopyBlock)) {}

void CopyPace::Finish() {
    const qint64 ms = clock_.elapsed();
    if (ms < kFastMs) {
        chunk_ = Whole(std::min(chunk_ * 2, kMaxChunk));
    } else if (ms > kSlowMs) {
        chunk_ = Whole(std::max<qint64>(chunk_ / 2, kWavCopyBlock));
    }
}

qint64 CopyPace::Whole(qint64 bytes) const {
    return std::max(frameBytes_, bytes / frameBytes_ * frameBytes_);
}

qint64 ByteMover::Move(qint64 size, Fault& fault) {
    qint64 done = 0;
    while (done < size && fault == Fault::None) {
        const qint64 moved = kernelCopy_ ? KernelCopy(size - done, fault) : ReadWrite(size - done, fault);
        if (moved == 0 && fault == Fault::None && !retry_) {
            break;
        }
        retry_ = false;
        done += moved;
    }
    return done;
}

qint64 ByteMover::KernelCopy(qint64 size, Fault& fault) {
    const ssize_t moved = copy_file_range(in_, nullptr, out_, nullptr, static_cast<std::size_t>(size), 0);
    if (moved >= 0) {
        return moved;
    }
    retry_ = true;
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) {
        fault = Fault::Write;
    } else if (errno != EINTR) {
        // Unsupported between these files, or an error of either side: reads and writes take over
        // and, on an error, tell which side it was.
        kernelCopy_ = false;
    }
    return 0;
}

qint64 ByteMover::ReadWrite(qint64 size, Fault& fault) {
    buffer_.resize(kBuffer);
    const ssize_t got = read(in_, buffer_.data(), static_cast<std::size_t>(std::min(size, kBuffer)));
    if (got < 0) {
        retry_ = errno == EINTR;
        fault = retry_ ? Fault::None : Fault::Read;
        return 0;
    }
    qint64 written = 0;
    while (written < got) {
        const ssize_t put = write(out_, buffer_.data() + written, static_cast<std::size_t>(got - written));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            fault = Fault::Write;
            break;
        }
        written += put;
    }
    return written;
}

PacedCopyResult PacedCopy(int in, int out, qint64 size, qint64 frameBytes, JoinHost& host,
                          const std::function<void(qint64 moved)>& progress) {
    PacedCopyResult result;
    CopyPace pace(frameBytes);
    ByteMover mover(in, out);
    while (result.fault == ByteMover::Fault::None && result.moved < size) {
        pace.Start();
        const qint64 count = mover.Move(std::min(pace.Chunk(), size - result.moved), result.fault);
        result.moved += count;
        if (count == 0) {
            break;
        }
        progress(result.moved);
        host.ProcessMessages();
        if (host.Terminated()) {
            result.terminated = true;
            break;
        }
        pace.Finish();
    }
    return result;
}

MoveResult MoveWithinFile(int fd, qint64 from, qint64 size, qint64 shift, int frameBytes, JoinHost& host) {
    CopyPace pace(std::max(frameBytes, 1));
    std::vector<char> buffer;
    qint64 moved = 0;
    while (moved < size) {
        const qint64 chunk = std::min(pace.Chunk(), size - moved);
        const qint64 at = shift > 0 ? from + size - moved - chunk : from + moved;
        buffer.resize(static_cast<std::size_t>(chunk));
        pace.Start();
        if (pread(fd, buffer.data(), static_cast<std::size_t>(chunk), at) != chunk ||
            pwrite(fd, buffer.data(), static_cast<std::size_t>(chunk), at + shift) != chunk) {
            return MoveResult::Failed;
        }
        pace.Finish();
        moved += chunk;
        host.SetOutputProgress(
            static_cast<int>(static_cast<double>(moved) * 100.0 / static_cast<double>(size)));
        host.ProcessMessages();
        if (host.Terminated()) {
            return MoveResult::Terminated;
        }
    }
    return MoveResult::Done;
}

}  // namespace join
