// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/FileProbe.h"

#include <QString>

#include <array>
#include <cstdint>

namespace i18n {
class LanguageFile;
}

// The texts of a file list row, made from a probed file. Engine code: the main window and the
// command-line joiner's --info share it.

// The language words a row's cells are made of: [ListView] Bits, Mono and Stereo.
struct RowWords {
    QString bits;
    QString mono;
    QString stereo;
};

// The row words of a language file; empty where the file has none.
RowWords LanguageRowWords(const i18n::LanguageFile* languageIni);

// A row: its caption (the file name) and its ten sub-items, as the file list holds them.
struct AudioFileRowTexts {
    QString caption;
    std::array<QString, 10> subItems;
};

// The [OpenDialog] key of a rejection's text.
QString RejectionKey(ProbeStatus status);

// "1023 KB", "1.5 MB": at least 1 KB; one figure after the point, 9 for remainders of 1000 KB or more.
QString SizeText(std::uint64_t bytes);

// "00:59", "01:05", "1:02:05": hours only when there are any.
QString DurationText(std::uint64_t seconds);

// "00:00:00", "01:02:05", "100:00:00": hours always, at least two digits.
QString ClockText(std::uint64_t seconds);

// The caption and sub-items of an accepted file's row.
AudioFileRowTexts MakeRowTexts(const QString& path, const AudioFileValues& values, const RowWords& words);

// Sub-item 1 and sub-item 2 of a row: the channel word and the bits text.
QString ChannelsText(const QString& channels, const RowWords& words);
QString BitsText(const QString& bits, const RowWords& words);
