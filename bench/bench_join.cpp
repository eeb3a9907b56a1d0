// SPDX-License-Identifier: GPL-3.0-or-later
// Whole joins through the join engine: ten one-minute WAV files to WAV, and five one-minute MP3
// files to MP3 at 128 kbps, reported as seconds of audio joined per second.
#include "BenchFiles.h"
#include "audio/Decoder.h"
#include "join/JoinHost.h"
#include "join/JoinJob.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using bench::Dir;
using bench::Run;

// A minute of music-like sound: two tones over pink noise.
QString Minute(int index, bool mp3) {
    const QString wav = Dir() + QStringLiteral("minute%1.wav").arg(index);
    if (!QFileInfo::exists(wav)) {
        Run("sox", {"-n",   "-r",  "44100", "-c", "2",         "-b",
                    "16",   wav,   "synth", "60", "sine",      QString::number(220 + 20 * index),
                    "sine", "660", "synth", "60", "pinknoise", "mix",
                    "gain", "-8"});
    }
    if (!mp3) {
        return wav;
    }
    const QString path = Dir() + QStringLiteral("minute%1.mp3").arg(index);
    if (!QFileInfo::exists(path)) {
        Run("lame", {"--quiet", "-b", "128", wav, path});
    }
    return path;
}

class QuietHost : public join::JoinHost {
public:
    void SetStatusText(const QString&) override {}
    void SetJoinProgress(int) override {}
    void SetOutputProgress(int) override {}
    void ProcessMessages() override {}
    bool Terminated() const override { return false; }
    void SetJoinFailed() override { failed = true; }
    void Close() override {}
    bool failed = false;
};

class Rows : public join::JoinRows {
public:
    int Count() const override { return static_cast<int>(rows.size()); }
    join::JoinRow Row(int index) const override { return rows[static_cast<std::size_t>(index)]; }
    std::vector<join::JoinRow> rows;
};

void Join(benchmark::State& state, join::OutputKind kind, int files, bool mp3Inputs) {
    Rows rows;
    for (int i = 0; i < files; ++i) {
        rows.rows.push_back({Minute(i, mp3Inputs), 44100, 2, 16});
    }
    const QString output = Dir() + (kind == join::OutputKind::Mp3 ? "out.mp3" : "out.wav");
    for (auto _ : state) {
        QuietHost host;
        join::JoinJob job(host, rows, [&] {
            join::JoinOutput out;
            out.kind = kind;
            out.path = output;
            return out;
        });
        job.TempPcmFile = Dir() + QStringLiteral("AudioTemp.pcm");
        job.TargetSampleRate = 44100;
        job.TargetChannels = 2;
        job.TargetBits = 16;
        job.DoJoin();
        if (host.failed) {
            state.SkipWithError("the join failed");
        }
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(
        60.0 * files * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TenWavToWav(benchmark::State& state) {
    Join(state, join::OutputKind::Wav, 10, false);
}
BENCHMARK(BM_TenWavToWav)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FiveMp3ToMp3(benchmark::State& state) {
    Join(state, join::OutputKind::Mp3, 5, true);
}
BENCHMARK(BM_FiveMp3ToMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    // The encoder modules are loaded from this program's folder, the build folder.
    audio::InitOutputDevice(-1, 44100, 0, nullptr, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    audio::FreeOutputDevice();
    return 0;
}
