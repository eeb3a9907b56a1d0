// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "encode/Mp3EncoderApi.h"
#include "platform/Module.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Encodes 16-bit PCM into an MP3 file through the encoder module lame_enc.so, loaded from the
// executable's folder, else from the installation's ../lib/wavestitch/. One adapter encodes one
// file: Init, any number of EncodeChunk, Close.
class WavToMp3 {
public:
    // Loads the module and its entry points; a failure is shown here, once.
    WavToMp3();
    // Finishes an encode that was not closed, then unloads the module.
    ~WavToMp3();
    WavToMp3(const WavToMp3&) = delete;
    WavToMp3& operator=(const WavToMp3&) = delete;

    // channelMode: 1 stereo, 2 joint stereo, 3 dual channel, 4 mono. leadingTag (an ID3v2 tag) is
    // written before the first frame. Returns the bytes of PCM to pass to each EncodeChunk, or -1
    // after showing a message.
    int Init(const QString& outputPath, int sampleRate, int channelMode, int bitrate, bool copyright,
             bool crc, bool original, bool privateFlag, const QByteArray& leadingTag = {});
    // Returns the MP3 bytes written for this buffer (0 while the encoder collects data), or -1
    // after showing a message.
    int EncodeChunk(const std::int16_t* buffer, int byteCount);
    // Finishes the file. False when the encoder or a write failed at the end (its message shown),
    // or an earlier write had failed.
    bool Close();

    // The bitrate in kbps sent to the encoder for a requested one.
    static int SnapBitrate(int kbps);
    // The bitrate in kbps our module encodes for a requested one, with PCM at sampleRate.
    static int EncodedKbps(int sampleRate, int kbps);
    // The file name of the module.
    static QString ModuleFileName();

private:
    struct FileClose {
        void operator()(std::FILE* handle) const { std::fclose(handle); }
    };

    bool WriteOutput(std::uint32_t bytes);
    void ShowMessage(const QString& text) const;

    platform::Module library;
    BeInitStreamFunction beInitStream = nullptr;
    BeEncodeChunkFunction beEncodeChunk = nullptr;
    BeVersionFunction beVersion = nullptr;
    BeDeinitStreamFunction beDeinitStream = nullptr;
    BeCloseStreamFunction beCloseStream = nullptr;
    // Optional: rewrites the first frame with the finished information tag.
    BeGetInfoTagFunction beGetInfoTag = nullptr;
    Mp3Stream stream = nullptr;
    std::uint32_t outputBytes = 0;
    std::unique_ptr<std::FILE, FileClose> file;
    std::vector<std::uint8_t> outputBuffer;
    int chunkBytes = 0;
    // Where the first frame starts, which the information tag replaces at the end.
    long firstFrameOffset = 0;
    // After the first failed write nothing more is written, so the user sees one message.
    bool writeFailed = false;
};
