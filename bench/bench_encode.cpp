// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Wavtomp3.h"
#include "encode/Wavtowma.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Encodes the same minute of stereo 44100 Hz PCM through WavToMp3 and the lame command at
// 128 kbit/s joint stereo, and through WavToWma and ffmpeg's wmav2 encoder at 128 kbit/s, then
// prints how long ours takes against each peer (below 1: ours is faster). The commands read a WAV
// file of the same samples; their time includes starting the process, as a user would see it.
namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

QString BenchDir() {
    const QByteArray dir = qgetenv("WAVESTITCH_BENCH_DIR");
    return (dir.isEmpty() ? QStringLiteral("/tmp/wavestitch-bench") : QString::fromLocal8Bit(dir)) + '/';
}

// Two tones over a little noise, so the encoders work on every frame as with real music.
const std::vector<std::int16_t>& Pcm() {
    static const std::vector<std::int16_t> pcm = [] {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(kRate) * kSeconds * 2);
        std::uint32_t noise = 12345;
        for (std::size_t i = 0; i < samples.size() / 2; ++i) {
            const double t = static_cast<double>(i) / kRate;
            for (int c = 0; c < 2; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 2000;
                samples[i * 2 + c] = static_cast<std::int16_t>(
                    std::lround(9000 * std::sin(2 * M_PI * (440 + 220 * c) * t) + hiss));
            }
        }
        return samples;
    }();
    return pcm;
}

// The same samples as a canonical WAV file for the commands.
QString WavInput() {
    const QString path = BenchDir() + "encode60.wav";
    if (QFile::exists(path)) {
        return path;
    }
    QDir().mkpath(BenchDir());
    const std::vector<std::int16_t>& pcm = Pcm();
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    QByteArray header;
    const auto put32 = [&](std::uint32_t v) { header.append(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&](std::uint16_t v) { header.append(reinterpret_cast<const char*>(&v), 2); };
    header.append("RIFF");
    put32(36 + dataBytes);
    header.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(2);
    put32(kRate);
    put32(kRate * 4);
    put16(4);
    put16(16);
    header.append("data");
    put32(dataBytes);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size() ||
        file.write(reinterpret_cast<const char*>(pcm.data()), dataBytes) != dataBytes) {
        return QString();
    }
    return path;
}

// CPU seconds used so far by this process or by its finished children: on a busy machine the
// wall-clock times mostly measure the other load, the CPU times the work itself.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Records the CPU milliseconds per iteration that the loop just timed used.
class CpuCounter {
public:
    CpuCounter(benchmark::State& state, int who) : state_(state), who_(who), start_(CpuSeconds(who)) {}
    ~CpuCounter() {
        if (state_.iterations() > 0) {
            state_.counters["cpu_ms"] =
                (CpuSeconds(who_) - start_) * 1000 / static_cast<double>(state_.iterations());
        }
    }
    CpuCounter(const CpuCounter&) = delete;
    CpuCounter& operator=(const CpuCounter&) = delete;

private:
    benchmark::State& state_;
    int who_;
    double start_;
};

bool Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void BM_WavToMp3(benchmark::State& state) {
    const std::vector<std::int16_t>& pcm = Pcm();
    const QString out = BenchDir() + "ours.mp3";
    QDir().mkpath(BenchDir());
    CpuCounter cpu(state, RUSAGE_SELF);
    for (auto _ : state) {
        WavToMp3 adapter;
        const int chunk = adapter.Init(out, kRate, 2, 128, false, false, false, false);
        if (chunk <= 0) {
            state.SkipWithError("lame_enc.so did not start");
            return;
        }
        const std::size_t step = static_cast<std::size_t>(chunk) / 2;
        for (std::size_t at = 0; at < pcm.size(); at += step) {
            const std::size_t n = std::min(step, pcm.size() - at);
            adapter.EncodeChunk(pcm.data() + at, static_cast<int>(n * 2));
        }
        adapter.Close();
    }
}

void BM_LameCommand(benchmark::State& state) {
    const QString in = WavInput();
    CpuCounter cpu(state, RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (in.isEmpty() || !Run("lame", {"--quiet", "-b", "128", "-m", "j", in, BenchDir() + "peer.mp3"})) {
            state.SkipWithError("lame failed");
            return;
        }
    }
}

void BM_WavToWma(benchmark::State& state) {
    const std::vector<std::int16_t>& pcm = Pcm();
    const QString out = BenchDir() + "ours.wma";
    QDir().mkpath(BenchDir());
    CpuCounter cpu(state, RUSAGE_SELF);
    for (auto _ : state) {
        WavToWma adapter;
        const int chunk = adapter.Init(out, kRate, 2, 128000);
        if (chunk <= 0) {
            state.SkipWithError("wmaudsdk.so did not start");
            return;
        }
        const std::size_t step = static_cast<std::size_t>(chunk) / 2;
        for (std::size_t at = 0; at < pcm.size(); at += step) {
            const std::size_t n = std::min(step, pcm.size() - at);
            adapter.WriteChunk(pcm.data() + at, static_cast<int>(n * 2));
        }
        adapter.Close();
    }
}

void BM_FfmpegWmav2(benchmark::State& state) {
    const QString in = WavInput();
    CpuCounter cpu(state, RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (in.isEmpty() || !Run("ffmpeg", {"-v", "error", "-y", "-i", in, "-c:a", "wmav2", "-b:a", "128k",
                                            BenchDir() + "peer.wma"})) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
}

BENCHMARK(BM_WavToMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LameCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WavToWma)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegWmav2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Keeps each benchmark's time per iteration, to print the ratios after the run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) {
                const std::string name = run.benchmark_name();
                const std::string key = name.substr(0, name.find('/'));
                times[key] = run.GetAdjustedRealTime();
                const auto cpu = run.counters.find("cpu_ms");
                cpuTimes[key] = cpu != run.counters.end() ? cpu->second.value : 0;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes;
};

void PrintRatio(const RatioReporter& reporter, const std::string& ours, const std::string& peer) {
    const auto a = reporter.times.find(ours);
    const auto b = reporter.times.find(peer);
    if (a != reporter.times.end() && b != reporter.times.end() && b->second > 0) {
        const double cpuOurs = reporter.cpuTimes.at(ours);
        const double cpuPeer = reporter.cpuTimes.at(peer);
        std::printf("%-12s / %-15s wall %7.1f / %7.1f ms = %.2f   cpu %7.1f / %7.1f ms = %.2f\n",
                    ours.c_str(), peer.c_str(), a->second, b->second, a->second / b->second, cpuOurs, cpuPeer,
                    cpuPeer > 0 ? cpuOurs / cpuPeer : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nours / peer (below 1: ours is faster)\n");
    PrintRatio(reporter, "BM_WavToMp3", "BM_LameCommand");
    PrintRatio(reporter, "BM_WavToWma", "BM_FfmpegWmav2");
    benchmark::Shutdown();
    return 0;
}
