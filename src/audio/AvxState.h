// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace audio::detail {

// Decoders written for SSE (libmpg123's, some of FFmpeg's) run several times slower while the upper
// halves of the AVX registers hold data: each of their instructions then waits to merge them. Code
// that leaves them so is common on the window's thread (Qt 6.4's string hashing does), so every call
// into a decoder clears them first. Does nothing on processors without AVX.
void ClearUpperAvx();

}  // namespace audio::detail
