// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace audio {

// Opens FFmpeg now, if nothing has yet, and keeps it open for the rest of the run, as a first call
// of any of its functions does. The WMA writer module links FFmpeg itself: opened first, FFmpeg
// stays when the module is unloaded, rather than being loaded again, and what its libraries set
// up on loading lost, at every WMA join.
void KeepFfmpegOpen();

}  // namespace audio
