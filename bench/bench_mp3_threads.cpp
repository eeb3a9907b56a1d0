// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 module on one thread against its block-parallel encoding of the same five minutes of
// music-like stereo at 128 kbps, then how the parallel file sounds at its seams: the SNR of a
// +-4096-sample window around every seam against the same window of the one-thread file.
#include "audio/Decoder.h"
#include "encode/Wavtomp3.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 300;
// The module's default block, unless WAVESTITCH_MP3_BLOCK_FRAMES says otherwise.
constexpr int kBlockFrames = 384;
constexpr int kFrameSize = 1152;
// A block's first frame decodes to input samples 1105 earlier (encoder and decoder delay); the
// middle of that frame is where a seam shows.
constexpr long kSeamOffset = -1105 + kFrameSize / 2;
constexpr long kWindow = 4096;

QString BenchDir() {
    const QByteArray dir = qgetenv("WAVESTITCH_BENCH_DIR");
    return (dir.isEmpty() ? QStringLiteral("/tmp/wavestitch-bench") : QString::fromLocal8Bit(dir)) + '/';
}

// Two-beat chords of decaying harmonic tones over pink noise, with a kick on every beat, a
// snare-like burst between beats and a short hi-hat click: attacks, tones and noise, as in music.
const std::vector<std::int16_t>& Music() {
    static const std::vector<std::int16_t> pcm = [] {
        const std::size_t frames = static_cast<std::size_t>(kRate) * kSeconds;
        std::vector<double> mix(frames * 2);
        std::mt19937 rng(7);
        std::normal_distribution<double> gauss;
        const std::size_t beat = kRate / 2;
        const double roots[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0};
        for (std::size_t start = 0; start < frames; start += beat * 4) {
            const double root = roots[rng() % 7];
            const double third = rng() % 2 == 0 ? 1.2599 : 1.1892;
            const double chord[] = {root, root * third, root * 1.4983, root * 2};
            const std::size_t length = std::min(beat * 4, frames - start);
            for (std::size_t i = 0; i < length; ++i) {
                const double t = static_cast<double>(i) / kRate;
                const double envelope = std::exp(-1.5 * t);
                for (int note = 0; note < 4; ++note) {
                    for (int h = 1; h <= 5; ++h) {
                        const double a = 0.12 / h * envelope;
                        const double f = chord[note] * h;
                        mix[(start + i) * 2] += a * std::sin(2 * M_PI * f * t + note);
                        mix[(start + i) * 2 + 1] += a * std::sin(2 * M_PI * f * 1.002 * t + note + 0.3);
                    }
                }
            }
        }
        // Pink noise by Paul Kellet's economy filter, per channel.
        for (int c = 0; c < 2; ++c) {
            double b0 = 0, b1 = 0, b2 = 0;
            for (std::size_t i = 0; i < frames; ++i) {
                const double white = gauss(rng);
                b0 = 0.99765 * b0 + white * 0.0990460;
                b1 = 0.96300 * b1 + white * 0.2965164;
                b2 = 0.57000 * b2 + white * 1.0526913;
                mix[i * 2 + c] += 0.02 * (b0 + b1 + b2 + white * 0.1848);
            }
        }
        for (std::size_t b = 0; b < frames; b += beat) {
            for (std::size_t i = 0; i < 4000 && b + i < frames; ++i) {
                const double t = static_cast<double>(i) / kRate;
                const double kick = 0.5 * std::sin(2 * M_PI * 60 * t) * std::exp(-30 * t);
                mix[(b + i) * 2] += kick;
                mix[(b + i) * 2 + 1] += kick;
            }
            for (std::size_t i = 0; i < 3000 && b + beat / 2 + i < frames; ++i) {
                const double decay = 0.35 * std::exp(-60.0 * static_cast<double>(i) / kRate);
                mix[(b + beat / 2 + i) * 2] += decay * gauss(rng);
                mix[(b + beat / 2 + i) * 2 + 1] += decay * gauss(rng);
            }
            for (std::size_t i = 0; i < 300 && b + beat / 4 + i < frames; ++i) {
                const double decay = 0.25 * std::exp(-400.0 * static_cast<double>(i) / kRate);
                mix[(b + beat / 4 + i) * 2] += decay * gauss(rng);
                mix[(b + beat / 4 + i) * 2 + 1] += decay * gauss(rng);
            }
        }
        double peak = 0;
        for (const double v : mix) {
            peak = std::max(peak, std::abs(v));
        }
        std::vector<std::int16_t> samples(mix.size());
        for (std::size_t i = 0; i < mix.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(std::lround(mix[i] / (peak * 1.1) * 32767));
        }
        return samples;
    }();
    return pcm;
}

