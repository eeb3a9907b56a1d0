// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/FfmpegOwners.h"

// The FFmpeg owners the writer holds.
namespace wmaudsdk {

using FormatContextPtr = ffmpeg::OutputPtr;
using ffmpeg::AudioFifoPtr;
using ffmpeg::CodecContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::SwrContextPtr;

}  // namespace wmaudsdk
