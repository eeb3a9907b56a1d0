// SPDX-License-Identifier: GPL-3.0-or-later
// Adding files: 1,000 WAV, MP3 and WMA files, and 1,000 five-minute MP3 files with an Info frame,
// through the main window's AddFiles, reported per file; and probing an hour-long MP3 without and
// with an Info frame beside decoding it, ours and ffmpeg's, with the ratios.
#include "BenchFiles.h"
#include "app/AudioFileRow.h"
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "audio/Decoder.h"
#include "audio/FileProbe.h"
#include "platform/ExeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using bench::Dir;
using bench::Run;

// Ten distinct files of each type, each ten seconds long.
QStringList Inputs() {
    static QStringList inputs;
    if (!inputs.isEmpty()) {
        return inputs;
    }
    const QString wav = Dir() + QStringLiteral("tone.wav");
    Run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "10", "sine", "440", "gain", "-6"});
    const QString mp3 = Dir() + QStringLiteral("tone.mp3");
    Run("lame", {"--quiet", "-b", "128", wav, mp3});
    const QString wma = Dir() + QStringLiteral("tone.wma");
    Run("ffmpeg", {"-v", "error", "-i", wav, "-c:a", "wmav2", "-y", wma});
    for (int i = 0; i < 10; ++i) {
        for (const QString& source : {wav, mp3, wma}) {
            const QString copy = Dir() + QStringLiteral("%1_%2").arg(i).arg(QFileInfo(source).fileName());
            QFile::copy(source, copy);
            inputs << copy;
        }
    }
    return inputs;
}

// Adds the thousand paths to an empty list once per iteration.
void TimeAddingThousand(benchmark::State& state, const QStringList& thousand) {
    for (auto _ : state) {
        QStringList paths = thousand;
        MainForm->AddFiles(paths);
        state.PauseTiming();
        if (MainForm->RowCount() != 1000) {
            state.SkipWithError("not every file was added");
        }
        MainForm->ButtonClearClick();
        state.ResumeTiming();
    }
}

void BM_AddFiles(benchmark::State& state) {
    const QStringList inputs = Inputs();
    QStringList thousand;
    for (int i = 0; i < 1000; ++i) {
        thousand << inputs[i % inputs.size()];
    }
    TimeAddingThousand(state, thousand);
    state.counters["per_file"] =
        benchmark::Counter(1000.0 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddFiles)->Unit(benchmark::kMillisecond);

// A tone encoded by lame straight from sox, so an hour needs no WAV file on disk; lame writes its
// Info frame unless told -t.
QString LameTone(const QString& name, int seconds) {
    const QString path = Dir() + name;
    if (!QFileInfo::exists(path)) {
        Run("sh", {"-c", QStringLiteral("sox -n -t wav - rate 44100 channels 2 synth %1 sine 440 gain -6 | "
                                        "lame --quiet -q 9 -b 128 - '%2'")
                             .arg(seconds)
                             .arg(path)});
    }
    return path;
}

void BM_AddTaggedMp3(benchmark::State& state) {
    const QString source = LameTone(QStringLiteral("five_minutes.mp3"), 300);
    QStringList thousand;
    for (int i = 0; i < 10; ++i) {
        const QString copy = Dir() + QStringLiteral("%1_five_minutes.mp3").arg(i);
        QFile::copy(source, copy);
        for (int j = 0; j < 100; ++j) {
            thousand << copy;
        }
    }
    TimeAddingThousand(state, thousand);
}
BENCHMARK(BM_AddTaggedMp3)->Unit(benchmark::kMillisecond);

// An hour of MP3: a minute without a tag, sixty times over.
QString UntaggedHourMp3() {
    const QString path = Dir() + QStringLiteral("hour.mp3");
    if (QFileInfo::exists(path)) {
        return path;
    }
    const QString wav = Dir() + QStringLiteral("minute.wav");
    const QString minute = Dir() + QStringLiteral("minute.mp3");
    Run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "sine", "440", "gain", "-6"});
    Run("lame", {"--quiet", "-t", "-b", "128", wav, minute});
    QFile in(minute);
    QFile out(path);
    if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly)) {
        const QByteArray once = in.readAll();
        for (int i = 0; i < 60; ++i) {
            out.write(once);
        }
    }
    return path;
}

QString HourMp3(bool tagged) {
    return tagged ? LameTone(QStringLiteral("hour_tagged.mp3"), 3600) : UntaggedHourMp3();
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Indexed by the benchmark's argument: 0 without a tag, 1 with an Info frame.
double probeSeconds[2] = {};
double decodeSeconds[2] = {};
double ffmpegSeconds[2] = {};

void BM_ProbeHourMp3(benchmark::State& state) {
    const QString path = HourMp3(state.range(0) != 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProbeFile(path));
    }
    const auto start = std::chrono::steady_clock::now();
    ProbeFile(path);
    probeSeconds[state.range(0)] = Seconds(start);
}
BENCHMARK(BM_ProbeHourMp3)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DecodeHourMp3(benchmark::State& state) {
    const QString path = HourMp3(state.range(0) != 0);
    std::vector<char> buffer(20480);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const audio::StreamHandle h = audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
        while (audio::IsStreamActive(h)) {
            audio::ReadStreamData(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        }
        audio::FreeStream(h);
        decodeSeconds[state.range(0)] = Seconds(start);
    }
}
BENCHMARK(BM_DecodeHourMp3)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FfmpegDecodeHourMp3(benchmark::State& state) {
    const QString path = HourMp3(state.range(0) != 0);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!Run("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"})) {
            state.SkipWithError("ffmpeg failed");
        }
        ffmpegSeconds[state.range(0)] = Seconds(start);
    }
}
BENCHMARK(BM_FfmpegDecodeHourMp3)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    // Settings and language files of the benchmark's own, away from the build folder.
    platform::SetExeFolderForTesting(Dir());
    CreateForms();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    for (const int tagged : {0, 1}) {
        if (probeSeconds[tagged] > 0 && decodeSeconds[tagged] > 0 && ffmpegSeconds[tagged] > 0) {
            std::printf(
                "hour-long MP3 %s: probe %.1f ms, decode %.0f ms, ffmpeg decode %.0f ms, "
                "probe/decode = %.4f, probe/ffmpeg = %.4f\n",
                tagged ? "with Info frame" : "without tag", probeSeconds[tagged] * 1e3,
                decodeSeconds[tagged] * 1e3, ffmpegSeconds[tagged] * 1e3,
                probeSeconds[tagged] / decodeSeconds[tagged], probeSeconds[tagged] / ffmpegSeconds[tagged]);
        }
    }
    DestroyForms();
    benchmark::Shutdown();
    return 0;
}
