// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "encode/Mp3EncoderApi.h"
#include "encode/WmaWriterApi.h"

#include <cstdint>

// Control blocks of the fake encoder modules: a test sets how the fake answers and reads back
// what it was called with. The test keeps the fake loaded itself, so the block outlives the
// adapter that loads and unloads the same module.

struct FakeLameControl {
    Mp3Result initResult = MP3_OK;
    Mp3Result encodeResult = MP3_OK;
    std::uint32_t samplesPerChunk = 1152;
    std::uint32_t outputBufferSize = 4096;

    int initCalls = 0;
    int encodeCalls = 0;
    int deinitCalls = 0;
    int closeCalls = 0;
    int tagCalls = 0;
    int versionCalls = 0;
    std::uint32_t samplesReceived = 0;
    std::uint8_t config[sizeof(Mp3EncoderConfig)] = {};
};

struct FakeWmaControl {
    WmaStatus createResult = WMA_OK;
    WmaStatus inputResult = WMA_OK;
    WmaStatus outputResult = WMA_OK;
    WmaStatus writeResult = WMA_OK;
    WmaStatus flushResult = WMA_OK;

    int createCalls = 0;
    int inputCalls = 0;
    int outputCalls = 0;
    int writeCalls = 0;
    int flushCalls = 0;
    int releaseCalls = 0;
    std::uint64_t bytesWritten = 0;
    std::uint8_t inputFormat[sizeof(WAVEFORMATEX)] = {};
    std::uint32_t outputArgs[4] = {};
    char16_t path[256] = {};
};

extern "C" {
FakeLameControl* FakeLameControlBlock();
FakeWmaControl* FakeWmaControlBlock();
}
