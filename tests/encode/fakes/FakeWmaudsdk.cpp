// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeControl.h"

#include <cstring>

// A stand-in for wmaudsdk.so whose writer records every call and answers as the test sets.
// Built once more without WMAudioCreateWriter (FAKE_OMIT_WMAudioCreateWriter).

namespace {

FakeWmaControl control;

class FakeWriter final : public WmaAudioWriter {
public:
    WmaStatus QueryInterface(const void*, void**) override { return WMA_E_NOTIMPL; }
    std::uint32_t AddRef() override { return ++references; }
    std::uint32_t Release() override {
        ++control.releaseCalls;
        const std::uint32_t left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    WmaStatus Unused3() override { return WMA_E_NOTIMPL; }
    WmaStatus SetInputFormat(const WAVEFORMATEX* format) override {
        ++control.inputCalls;
        std::memcpy(control.inputFormat, format, sizeof control.inputFormat);
        return control.inputResult;
    }
    WmaStatus SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate, std::uint32_t channels,
                              std::uint32_t reserved) override {
        ++control.outputCalls;
        control.outputArgs[0] = bitrate;
        control.outputArgs[1] = sampleRate;
        control.outputArgs[2] = channels;
        control.outputArgs[3] = reserved;
        return control.outputResult;
    }
    WmaStatus Unused6() override { return WMA_E_NOTIMPL; }
    WmaStatus WriteSamples(const void*, std::uint32_t bytes) override {
        ++control.writeCalls;
        control.bytesWritten += bytes;
        return control.writeResult;
    }
    WmaStatus Flush() override {
        ++control.flushCalls;
        return control.flushResult;
    }

private:
    ~FakeWriter() = default;
    std::uint32_t references = 1;
};

}  // namespace

extern "C" {

WMA_WRITER_EXPORT FakeWmaControl* FakeWmaControlBlock() {
    return &control;
}

#ifndef FAKE_OMIT_WMAudioCreateWriter
WMA_WRITER_EXPORT WmaStatus WMAudioCreateWriter(const char16_t* path, WmaAudioWriter** writer) {
    ++control.createCalls;
    std::size_t n = 0;
    for (; path[n] != 0 && n + 1 < sizeof control.path / sizeof control.path[0]; ++n) {
        control.path[n] = path[n];
    }
    control.path[n] = 0;
    if (control.createResult < 0) {
        *writer = nullptr;
        return control.createResult;
    }
    *writer = new FakeWriter;
    return WMA_OK;
}
#endif
}
