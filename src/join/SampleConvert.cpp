// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/SampleConvert.h"

#include <QFileDevice>
#include <QIODevice>
#include <QtEndian>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace join {

namespace {

// Converted bytes are handed on in pieces of about this size, so a row with an extreme rate ratio
// never needs a buffer in proportion to its repeats.
constexpr std::size_t kOutputChunk = 64 * 1024;
// Far above what an ordinary block produces, so the check only runs for extreme rate ratios.
constexpr std::size_t kInterruptCheckBytes = 4 * 1024 * 1024;

std::size_t SampleBytes(int bits) {
    return static_cast<std::size_t>(std::max((bits + 7) / 8, 1));
}

}  // namespace

void ByteArraySink::Append(const char* data, std::size_t size) {
    bytes.append(data, static_cast<qsizetype>(size));
}

void DeviceSink::Append(const char* data, std::size_t size) {
    if (failed_ || size == 0) {
        return;
    }
    if (device_.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
        failed_ = true;
    }
}

int DeviceSink::DirectDescriptor() {
    auto* file = qobject_cast<QFileDevice*>(&device_);
    if (failed_ || file == nullptr) {
        return -1;
    }
    failed_ = !file->flush();
    return failed_ ? -1 : file->handle();
}

void DeviceSink::DirectDone() {
    // The descriptor moved on under the device, which must write on from there.
    auto* file = qobject_cast<QFileDevice*>(&device_);
    const off_t end = lseek(file->handle(), 0, SEEK_CUR);
    if (end < 0 || !file->seek(end)) {
        failed_ = true;
    }
}

std::int32_t LeftAligned(const std::uint8_t* in, int bits) {
    if (bits == 8) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(Widen8To16(in[0])) << 16);
    }
    const int bytes = (bits + 7) / 8;
    std::uint32_t value = 0;
    for (int b = 0; b < bytes; ++b) {
        value |= static_cast<std::uint32_t>(in[b]) << (32 - 8 * bytes + 8 * b);
    }
    return static_cast<std::int32_t>(value);
}

float FloatSample(const std::uint8_t* in, int bits) {
    if (bits == 64) {
        return static_cast<float>(std::bit_cast<double>(qFromLittleEndian<quint64>(in)));
    }
    return std::bit_cast<float>(qFromLittleEndian<quint32>(in));
}

double Level(const std::uint8_t* sample, int bits, bool isFloat, int stepBits) {
    return isFloat ? static_cast<double>(FloatSample(sample, bits)) * std::ldexp(1.0, stepBits - 1)
                   : std::ldexp(static_cast<double>(LeftAligned(sample, bits)), stepBits - 32);
}

SampleConvert::SampleConvert(PcmSink& sink) : sink_(sink) {}

void SampleConvert::Setup(int sourceRate, int sourceChannels, int sourceBits, int targetRate,
                          int targetChannels, int targetBits, bool sourceFloat, bool targetFloat) {
    sameFormat_ = sourceRate == targetRate && sourceBits == targetBits && sourceChannels == targetChannels &&
                  sourceFloat == targetFloat;
    // The difference of the two integers over the source rate, kept as a 32-bit float: the repeat
    // pattern (and so the frame count) depends on that precision.
    ratio_ =
        sourceRate > 0 ? static_cast<float>(static_cast<double>(targetRate - sourceRate) / sourceRate) : 0.0f;
    accumulator_ = 0.0f;

    input8_ = sourceBits == 8 && !sourceFloat;
    output8_ = input8_ && targetBits == 8;
    deep_ = sourceBits > 16 || targetBits > 16 || sourceFloat || targetFloat;
    sourceFloat_ = sourceFloat;
    targetFloat_ = targetFloat;
    sourceBits_ = sourceBits;
    targetBits_ = targetBits;
    inChannels_ = std::max(sourceChannels, 1);
    // Every frame gets the target's channel count, whatever the row holds, so the interleaving of
    // the joined data never shifts.
    outChannels_ = std::max(targetChannels, 1);
    inFrameBytes_ = static_cast<std::size_t>(inChannels_) * SampleBytes(sourceBits);
    outFrameBytes_ = static_cast<std::size_t>(outChannels_) * (output8_ ? 1 : SampleBytes(targetBits));

    frameLoop_ = ChooseFrameLoop();
    frame_.assign(outFrameBytes_, 0);
    pending_.assign(inFrameBytes_, 0);
    pendingBytes_ = 0;
    out_.resize(std::max(kOutputChunk, outFrameBytes_));
    outUsed_ = 0;
}

