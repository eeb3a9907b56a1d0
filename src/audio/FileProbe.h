// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Waveinf.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Probing an input file as the file list takes it in: its format, size and length. Engine code:
// the main window, the join and the command-line joiner share it.

// NotMediaInfo: a FLAC, Ogg, Opus, M4A or AIFF file (see audio::MediaFormatName) that cannot be read.
enum class ProbeStatus { Accepted, NotSupport, NotPCM, NotMP3Info, NotWMAInfo, NotMediaInfo };

// The window takes WAV, MP3 and WMA files; the command line also the media files FFmpeg decodes.
enum class InputFormats { Window, CommandLine };

struct AudioFileValues {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bits = 0;
    std::uint64_t sizeBytes = 0;  // WAV: data + 44; the others: the size on disk
    std::uint64_t seconds = 0;
    bool isFloat = false;  // IEEE float samples: a WAV of 32 or 64 bits, a float AIFF-C
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
// messages), ".mp3", ".wma" and, for the command line, the media files by opening them as streams of
// the decoding layer. The window takes WAV of 8- and 16-bit PCM only; the command line also deeper PCM
// and float. A media file's bits are those its stream delivers: a lossless one's own, a lossy one's 16.
ProbeResult ProbeFile(const QString& path, InputFormats formats = InputFormats::Window);
