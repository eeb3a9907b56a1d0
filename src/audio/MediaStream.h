// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/DecodeStream.h"

#include <QString>

#include <memory>

namespace audio {

// The name of the format that path's extension claims among those decoded through FFmpeg besides
// WMA ("FLAC", "Ogg", "Opus", "M4A", "AIFF"); nullptr for any other extension.
const char* MediaFormatName(const QString& path);

namespace detail {

// A FLAC, Ogg (Vorbis, Opus or FLAC), Opus, M4A (AAC or ALAC) or AIFF file, told by its content:
// nullptr unless FFmpeg recognises the content as the format its extension claims.
std::unique_ptr<DecodeStream> OpenMediaStream(const QString& path);

}  // namespace detail
}  // namespace audio