// threads 0: the module's own choice.
QString Encode(int threads, const QString& name) {
    if (threads > 0) {
        qputenv("WAVESTITCH_MP3_THREADS", QByteArray::number(threads));
    } else {
        qunsetenv("WAVESTITCH_MP3_THREADS");
    }
    const std::vector<std::int16_t>& pcm = Music();
    const QString out = BenchDir() + name;
    QDir().mkpath(BenchDir());
    WavToMp3 adapter;
    const int chunk = adapter.Init(out, kRate, 2, 128, false, false, false, false);
    if (chunk <= 0) {
        return QString();
    }
    const std::size_t step = static_cast<std::size_t>(chunk) / 2;
    for (std::size_t at = 0; at < pcm.size(); at += step) {
        adapter.EncodeChunk(pcm.data() + at, static_cast<int>(std::min(step, pcm.size() - at) * 2));
    }
    return adapter.Close() ? out : QString();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_Mp3Threads(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    Music();
    const double cpuStart = CpuSeconds();
    for (auto _ : state) {
        if (Encode(threads, QStringLiteral("threads%1.mp3").arg(threads)).isEmpty()) {
            state.SkipWithError("encoding failed");
            return;
        }
    }
    state.counters["cpu_ms"] = (CpuSeconds() - cpuStart) * 1000 / static_cast<double>(state.iterations());
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

// 1: one thread; 0: the module's choice (one per core).
BENCHMARK(BM_Mp3Threads)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                times[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> times;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::vector<std::int16_t> Decode(const QString& path) {
    std::vector<std::int16_t> samples;
    const audio::StreamHandle h = audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
    if (h == 0) {
        return samples;
    }
    std::vector<std::int16_t> buffer(16384);
    for (;;) {
        const std::uint32_t n =
            audio::ReadStreamData(h, buffer.data(), static_cast<std::uint32_t>(buffer.size() * 2));
        if (n == 0) {
            break;
        }
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + n / 2);
    }
    audio::FreeStream(h);
    return samples;
}

double WindowSnr(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded,
                 long from, long to) {
    double signal = 0;
    double noise = 0;
    for (long i = std::max(0L, from) * 2; i < std::min<long>(to * 2, static_cast<long>(reference.size()));
         ++i) {
        const double x = reference[static_cast<std::size_t>(i)];
        const double y =
            static_cast<std::size_t>(i) < decoded.size() ? decoded[static_cast<std::size_t>(i)] : 0.0;
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

// Encodes once more each way and compares the two files around every seam.
void ReportSeams() {
    const std::vector<std::int16_t>& pcm = Music();
    const std::vector<std::int16_t> one = Decode(Encode(1, QStringLiteral("seams-one.mp3")));
    const std::vector<std::int16_t> parallel = Decode(Encode(0, QStringLiteral("seams-parallel.mp3")));
    const QByteArray blockEnv = qgetenv("WAVESTITCH_MP3_BLOCK_FRAMES");
    const long block = (blockEnv.isEmpty() ? kBlockFrames : blockEnv.toInt()) * static_cast<long>(kFrameSize);
    std::vector<double> losses;
    const long frames = static_cast<long>(pcm.size() / 2);
    for (long seam = block; seam + kWindow < frames; seam += block) {
        const long centre = seam + kSeamOffset;
        losses.push_back(WindowSnr(pcm, one, centre - kWindow, centre + kWindow) -
                         WindowSnr(pcm, parallel, centre - kWindow, centre + kWindow));
    }
    std::printf("\ndecoded samples: input %zu, one thread %zu, parallel %zu\n", pcm.size(), one.size(),
                parallel.size());
    std::printf("whole-file SNR: one thread %.2f dB, parallel %.2f dB\n", WindowSnr(pcm, one, 0, frames),
                WindowSnr(pcm, parallel, 0, frames));
    if (!losses.empty()) {
        const double worst = *std::max_element(losses.begin(), losses.end());
        const double best = *std::min_element(losses.begin(), losses.end());
        std::printf("seam SNR loss over %zu seams: median %.2f dB, worst %.2f dB, best %.2f dB\n",
                    losses.size(), Median(losses), worst, best);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double one = Median(reporter.times["BM_Mp3Threads/1/iterations:3/real_time"]);
    const double parallel = Median(reporter.times["BM_Mp3Threads/0/iterations:3/real_time"]);
    if (one > 0 && parallel > 0) {
        std::printf("\nspeed-up, parallel over one thread (median wall time): %.2f\n", one / parallel);
    }
    ReportSeams();
    benchmark::Shutdown();
    return 0;
}
