// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the tags of 1,000 tagged MP3 files (ID3v2.3 with a cover, ID3v1 behind), with our own
// reader and with FFmpeg's demuxer, reported per file.
#include "BenchFiles.h"
#include "audio/TagReader.h"

#include <QFile>
#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

using bench::Dir;
using bench::Run;

// A thousand distinct files, so each read opens a file of its own as a join of many parts does.
const QStringList& Inputs() {
    static QStringList inputs;
    if (!inputs.isEmpty()) {
        return inputs;
    }
    const QString wav = Dir() + QStringLiteral("tone.wav");
    const QString cover = Dir() + QStringLiteral("cover.png");
    const QString plain = Dir() + QStringLiteral("plain.mp3");
    const QString tagged = Dir() + QStringLiteral("tagged.mp3");
    Run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "2", "sine", "440", "gain", "-6"});
    Run("lame", {"--quiet", "-b", "128", wav, plain});
    Run("ffmpeg",
        {"-v", "error", "-f", "lavfi", "-i", "color=c=red:s=300x300", "-frames:v", "1", "-y", cover});
    Run("ffmpeg", {"-v",
                   "error",
                   "-i",
                   plain,
                   "-i",
                   cover,
                   "-map",
                   "0",
                   "-map",
                   "1",
                   "-c",
                   "copy",
                   "-disposition:v",
                   "attached_pic",
                   "-id3v2_version",
                   "3",
                   "-write_id3v1",
                   "1",
                   "-metadata",
                   "title=A title",
                   "-metadata",
                   "artist=An artist",
                   "-metadata",
                   "album=An album",
                   "-metadata",
                   "date=2001",
                   "-metadata",
                   "genre=Pop",
                   "-metadata",
                   "track=3/9",
                   "-y",
                   tagged});
    for (int i = 0; i < 1000; ++i) {
        const QString copy = Dir() + QStringLiteral("%1.mp3").arg(i);
        QFile::copy(tagged, copy);
        inputs << copy;
    }
    return inputs;
}

void TimeReading(benchmark::State& state, AudioTags (*read)(const QString&)) {
    const QStringList& inputs = Inputs();
    for (auto _ : state) {
        for (const QString& path : inputs) {
            const AudioTags tags = read(path);
            if (tags.title.isEmpty() || tags.cover.isEmpty()) {
                state.SkipWithError("a file without its tags");
            }
        }
    }
    state.counters["per_file"] =
        benchmark::Counter(1000.0 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ReadTags(benchmark::State& state) {
    TimeReading(state, ReadTags);
}
BENCHMARK(BM_ReadTags)->Unit(benchmark::kMillisecond);

void BM_ReadTagsWithFfmpeg(benchmark::State& state) {
    TimeReading(state, ReadTagsWithFfmpeg);
}
BENCHMARK(BM_ReadTagsWithFfmpeg)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
