// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Wavtomp3.h"

#include "mpeg/EncodeRates.h"
#include "platform/ExeFolder.h"
#include "platform/FilePath.h"
#include "platform/InstallLayout.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

const QString kCaption = QStringLiteral("Lame Encoder");
const QString kWriteFailed = QStringLiteral("Can not write the file.");

// Upper bounds (inclusive) of the requested bitrates and the bitrate each range is sent as.
struct BitrateStep {
    int upTo;
    int sent;
};
constexpr BitrateStep kBitrateSteps[] = {{36, 32},   {44, 40},   {52, 48},   {60, 56},   {67, 64},
                                         {88, 80},   {104, 96},  {120, 112}, {144, 128}, {176, 160},
                                         {208, 192}, {240, 224}, {288, 256}};

}  // namespace

QString WavToMp3::ModuleFileName() {
    return QStringLiteral("lame_enc.so");
}

int WavToMp3::SnapBitrate(int kbps) {
    const long requested = std::labs(kbps);
    for (const BitrateStep& step : kBitrateSteps) {
        if (requested <= step.upTo) {
            return step.sent;
        }
    }
    return 320;
}

int WavToMp3::EncodedKbps(int sampleRate, int kbps) {
    return mpeg::Mp3Bitrate(mpeg::Mp3SampleRate(sampleRate), SnapBitrate(kbps));
}

WavToMp3::WavToMp3() {
    if (!library.Load(platform::ModulePath(platform::ExeFolder(), ModuleFileName()))) {
        ShowMessage(QStringLiteral("Could not load %1 file").arg(ModuleFileName()));
        return;
    }
    // Looked up in this order; the first one missing is named and the later ones stay null.
    const auto lookup = [this](auto& entry, const char* name) {
        entry = library.Lookup<std::remove_reference_t<decltype(entry)>>(name);
        if (entry == nullptr) {
            ShowMessage(QStringLiteral("Could not found %1 library function").arg(QLatin1String(name)));
        }
        return entry != nullptr;
    };
    if (lookup(beInitStream, "beInitStream") && lookup(beEncodeChunk, "beEncodeChunk") &&
        lookup(beVersion, "beVersion") && lookup(beDeinitStream, "beDeinitStream") &&
        lookup(beCloseStream, "beCloseStream")) {
        beGetInfoTag = library.Lookup<BeGetInfoTagFunction>("beGetInfoTag");
    }
}

WavToMp3::~WavToMp3() {
    // An encode left open is finished, so the frames encoded so far make a playable file.
    Close();
    beInitStream = nullptr;
    beEncodeChunk = nullptr;
    beVersion = nullptr;
    beDeinitStream = nullptr;
    beCloseStream = nullptr;
    beGetInfoTag = nullptr;
    library.Free();
}

int WavToMp3::Init(const QString& outputPath, int sampleRate, int channelMode, int bitrate, bool copyright,
                   bool crc, bool original, bool privateFlag, const QByteArray& leadingTag) {
    if (beInitStream == nullptr || beEncodeChunk == nullptr || beVersion == nullptr ||
        beDeinitStream == nullptr || beCloseStream == nullptr || stream != nullptr) {
        return -1;
    }
    Mp3EncoderConfig config;
    std::memset(&config, 0, sizeof config);
    config.kind = MP3_CONFIG_MP3;
    config.sampleRate = static_cast<std::uint32_t>(sampleRate);
    config.mode = channelMode >= 1 && channelMode <= 4 ? static_cast<std::uint8_t>(channelMode - 1) : 0;
    config.bitrate = static_cast<std::uint16_t>(SnapBitrate(bitrate));
    config.privateFlag = privateFlag ? 1 : 0;
    config.crc = crc ? 1 : 0;
    config.copyright = copyright ? 1 : 0;
    config.original = original ? 1 : 0;

    std::uint32_t samplesPerChunk = 0;
    std::uint32_t outputBufferSize = 0;
    Mp3Stream opened = nullptr;
    const Mp3Result result = beInitStream(&config, &samplesPerChunk, &outputBufferSize, &opened);
    if (result == MP3_OK && samplesPerChunk == 0 && opened != nullptr) {
        // A module that takes no samples per call could never be fed; refuse it like a failed start.
        beCloseStream(opened);
        opened = nullptr;
    }
    if (result != MP3_OK || opened == nullptr) {
        ShowMessage(QStringLiteral("Could not initialize Lame encoder"));
        return -1;
    }
    file.reset(std::fopen(platform::EncodeName(outputPath).constData(), "wb"));
    if (!file) {
        // Nothing is written, and the stream the module opened is not left behind.
        beCloseStream(opened);
        ShowMessage(QStringLiteral("Can not create the file."));
        return -1;
    }
    stream = opened;
    outputBuffer.assign(std::max<std::uint32_t>(outputBufferSize, 1), 0);
    chunkBytes = static_cast<int>(samplesPerChunk * 2);
    writeFailed = false;
    firstFrameOffset = static_cast<long>(leadingTag.size());
    if (!leadingTag.isEmpty() && std::fwrite(leadingTag.constData(), 1, leadingTag.size(), file.get()) !=
                                     static_cast<std::size_t>(leadingTag.size())) {
        writeFailed = true;
        ShowMessage(kWriteFailed);
    }
    return chunkBytes;
}

