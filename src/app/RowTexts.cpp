// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RowTexts.h"

#include "i18n/Language.h"

#include <algorithm>

namespace {

QString TwoDigits(std::uint64_t value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

}  // namespace

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
        // Only the command line takes these files; the language files have no words for them.
        case ProbeStatus::NotMediaInfo:
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
    // Float samples are told from integers of the same width: "32f".
    const QString bits = QString::number(values.bits) + (values.isFloat ? QStringLiteral("f") : QString());
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