void SampleConvert::Convert(const void* block, std::size_t length) {
    const auto* data = static_cast<const std::uint8_t*>(block);
    interrupted_ = false;
    sinceCheck_ = 0;
    if (pendingBytes_ > 0) {
        const std::size_t take = std::min(inFrameBytes_ - pendingBytes_, length);
        std::memcpy(pending_.data() + pendingBytes_, data, take);
        pendingBytes_ += take;
        data += take;
        length -= take;
        if (pendingBytes_ < inFrameBytes_) {
            return;
        }
        pendingBytes_ = 0;
        EmitFrames(pending_.data(), 1);
    }
    const std::size_t frames = length / inFrameBytes_;
    if (!interrupted_) {
        EmitFrames(data, frames);
    }
    pendingBytes_ = interrupted_ ? 0 : length - frames * inFrameBytes_;
    std::memcpy(pending_.data(), data + frames * inFrameBytes_, pendingBytes_);
    Flush();
}

void SampleConvert::EmitFrames(const std::uint8_t* data, std::size_t frames) {
    if (sameFormat_) {
        sink_.Append(reinterpret_cast<const char*>(data), frames * inFrameBytes_);
    } else {
        (this->*frameLoop_)(data, frames);
    }
}

void SampleConvert::ConvertFrames(const std::uint8_t* data, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        MakeOutputFrame(data + i * inFrameBytes_);
        for (std::int64_t copies = SampleRepeat(); copies > 0; --copies) {
            if (outUsed_ + outFrameBytes_ > out_.size() && FlushFull()) {
                return;
            }
            std::memcpy(out_.data() + outUsed_, frame_.data(), outFrameBytes_);
            outUsed_ += outFrameBytes_;
        }
    }
}

template <bool Input8, bool Output8, int InChannels, int OutChannels>
void SampleConvert::ConvertFramesFixed(const std::uint8_t* data, std::size_t frames) {
    constexpr std::size_t inBytes = InChannels * (Input8 ? 1 : 2);
    constexpr std::size_t outBytes = OutChannels * (Output8 ? 1 : 2);
    std::uint8_t frame[outBytes];
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* in = data + i * inBytes;
        for (int c = 0; c < OutChannels; ++c) {
            const int source = InChannels == 1 ? 0 : c;
            if constexpr (Output8) {
                frame[c] = in[source];
            } else if constexpr (Input8) {
                const auto wide = static_cast<std::uint16_t>(Widen8To16(in[source]));
                frame[2 * c] = static_cast<std::uint8_t>(wide & 0xFF);
                frame[2 * c + 1] = static_cast<std::uint8_t>(wide >> 8);
            } else {
                frame[2 * c] = in[2 * source];
                frame[2 * c + 1] = in[2 * source + 1];
            }
        }
        for (std::int64_t copies = SampleRepeat(); copies > 0; --copies) {
            if (outUsed_ + outBytes > out_.size() && FlushFull()) {
                return;
            }
            std::memcpy(out_.data() + outUsed_, frame, outBytes);
            outUsed_ += outBytes;
        }
    }
}

