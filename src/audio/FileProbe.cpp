// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/FileProbe.h"

#include "audio/Decoder.h"
#include "audio/MediaStream.h"
#include "audio/Waveinf.h"
#include "platform/FilePath.h"

#include <QCollator>

#include <algorithm>
#include <cmath>

namespace {

ProbeResult ProbeStream(const QString& path, audio::OpenFunction open, ProbeStatus rejection) {
    ProbeResult result;
    const audio::StreamHandle stream = open(false, path, 0, 0, 0);
    if (stream == 0) {
        result.status = rejection;
        return result;
    }
    audio::StreamInfoRecord info;
    audio::GetStreamInfo(stream, &info);
    AudioFileValues& v = result.values;
    v.sampleRate = static_cast<std::int32_t>(info.freq);
    v.channels = static_cast<std::int32_t>(info.chans);
    v.bits = static_cast<std::int32_t>(audio::SampleBits(info));
    v.isFloat = (info.flags & audio::SAMPLE_FLOAT) != 0;
    const platform::FileStatus entry(path);
    v.sizeBytes = entry.IsDir() ? 0 : static_cast<std::uint64_t>(std::max<qint64>(entry.Size(), 0));
    // The whole 64-bit length: recordings longer than 6 h 45 min keep their true duration.
    const double seconds = audio::BytesToSeconds(stream, audio::GetStreamLength(stream, audio::POS_BYTE));
    v.seconds = seconds > 0 ? static_cast<std::uint64_t>(std::trunc(seconds)) : 0;
    audio::FreeStream(stream);
    result.status = ProbeStatus::Accepted;
    return result;
}

}  // namespace

QString FileExtension(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

void SortPaths(QStringList& paths) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(paths.begin(), paths.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

ProbeResult ProbeFile(const QString& path, InputFormats formats) {
    const QString extension = FileExtension(path);
    if (extension.compare(QLatin1String(".wav"), Qt::CaseInsensitive) == 0) {
        ProbeResult result;
        WaveHeaderInfo info;
        const WavSamples wavSamples =
            formats == InputFormats::CommandLine ? WavSamples::AnyPcmOrFloat : WavSamples::Pcm8Or16;
        if (!ReadWaveHeader(path, info, wavSamples)) {
            result.status = ProbeStatus::NotPCM;
            return result;
        }
        result.status = ProbeStatus::Accepted;
        result.values = {info.sampleRate, info.channels, info.bitsPerSample,
                         info.fileSize,   info.seconds,  info.isFloat};
        return result;
    }
    if (extension.compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0) {
        return ProbeStream(path, audio::OpenFileStream, ProbeStatus::NotMP3Info);
    }
    if (extension.compare(QLatin1String(".wma"), Qt::CaseInsensitive) == 0) {
        return ProbeStream(path, audio::OpenWmaFileStream, ProbeStatus::NotWMAInfo);
    }
    if (formats == InputFormats::CommandLine && audio::MediaFormatName(path) != nullptr) {
        return ProbeStream(path, audio::OpenMediaFileStream, ProbeStatus::NotMediaInfo);
    }
    return {};
}
