#pragma once

#include <QString>
#include <QStringList>

namespace i18n {
class LanguageFile;
}

#include <array>
#include <cstdint>

// Probing an input file as the file list takes it in, and the texts of its row. Engine code: the
// main window and the command-line joiner share it.

enum class ProbeStatus { Accepted, NotSupport, NotPCM, NotMP3Info, NotWMAInfo };

struct AudioFileValues {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bits = 0;
    std::uint64_t sizeBytes = 0;  // WAV: data + 44; MP3 and WMA: the size on disk
    std::uint64_t seconds = 0;
};

struct ProbeResult {
    ProbeStatus status = ProbeStatus::NotSupport;
    AudioFileValues values;
};

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

// The extension of path's file name from its last '.', dot included; empty without a dot.
QString FileExtension(const QString& path);

// Sorts paths ascending, whole paths compared without regard to case by the user's locale.
void SortPaths(QStringList& paths);

// Probes one file by its extension: a ".wav" by its header (the header reader shows its own
// messages), ".mp3" and ".wma" by opening them as streams of the decoding layer.
ProbeResult ProbeFile(const QString& path);

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
