// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/SampleConvert.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

// Raises ten seconds of a row to the target format in the blocks the join reads, and reports output
// bytes per second; BM_Memcpy copies the same number of output bytes for scale.
namespace {

constexpr int kSeconds = 10;

// Appends into a buffer reserved up front, so the figure is the conversion and not reallocation.
class BufferSink : public join::PcmSink {
public:
    explicit BufferSink(std::size_t capacity) : buffer_(capacity) {}
    void Append(const char* data, std::size_t size) override {
        std::memcpy(buffer_.data() + used_, data, size);
        used_ += size;
    }
    void Rewind() { used_ = 0; }
    std::size_t Used() const { return used_; }
    const char* Data() const { return buffer_.data(); }

private:
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

struct Case {
    int sourceRate, sourceChannels, sourceBits;
    int targetRate, targetChannels, targetBits;
    std::size_t block;  // what the join reads per block for such a row
};

constexpr Case kWiden{22050, 1, 8, 44100, 2, 16, 10240};
constexpr Case kRaise{44100, 2, 16, 48000, 2, 16, 20480};

std::vector<std::uint8_t> Input(const Case& c) {
    std::vector<std::uint8_t> input(static_cast<std::size_t>(c.sourceRate) * kSeconds * c.sourceChannels *
                                    (c.sourceBits / 8));
    std::uint32_t x = 12345;
    for (auto& b : input) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return input;
}

std::size_t OutputBytes(const Case& c) {
    return static_cast<std::size_t>(c.targetRate) * kSeconds * c.targetChannels * (c.targetBits / 8) + 4096;
}

void Convert(benchmark::State& state, const Case& c) {
    const auto input = Input(c);
    BufferSink sink(OutputBytes(c));
    join::SampleConvert convert(sink);
    for (auto _ : state) {
        sink.Rewind();
        convert.Setup(c.sourceRate, c.sourceChannels, c.sourceBits, c.targetRate, c.targetChannels,
                      c.targetBits);
        for (std::size_t at = 0; at < input.size(); at += c.block) {
            convert.Convert(input.data() + at, std::min(c.block, input.size() - at));
        }
        benchmark::DoNotOptimize(sink.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(sink.Used()));
}

void Memcpy(benchmark::State& state, const Case& c) {
    const std::size_t bytes = OutputBytes(c) - 4096;
    std::vector<char> from(bytes, 1);
    std::vector<char> to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

void BM_Convert_8BitMono22050_To_16BitStereo44100(benchmark::State& state) {
    Convert(state, kWiden);
}
void BM_Memcpy_SameOutputSize_16BitStereo44100(benchmark::State& state) {
    Memcpy(state, kWiden);
}
void BM_Convert_16BitStereo44100_To_48000(benchmark::State& state) {
    Convert(state, kRaise);
}
void BM_Memcpy_SameOutputSize_16BitStereo48000(benchmark::State& state) {
    Memcpy(state, kRaise);
}

}  // namespace

BENCHMARK(BM_Convert_8BitMono22050_To_16BitStereo44100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_SameOutputSize_16BitStereo44100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert_16BitStereo44100_To_48000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_SameOutputSize_16BitStereo48000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