SampleConvert::FrameLoop SampleConvert::ChooseFrameLoop() const {
    if (deep_ || inChannels_ > 2 || outChannels_ > 2 || inChannels_ > outChannels_) {
        return &SampleConvert::ConvertFrames;
    }
    const bool stereoIn = inChannels_ == 2;
    const bool stereoOut = outChannels_ == 2;
    if (output8_) {
        return stereoIn    ? &SampleConvert::ConvertFramesFixed<true, true, 2, 2>
               : stereoOut ? &SampleConvert::ConvertFramesFixed<true, true, 1, 2>
                           : &SampleConvert::ConvertFramesFixed<true, true, 1, 1>;
    }
    if (input8_) {
        return stereoIn    ? &SampleConvert::ConvertFramesFixed<true, false, 2, 2>
               : stereoOut ? &SampleConvert::ConvertFramesFixed<true, false, 1, 2>
                           : &SampleConvert::ConvertFramesFixed<true, false, 1, 1>;
    }
    return stereoIn    ? &SampleConvert::ConvertFramesFixed<false, false, 2, 2>
           : stereoOut ? &SampleConvert::ConvertFramesFixed<false, false, 1, 2>
                       : &SampleConvert::ConvertFramesFixed<false, false, 1, 1>;
}

void SampleConvert::MakeOutputFrame(const std::uint8_t* in) {
    if (deep_) {
        MakeDeepFrame(in);
        return;
    }
    std::uint8_t* out = frame_.data();
    for (int c = 0; c < outChannels_; ++c) {
        // A mono row feeds every channel; channels the row does not have are silent.
        const int source = inChannels_ == 1 ? 0 : c;
        if (source >= inChannels_) {
            if (output8_) {
                *out++ = 128;
            } else {
                *out++ = 0;
                *out++ = 0;
            }
        } else if (output8_) {
            *out++ = in[source];
        } else if (input8_) {
            const auto wide = static_cast<std::uint16_t>(Widen8To16(in[source]));
            *out++ = static_cast<std::uint8_t>(wide & 0xFF);
            *out++ = static_cast<std::uint8_t>(wide >> 8);
        } else {
            *out++ = in[2 * source];
            *out++ = in[2 * source + 1];
        }
    }
}

void SampleConvert::MakeDeepFrame(const std::uint8_t* in) {
    const std::size_t inBytes = SampleBytes(sourceBits_);
    const std::size_t outBytes = SampleBytes(targetBits_);
    std::uint8_t* out = frame_.data();
    for (int c = 0; c < outChannels_; ++c, out += outBytes) {
        const int source = inChannels_ == 1 ? 0 : c;
        if (source >= inChannels_) {
            std::memset(out, 0, outBytes);
            continue;
        }
        const std::uint8_t* sample = in + static_cast<std::size_t>(source) * inBytes;
        if (targetFloat_) {
            // Integers scale to full scale at 1.0; float is kept, beyond 1.0 too.
            const float value = sourceFloat_
                                    ? FloatSample(sample, sourceBits_)
                                    : static_cast<float>(LeftAligned(sample, sourceBits_) / 2147483648.0);
            qToLittleEndian(std::bit_cast<quint32>(value), out);
            continue;
        }
        // Never a float row: any makes the target float. Integers widen exactly, by a shift.
        const std::uint32_t value = static_cast<std::uint32_t>(LeftAligned(sample, sourceBits_));
        for (std::size_t b = 0; b < outBytes; ++b) {
            out[b] = static_cast<std::uint8_t>(value >> (32 - 8 * (outBytes - b)));
        }
    }
}

std::int64_t SampleConvert::SampleRepeat() {
    accumulator_ = accumulator_ + ratio_;
    if (accumulator_ < 1.0f) {
        return 1;
    }
    // The whole frames come off in one step, which gives the same float as taking them one by one;
    // that never ends once the accumulator is too large (2^24) for 1 to change it.
    const float whole = std::floor(accumulator_);
    accumulator_ = accumulator_ - whole;
    return 1 + static_cast<std::int64_t>(whole);
}

void SampleConvert::Flush() {
    if (outUsed_ > 0) {
        sink_.Append(reinterpret_cast<const char*>(out_.data()), outUsed_);
        outUsed_ = 0;
    }
}

bool SampleConvert::FlushFull() {
    sinceCheck_ += outUsed_;
    Flush();
    if (interrupt_ && sinceCheck_ >= kInterruptCheckBytes) {
        sinceCheck_ = 0;
        interrupted_ = interrupt_();
    }
    return interrupted_;
}

}  // namespace join
