// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Decoder.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Generated test signals, independent decoding and comparison for the encoder tests.
namespace encodetest {

inline QString TempDir() {
    static QTemporaryDir dir;
    return dir.path() + '/';
}

// Interleaved 16-bit PCM: each channel its own pitch, rising slightly so that no two stretches of
// the signal look alike (a plain sine would let a shifted decode pass for an aligned one).
inline std::vector<std::int16_t> Tone(int rate, int channels, int frames) {
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double pitch = 330.0 + 110.0 * c;
            const double phase = 2 * M_PI * (pitch * t + 150.0 * t * t);
            pcm[static_cast<std::size_t>(i) * channels + c] =
                static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
        }
    }
    return pcm;
}

// Gaussian noise of the given level, the same for the same seed.
inline std::vector<std::int16_t> Noise(int channels, int frames, unsigned seed, double level = 6000) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0, level);
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * channels);
    for (std::int16_t& s : pcm) {
        s = static_cast<std::int16_t>(std::clamp(gauss(rng), -32768.0, 32767.0));
    }
    return pcm;
}

// The chirp with a little noise under it, so every frame has work for the encoder.
inline std::vector<std::int16_t> Music(int rate, int channels, int frames) {
    std::vector<std::int16_t> pcm = Tone(rate, channels, frames);
    const std::vector<std::int16_t> hiss = Noise(channels, frames, 3, 800);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(pcm[i] + hiss[i]);
    }
    return pcm;
}

// Signal-to-noise ratio in dB of decoded against reference over the reference's length, both
// interleaved with the same channel count and aligned at sample 0.
inline double Snr(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded,
                  std::size_t from = 0, std::size_t count = SIZE_MAX) {
    const std::size_t end = std::min(reference.size(), count == SIZE_MAX ? reference.size() : from + count);
    double signal = 0;
    double noise = 0;
    for (std::size_t i = from; i < end; ++i) {
        const double x = reference[i];
        const double y = i < decoded.size() ? decoded[i] : 0.0;
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

inline std::vector<std::int16_t> ToSamples(const QByteArray& bytes) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::copy_n(bytes.constData(), samples.size() * 2, reinterpret_cast<char*>(samples.data()));
    return samples;
}

// The file decoded by the ffmpeg command line to interleaved 16-bit PCM.
inline std::vector<std::int16_t> DecodeWithFfmpeg(const QString& path) {
    QProcess process;
    process.start("ffmpeg", {"-v", "error", "-i", path, "-f", "s16le", "-"});
    process.waitForFinished(-1);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return ToSamples(process.readAllStandardOutput());
}

// The samples each file decodes to through the ffmpeg command line: one run for them all, since
// starting ffmpeg takes longer than decoding a short file.
inline std::vector<std::size_t> DecodedSizesWithFfmpeg(const QStringList& paths) {
    QStringList inputs;
    QStringList outputs;
    for (int i = 0; i < paths.size(); ++i) {
        inputs << "-i" << paths[i];
        outputs << "-map" << QString("%1:a").arg(i) << "-f"
                << "s16le" << paths[i] + ".raw";
    }
    QProcess process;
    process.start("ffmpeg", QStringList{"-v", "error", "-y"} + inputs + outputs);
    process.waitForFinished(-1);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    std::vector<std::size_t> sizes;
    for (const QString& path : paths) {
        sizes.push_back(static_cast<std::size_t>(QFileInfo(path + ".raw").size()) / 2);
    }
    return sizes;
}

struct Decoded {
    audio::StreamInfoRecord info;
    std::vector<std::int16_t> samples;
    std::size_t Frames() const { return info.chans ? samples.size() / info.chans : 0; }
};

// The file decoded by our own decoding layer, the way the join reads its inputs.
inline Decoded DecodeWithLayer(const QString& path, bool wma) {
    Decoded d{};
    const audio::StreamHandle h = wma ? audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
                                      : audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
    if (h == 0) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        return d;
    }
    audio::GetStreamInfo(h, &d.info);
    QByteArray bytes;
    std::vector<char> buffer(20480);
    while (audio::IsStreamActive(h)) {
        const std::uint32_t n =
            audio::ReadStreamData(h, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (n == 0) {
            break;
        }
        bytes.append(buffer.data(), n);
    }
    audio::FreeStream(h);
    d.samples = ToSamples(bytes);
    return d;
}

// "key=value" lines of ffprobe for the first audio stream.
inline QString Probe(const QString& path, const QString& entries) {
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=" + entries,
                              "-of", "default=noprint_wrappers=1", path});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// An environment variable the encoder modules read, set for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace encodetest
