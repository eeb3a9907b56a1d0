// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeControl.h"

#include <cstring>

// A stand-in for lame_enc.so that records its configuration and answers as the test sets.
// Each encode call produces "FR" and the sample count (4 bytes), the end "LAST", the tag "TAG!".
// Built several times, each build leaving out one entry point (FAKE_OMIT_...).

struct Mp3StreamState {
    int unused = 0;
};

namespace {
FakeLameControl control;
Mp3StreamState theStream;
}  // namespace

extern "C" {

MP3_ENCODER_EXPORT FakeLameControl* FakeLameControlBlock() {
    return &control;
}

#ifndef FAKE_OMIT_beInitStream
MP3_ENCODER_EXPORT Mp3Result beInitStream(const Mp3EncoderConfig* config, std::uint32_t* samplesPerChunk,
                                          std::uint32_t* outputBufferSize, Mp3Stream* stream) {
    ++control.initCalls;
    std::memcpy(control.config, config, sizeof control.config);
    if (control.initResult != MP3_OK) {
        return control.initResult;
    }
    *samplesPerChunk = control.samplesPerChunk;
    *outputBufferSize = control.outputBufferSize;
    *stream = &theStream;
    return MP3_OK;
}
#endif

#ifndef FAKE_OMIT_beEncodeChunk
MP3_ENCODER_EXPORT Mp3Result beEncodeChunk(Mp3Stream, std::uint32_t sampleCount, const std::int16_t*,
                                           std::uint8_t* output, std::uint32_t* outputBytes) {
    ++control.encodeCalls;
    if (control.encodeResult != MP3_OK) {
        return control.encodeResult;
    }
    control.samplesReceived += sampleCount;
    output[0] = 'F';
    output[1] = 'R';
    output[2] = static_cast<std::uint8_t>(sampleCount & 0xFF);
    output[3] = static_cast<std::uint8_t>(sampleCount >> 8);
    *outputBytes = 4;
    return MP3_OK;
}
#endif

#ifndef FAKE_OMIT_beVersion
MP3_ENCODER_EXPORT void beVersion(Mp3EncoderVersion*) {
    ++control.versionCalls;
}
#endif

#ifndef FAKE_OMIT_beDeinitStream
MP3_ENCODER_EXPORT Mp3Result beDeinitStream(Mp3Stream, std::uint8_t* output, std::uint32_t* outputBytes) {
    ++control.deinitCalls;
    std::memcpy(output, "LAST", 4);
    *outputBytes = 4;
    return MP3_OK;
}
#endif

#ifndef FAKE_OMIT_beCloseStream
MP3_ENCODER_EXPORT Mp3Result beCloseStream(Mp3Stream) {
    ++control.closeCalls;
    return MP3_OK;
}
#endif

#ifndef FAKE_OMIT_beGetInfoTag
MP3_ENCODER_EXPORT Mp3Result beGetInfoTag(Mp3Stream, std::uint8_t* output, std::uint32_t,
                                          std::uint32_t* outputBytes) {
    ++control.tagCalls;
    std::memcpy(output, "TAG!", 4);
    *outputBytes = 4;
    return MP3_OK;
}
#endif
}
