#include "app/FileProbe.h"

#include "audio/Decoder.h"
#include "audio/Waveinf.h"
#include "i18n/Language.h"

#include <QCollator>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

using OpenFunction = audio::StreamHandle (*)(bool, const QString&, std::uint64_t, std::uint64_t,
                                             std::uint32_t);

ProbeResult ProbeStream(const QString& path, OpenFunction open, ProbeStatus rejection) {
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
    v.bits = info.flags == audio::SAMPLE_8BITS ? 8 : info.flags == audio::SAMPLE_FLOAT ? 32 : 16;
    const QFileInfo entry(path);
    v.sizeBytes = entry.isDir() ? 0 : static_cast<std::uint64_t>(std::max<qint64>(entry.size(), 0));
    // The whole 64-bit length: recordings longer than 6 h 45 min keep their true duration.
    const double seconds = audio::BytesToSeconds(stream, audio::GetStreamLength(stream, audio::POS_BYTE));
    v.seconds = seconds > 0 ? static_cast<std::uint64_t>(std::trunc(seconds)) : 0;
    audio::FreeStream(stream);
    result.status = ProbeStatus::Accepted;
    return result;
}

QString TwoDigits(std::uint64_t value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
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

ProbeResult ProbeFile(const QString& path) {
    const QString extension = FileExtension(path);
    if (extension.compare(QLatin1String(".wav"), Qt::CaseInsensitive) == 0) {
        ProbeResult result;
        WaveHeaderInfo info;
        if (!ReadWaveHeader(path, info)) {
            result.status = ProbeStatus::NotPCM;
            return result;
        }
        result.status = ProbeStatus::Accepted;
        result.values = {info.sampleRate, info.channels, info.bitsPerSample, info.fileSize, info.seconds};
        return result;
    }
    if (extension.compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0) {
        return ProbeStream(path, audio::OpenFileStream, ProbeStatus::NotMP3Info);
    }
    if (extension.compare(QLatin1String(".wma"), Qt::CaseInsensitive) == 0) {
        return ProbeStream(path, audio::OpenWmaFileStream, ProbeStatus::NotWMAInfo);
    }
    return {};
}

RowWords LanguageRowWords(const i18n::LanguageFile* languageIni) {
    const QString section = QStringLiteral("ListView");
    return {i18n::LanguageText(languageIni, section, QStringLiteral("Bits"), QString()),
            i18n::LanguageText(languageIni, section, QStringLiteral("Mono"), QString()),
            i18n::LanguageText(languageIni, section, QStringLiteral("Stereo"), QString())};
}

QString RejectionKey(ProbeStatus status) {
    switch (status) {
        case ProbeStatus::NotPCM:
            return QStringLiteral("NotPCM");
        case ProbeStatus::NotMP3Info:
            return QStringLiteral("NotMP3Info");
        case ProbeStatus::NotWMAInfo:
            return QStringLiteral("NotWMAInfo");
        case ProbeStatus::NotSupport:
            return QStringLiteral("NotSupport");
        case ProbeStatus::Accepted:
            break;
    }
    return QString();
}

QString SizeText(std::uint64_t bytes) {
    const std::uint64_t kb = std::max<std::uint64_t>(bytes / 1024, 1);
    if (kb < 1024) {
        return QString::number(kb) + QStringLiteral(" KB");
    }
    const std::uint64_t figure = std::min<std::uint64_t>((kb % 1024) / 100, 9);
    return QString::number(kb / 1024) + QLatin1Char('.') + QString::number(figure) + QStringLiteral(" MB");
}

QString DurationText(std::uint64_t seconds) {
    const std::uint64_t h = seconds / 3600;
    const std::uint64_t m = (seconds % 3600) / 60;
    const std::uint64_t s = seconds % 60;
    return (h > 0 ? QString::number(h) + QLatin1Char(':') : QString()) + TwoDigits(m) + QLatin1Char(':') +
           TwoDigits(s);
}

QString ClockText(std::uint64_t seconds) {
    return TwoDigits(seconds / 3600) + QLatin1Char(':') + TwoDigits((seconds % 3600) / 60) +
           QLatin1Char(':') + TwoDigits(seconds % 60);
}

QString ChannelsText(const QString& channels, const RowWords& words) {
    return channels == QLatin1String("1") ? words.mono : words.stereo;
}

QString BitsText(const QString& bits, const RowWords& words) {
    return bits + QLatin1Char(' ') + words.bits;
}

AudioFileRowTexts MakeRowTexts(const QString& path, const AudioFileValues& values, const RowWords& words) {
    AudioFileRowTexts row;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    row.caption = path.mid(slash + 1);
    const QString channels = QString::number(values.channels);
    const QString bits = QString::number(values.bits);
    row.subItems = {
        QString::number(values.sampleRate) + QStringLiteral(" Hz"),
        ChannelsText(channels, words),
        BitsText(bits, words),
        SizeText(values.sizeBytes),
        DurationText(values.seconds),
        path.left(slash + 1),
        QString::number(values.sampleRate),
        channels,
        bits,
        QString::number(values.seconds),
    };
    return row;
}
