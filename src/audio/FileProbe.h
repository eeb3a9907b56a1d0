// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Waveinf.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Probing an input file as the file list takes it in: its format, size and length. Engine code:
// the main window, the join and the command-line joiner share it.

enum class ProbeStatus { Accepted, NotSupport, NotPCM, NotMP3Info, NotWMAInfo };

struct AudioFileValues {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bits = 0;
    std::uint64_t sizeBytes = 0;  // WAV: data + 44; MP3 and WMA: the size on disk
    std::uint64_t seconds = 0;
    bool isFloat = false;  // IEEE float samples: a WAV of 32 or 64 bits
};

struct ProbeResult {
    ProbeStatus status = ProbeStatus::NotSupport;
    AudioFileValues values;
};

// The extension of path's file name from its last '.', dot included; empty without a dot.
QString FileExtension(const QString& path);

// Sorts paths ascending, whole paths compared without regard to case by the user's locale.
void SortPaths(QStringList& paths);

// Probes one file by its extension: a ".wav" by its header (the header reader shows its own
// messages), ".mp3" and ".wma" by opening them as streams of the decoding layer. wavSamples: the
// WAV sample formats accepted; the window takes 8- and 16-bit PCM only.
ProbeResult ProbeFile(const QString& path, WavSamples wavSamples = WavSamples::Pcm8Or16);
