// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding layer opening and reading arbitrary bytes as an ".mp3" file.
#include "FuzzDecodeStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::DecodeAll(data, size, fuzz::Kind::Mp3, QStringLiteral("input.mp3"));
    return 0;
}
