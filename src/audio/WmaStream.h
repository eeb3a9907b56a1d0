// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/DecodeStream.h"

#include <QString>

#include <memory>

namespace audio::detail {

// The audio of an ASF file (WMA, or whatever audio codec FFmpeg can decode in it), converted by
// libswresample to signed 16-bit with more than two channels mixed down to stereo. The length is the
// container's, known without decoding.
std::unique_ptr<DecodeStream> OpenWmaStream(const QString& path);

}  // namespace audio::detail
