// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Decoder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

// Decodes the same minute of stereo 44100 Hz audio as MP3 and as WMA through the decoding layer, the
// way the join reads it. The files are made once in WAVESTITCH_BENCH_DIR (default
// /tmp/wavestitch-bench) so that bench/compare_decode.sh can time ffmpeg on the very same files.
namespace {

QString BenchDir() {
    const QByteArray dir = qgetenv("WAVESTITCH_BENCH_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/wavestitch-bench") : QString::fromLocal8Bit(dir);
}

bool Make(const QString& path, const QString& program, const QStringList& args) {
    if (QFileInfo::exists(path)) {
        return true;
    }
    QDir().mkpath(QFileInfo(path).path());
    QProcess process;
    process.start(program, args);
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString Input(bool wma) {
    const QString dir = BenchDir() + '/';
    const QString wav = dir + "tone60.wav";
    const QString out = dir + (wma ? "tone60.wma" : "tone60.mp3");
    // Noise under the tone keeps the encoders busy on every frame, as real music does.
    const bool ok =
        Make(wav, "sox", {"-n",   "-r",  "44100", "-c",  "2",     "-b", "16",        wav,   "synth", "60",
                          "sine", "440", "sine",  "660", "synth", "60", "pinknoise", "mix", "gain",  "-6"}) &&
        (wma ? Make(out, "ffmpeg", {"-v", "error", "-i", wav, "-c:a", "wmav2", "-b:a", "128k", "-y", out})
             : Make(out, "lame", {"--quiet", "-b", "192", wav, out}));
    return ok ? out : QString();
}

void Decode(benchmark::State& state, bool wma) {
    const QString path = Input(wma);
    if (path.isEmpty()) {
        state.SkipWithError("cannot make the input file");
        return;
    }
    std::vector<char> buffer(20480);
    std::uint64_t bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const audio::StreamHandle h = wma ? audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
                                          : audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
        if (!h) {
            state.SkipWithError("cannot open the input file");
            return;
        }
        while (audio::IsStreamActive(h)) {
            bytes += audio::ReadStreamData(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        }
        seconds += audio::BytesToSeconds(h, audio::GetStreamPosition(h, audio::POS_BYTE));
        audio::FreeStream(h);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["audio_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

// Opening alone is what probing a file costs; for MP3 it includes the scan of every frame header.
void Open(benchmark::State& state, bool wma) {
    const QString path = Input(wma);
    if (path.isEmpty()) {
        state.SkipWithError("cannot make the input file");
        return;
    }
    for (auto _ : state) {
        const audio::StreamHandle h = wma ? audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
                                          : audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
        benchmark::DoNotOptimize(audio::GetStreamLength(h, audio::POS_BYTE));
        audio::FreeStream(h);
    }
}

void BM_DecodeMp3(benchmark::State& state) {
    Decode(state, false);
}
void BM_DecodeWma(benchmark::State& state) {
    Decode(state, true);
}
void BM_OpenMp3(benchmark::State& state) {
    Open(state, false);
}
void BM_OpenWma(benchmark::State& state) {
    Open(state, true);
}

BENCHMARK(BM_DecodeMp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeWma)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenMp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenWma)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
