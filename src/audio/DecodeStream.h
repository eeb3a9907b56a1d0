// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/AvxState.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace audio::detail {

// One open stream of the decoding layer: decoded interleaved PCM handed out in whole sample frames,
// signed 16-bit unless the stream is made with other bits (24 packed, 32) or as 32-bit float. Subclasses only
// produce blocks of PCM; this class keeps the position, the length and the end-of-stream state the callers
// rely on. A stream is used by one thread at a time.
class DecodeStream {
public:
    DecodeStream(std::uint32_t rate, std::uint32_t chans, std::uint32_t ctype, std::uint64_t lengthBytes,
                 bool lengthIsExact, std::uint32_t bits = 16, bool isFloat = false)
        : rate_(rate),
          chans_(chans),
          ctype_(ctype),
          bits_(bits),
          isFloat_(isFloat),
          length_(lengthBytes),
          lengthIsExact_(lengthIsExact) {}
    virtual ~DecodeStream() = default;
    DecodeStream(const DecodeStream&) = delete;
    DecodeStream& operator=(const DecodeStream&) = delete;

    std::uint32_t Rate() const { return rate_; }
    std::uint32_t Channels() const { return chans_; }
    std::uint32_t Ctype() const { return ctype_; }
    // What Read hands out: integer samples of Bits() bits, or float of 32.
    std::uint32_t Bits() const { return bits_; }
    bool IsFloat() const { return isFloat_; }
    std::uint32_t FrameBytes() const { return chans_ * (bits_ / 8); }
    std::uint64_t Position() const { return position_; }
    // The source's own resolution in bits, 0 when not known; a lossy source is handed out at 16 bits.
    std::uint32_t SourceBits() const { return sourceBits_; }
    bool Active() const { return !finished_; }

    // A container's length is only an estimate, so while reading we never report less than what has
    // already been read (progress stays within 100 %), and once the stream has ended the length is
    // what was actually read.
    std::uint64_t Length() const { return finished_ ? position_ : std::max(length_, position_); }

    std::uint32_t Read(void* buffer, std::uint32_t length) {
        std::uint64_t want = length - length % FrameBytes();
        if (lengthIsExact_) {
            want = std::min(want, length_ - std::min(length_, position_));
        }
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::uint64_t got = 0;
        while (got < want && Refill()) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(want - got, pending_.size() - pendingPos_));
            std::memcpy(out + got, pending_.data() + pendingPos_, n);
            pendingPos_ += n;
            got += n;
        }
        position_ += got;
        // Decoding ahead here lets IsStreamActive turn 0 together with the read of the last bytes.
        if (!Refill() || (lengthIsExact_ && position_ >= length_)) {
            Finish();
        }
        return static_cast<std::uint32_t>(got);
    }

protected:
    // Appends the next block of decoded PCM (whole frames, at least one) to out. Returns false at the
    // end of the data and on any failure: the callers cannot tell the two apart anyway.
    virtual bool DecodeMore(std::vector<std::uint8_t>& out) = 0;

    void SetSourceBits(std::uint32_t bits) { sourceBits_ = bits; }

    // Decodes the first block at opening, so a file without a single decodable frame is refused.
    bool Prime() { return Refill(); }

private:
    bool Refill() {
        if (pendingPos_ < pending_.size()) {
            return true;
        }
        pending_.clear();
        pendingPos_ = 0;
        if (!ended_) {
            ClearUpperAvx();
        }
        if (ended_ || !DecodeMore(pending_) || pending_.empty()) {
            ended_ = true;
            pending_.clear();
            return false;
        }
        return true;
    }

    void Finish() {
        finished_ = true;
        ended_ = true;
        pending_.clear();
        pendingPos_ = 0;
    }

    std::uint32_t rate_;
    std::uint32_t chans_;
    std::uint32_t ctype_;
    std::uint32_t bits_;
    bool isFloat_;
    std::uint64_t length_;
    bool lengthIsExact_;
    std::uint32_t sourceBits_ = 0;
    std::uint64_t position_ = 0;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingPos_ = 0;
    bool ended_ = false;     // the decoder has nothing more to give
    bool finished_ = false;  // and everything it gave has been read
};

}  // namespace audio::detail
