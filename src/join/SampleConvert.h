// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class QIODevice;

namespace join {

// Receives converted PCM in the order it is produced: the temporary file during a join, memory in
// tests and benchmarks.
class PcmSink {
public:
    virtual ~PcmSink() = default;
    virtual void Append(const char* data, std::size_t size) = 0;
    // A sink on a plain file gives its descriptor, at the end of what was appended, so a row in the
    // target format can be appended by the kernel's copy; -1 when it cannot. DirectDone follows.
    virtual int DirectDescriptor() { return -1; }
    virtual void DirectDone() {}
};

// Collects everything appended in memory.
class ByteArraySink : public PcmSink {
public:
    void Append(const char* data, std::size_t size) override;
    QByteArray bytes;
};

// Appends to an open device. A failed or short write is remembered, and nothing more is written
// after it, so the caller can report the failure once instead of producing a file with a hole.
class DeviceSink : public PcmSink {
public:
    explicit DeviceSink(QIODevice& device) : device_(device) {}
    void Append(const char* data, std::size_t size) override;
    int DirectDescriptor() override;
    void DirectDone() override;
    bool Failed() const { return failed_; }

private:
    QIODevice& device_;
    bool failed_ = false;
};

// ((x - 128) * 32767) / 128, truncated toward zero: an unsigned 8-bit sample as a signed 16-bit one.
constexpr std::int16_t Widen8To16(std::uint8_t x) {
    return static_cast<std::int16_t>(((static_cast<int>(x) - 128) * 32767) / 128);
}

// An integer sample of 8 to 32 bits at the top of 32 bits; 8-bit samples are widened by the table.
std::int32_t LeftAligned(const std::uint8_t* in, int bits);
// An IEEE float sample of 32 or 64 bits.
float FloatSample(const std::uint8_t* in, int bits);
// A sample of bits bits (an integer of 8 to 32, IEEE float of 32 or 64) in steps of stepBits bits,
// full scale being 2^(stepBits - 1): what a dither to stepBits takes.
double Level(const std::uint8_t* sample, int bits, bool isFloat, int stepBits);

// Raises the blocks of one row to the join's target format: 8-bit to 16-bit, mono to every target
// channel, and a lower sample rate to the target rate by repeating whole frames. Set up once per row;
// the repeat accumulator and an unfinished frame are carried from block to block within the row.
// Rows deeper than 16 bits or in float (the command line's) are widened the same way: integers
// shifted up to the target's bits, or scaled to float where the target is float.
class SampleConvert {
public:
    explicit SampleConvert(PcmSink& sink);

    void Setup(int sourceRate, int sourceChannels, int sourceBits, int targetRate, int targetChannels,
               int targetBits, bool sourceFloat = false, bool targetFloat = false);
    // Appends the converted samples of one block to the sink. Only whole frames reach it, also
    // for a row in the target format: a frame cut by the end of the block waits for the next one,
    // and a row that ends inside a frame loses that part, so later rows keep their alignment.
    void Convert(const void* block, std::size_t length);
    // Called after every few megabytes that one block produces (a low rate raised to a high one
    // repeats each frame many times); returning true drops the rest of the block.
    void SetInterruptCheck(std::function<bool()> check) { interrupt_ = std::move(check); }

    bool SameFormat() const { return sameFormat_; }
    PcmSink& Sink() { return sink_; }
    float Ratio() const { return ratio_; }
    // Bytes of an unfinished frame waiting for the next block; dropped by the next Setup.
    std::size_t PendingBytes() const { return pendingBytes_; }

private:
    using FrameLoop = void (SampleConvert::*)(const std::uint8_t* data, std::size_t frames);

    // Any channel counts, one channel at a time.
    void ConvertFrames(const std::uint8_t* data, std::size_t frames);
    // The usual mono and stereo rows, with the frame layout known at compile time.
    template <bool Input8, bool Output8, int InChannels, int OutChannels>
    void ConvertFramesFixed(const std::uint8_t* data, std::size_t frames);
    FrameLoop ChooseFrameLoop() const;
    void MakeOutputFrame(const std::uint8_t* in);
    // The same for rows or targets deeper than 16 bits or in float.
    void MakeDeepFrame(const std::uint8_t* in);
    // How many times the current frame is written: once, plus once per whole frame accumulated.
    std::int64_t SampleRepeat();
    void EmitFrames(const std::uint8_t* data, std::size_t frames);
    void Flush();
    // Flushes a full output buffer; true when the interrupt check asked to drop the rest of the block.
    bool FlushFull();

    PcmSink& sink_;
    bool sameFormat_ = true;
    float ratio_ = 0.0f;
    float accumulator_ = 0.0f;
    bool input8_ = false;
    bool output8_ = false;
    bool deep_ = false;
    bool sourceFloat_ = false;
    bool targetFloat_ = false;
    int sourceBits_ = 16;
    int targetBits_ = 16;
    int inChannels_ = 1;
    int outChannels_ = 1;
    std::size_t inFrameBytes_ = 1;
    std::size_t outFrameBytes_ = 1;
    FrameLoop frameLoop_ = &SampleConvert::ConvertFrames;

    std::vector<std::uint8_t> frame_;    // the current output frame
    std::vector<std::uint8_t> pending_;  // the start of a frame cut by the end of a block
    std::size_t pendingBytes_ = 0;
    std::vector<std::uint8_t> out_;  // converted bytes not yet handed to the sink
    std::size_t outUsed_ = 0;

    std::function<bool()> interrupt_;
    std::size_t sinceCheck_ = 0;  // bytes handed on since the interrupt check last ran
    bool interrupted_ = false;    // the current block was cut short
};

}  // namespace join
