// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding layer opening and reading arbitrary bytes as a FLAC, Ogg, Opus, M4A or AIFF file: the
// first byte chooses the name's extension, the rest is the file.
#include "FuzzDecodeStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kNames[] = {"input.flac", "input.ogg", "input.opus", "input.m4a", "input.aiff"};
    if (size == 0) {
        return 0;
    }
    fuzz::DecodeAll(data + 1, size - 1, fuzz::Kind::Media, QLatin1String(kNames[data[0] % 5]));
    return 0;
}
