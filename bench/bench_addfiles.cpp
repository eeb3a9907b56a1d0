// Adding files: 1,000 WAV, MP3 and WMA files through the main window's AddFiles, reported per file;
// and probing an hour-long MP3 beside decoding it, with the ratio of the two.
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

void BM_AddFiles(benchmark::State& state) {
    const QStringList inputs = Inputs();
    QStringList thousand;
    for (int i = 0; i < 1000; ++i) {
        thousand << inputs[i % inputs.size()];
    }
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
    state.counters["per_file"] =
        benchmark::Counter(1000.0 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddFiles)->Unit(benchmark::kMillisecond);

// An hour of MP3: a minute without a tag, sixty times over.
QString HourMp3() {
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

double probeSeconds = 0;
double decodeSeconds = 0;

void BM_ProbeHourMp3(benchmark::State& state) {
    const QString path = HourMp3();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProbeFile(path));
    }
    const auto start = std::chrono::steady_clock::now();
    ProbeFile(path);
    probeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
BENCHMARK(BM_ProbeHourMp3)->Unit(benchmark::kMillisecond);

void BM_DecodeHourMp3(benchmark::State& state) {
    const QString path = HourMp3();
    std::vector<char> buffer(20480);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const audio::StreamHandle h = audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
        while (audio::IsStreamActive(h)) {
            audio::ReadStreamData(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        }
        audio::FreeStream(h);
        decodeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
}
BENCHMARK(BM_DecodeHourMp3)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    // Settings and language files of the benchmark's own, away from the build folder.
    platform::SetExeFolderForTesting(Dir());
    CreateForms();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (probeSeconds > 0 && decodeSeconds > 0) {
        std::printf("hour-long MP3: probe %.1f ms, decode %.0f ms, probe/decode = %.4f\n", probeSeconds * 1e3,
                    decodeSeconds * 1e3, probeSeconds / decodeSeconds);
    }
    DestroyForms();
    benchmark::Shutdown();
    return 0;
}
