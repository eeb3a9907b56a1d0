// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "encode/WmaWriterApi.h"
#include "platform/Module.h"

#include <QString>

#include <cstdint>

// Encodes 16-bit PCM into a WMA file through the writer module wmaudsdk.so, loaded from the
// executable's folder, else from the installation's ../lib/wavestitch/. One adapter encodes one
// file: Init, any number of WriteChunk, Close.
class WavToWma {
public:
    // Loads the module and its entry point; a failure is shown here, once.
    WavToWma();
    // Finishes and releases a writer still held, then unloads the module.
    ~WavToWma();
    WavToWma(const WavToWma&) = delete;
    WavToWma& operator=(const WavToWma&) = delete;

    // bitrate in bit/s. Returns the bytes of PCM to pass to each WriteChunk (16384), or -1 after
    // showing a message. The output is always 44100 Hz stereo.
    int Init(const QString& outputPath, int sampleRate, int channels, int bitrate);
    // False when the writer failed; no message.
    bool WriteChunk(const std::int16_t* buffer, int byteCount);
    // True when the file was finished and the writer released, or there was none; false when the
    // flush failed (the writer is kept, and the destructor tries again).
    bool Close();

    // The input format record declared to the writer for 16-bit PCM.
    static WAVEFORMATEX InputFormat(int sampleRate, int channels);
    static QString ModuleFileName();

private:
    void ReleaseWriter();

    platform::Module library;
    WMAudioCreateWriterFunction createWriter = nullptr;
    WmaAudioWriter* writer = nullptr;
};
