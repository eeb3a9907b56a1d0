// SPDX-License-Identifier: GPL-3.0-or-later
// ReadWaveHeader on arbitrary bytes, as the file list probes every ".wav" it is given.
#include "FuzzSupport.h"
#include "audio/Waveinf.h"

#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceMessages();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size), std::ios::binary);
    WaveHeaderInfo info;
    if (ReadWaveHeader(in, size, info)) {
        FUZZ_CHECK(info.bitsPerSample == 8 || info.bitsPerSample == 16);
        // The data size is clamped to what the file holds after the 44 bytes of the smallest header.
        FUZZ_CHECK(std::uint64_t{info.dataSize} + 44 <= size);
        FUZZ_CHECK(info.fileSize == std::uint64_t{info.dataSize} + 44);
    }
    return 0;
}