int WavToMp3::EncodeChunk(const std::int16_t* buffer, int byteCount) {
    if (stream == nullptr) {
        return -1;
    }
    int written = 0;
    int done = 0;
    // A buffer longer than the chunk is passed in chunks, so the module's output always fits.
    do {
        const int piece = std::min(std::max(byteCount - done, 0), chunkBytes);
        outputBytes = 0;
        if (beEncodeChunk(stream, static_cast<std::uint32_t>(piece / 2), buffer + done / 2,
                          outputBuffer.data(), &outputBytes) != MP3_OK) {
            ShowMessage(QStringLiteral("Could not perform compression"));
            return -1;
        }
        if (!WriteOutput(outputBytes)) {
            return -1;
        }
        written += static_cast<int>(outputBytes);
        done += piece;
    } while (done < byteCount);
    return written;
}

bool WavToMp3::Close() {
    if (stream == nullptr) {
        return !writeFailed;
    }
    outputBytes = 0;
    const bool ended = beDeinitStream(stream, outputBuffer.data(), &outputBytes) == MP3_OK;
    if (!ended && !writeFailed) {
        ShowMessage(QStringLiteral("Could not perform compression"));
    }
    if (ended && WriteOutput(outputBytes) && beGetInfoTag != nullptr) {
        // The tag frame replaces the placeholder frame at the start of the file. A pipe or FIFO
        // cannot go back to it; there the placeholder stays, and plays as a frame of silence.
        std::uint32_t tagBytes = 0;
        if (beGetInfoTag(stream, outputBuffer.data(), static_cast<std::uint32_t>(outputBuffer.size()),
                         &tagBytes) == MP3_OK &&
            tagBytes > 0) {
            if (std::fflush(file.get()) != 0) {
                writeFailed = true;
                ShowMessage(kWriteFailed);
            } else if (std::fseek(file.get(), firstFrameOffset, SEEK_SET) == 0) {
                WriteOutput(tagBytes);
            } else if (errno != ESPIPE) {
                writeFailed = true;
                ShowMessage(kWriteFailed);
            }
        }
    }
    beCloseStream(stream);
    stream = nullptr;
    outputBuffer.clear();
    outputBuffer.shrink_to_fit();
    // Buffered data reaches the disk only now, so a full disk may first show here.
    if (std::fclose(file.release()) != 0 && !writeFailed) {
        writeFailed = true;
        ShowMessage(kWriteFailed);
    }
    return ended && !writeFailed;
}

bool WavToMp3::WriteOutput(std::uint32_t bytes) {
    if (writeFailed) {
        return false;
    }
    if (bytes > 0 && std::fwrite(outputBuffer.data(), 1, bytes, file.get()) != bytes) {
        writeFailed = true;
        ShowMessage(kWriteFailed);
        return false;
    }
    return true;
}

void WavToMp3::ShowMessage(const QString& text) const {
    platform::MessageBox(text, kCaption, platform::MB_OK);
}
