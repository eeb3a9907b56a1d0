// SPDX-License-Identifier: GPL-3.0-or-later
#include "encode/Wavtowma.h"

#include "audio/FfmpegOnDemand.h"
#include "platform/ExeFolder.h"
#include "platform/InstallLayout.h"
#include "platform/MessageBox.h"

#include <cstring>

namespace {

constexpr int kChunkBytes = 16384;
constexpr std::uint32_t kOutputSampleRate = 44100;
constexpr std::uint32_t kOutputChannels = 2;

void ShowMessage(const QString& text) {
    platform::MessageBox(text, QStringLiteral("WMA Audio SDK"), platform::MB_OK);
}

}  // namespace

QString WavToWma::ModuleFileName() {
    return QStringLiteral("wmaudsdk.so");
}

WAVEFORMATEX WavToWma::InputFormat(int sampleRate, int channels) {
    WAVEFORMATEX format;
    std::memset(&format, 0, sizeof format);
    format.formatTag = WAVE_FORMAT_PCM;
    format.channels = static_cast<std::uint16_t>(channels);
    format.samplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format.bitsPerSample = 16;
    format.blockAlign = static_cast<std::uint16_t>(channels * 2);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.extraSize = 0;
    return format;
}

WavToWma::WavToWma() {
    audio::KeepFfmpegOpen();
    if (!library.Load(platform::ModulePath(platform::ExeFolder(), ModuleFileName()))) {
        ShowMessage(QStringLiteral("Could not load %1 file").arg(ModuleFileName()));
        return;
    }
    createWriter = library.Lookup<WMAudioCreateWriterFunction>("WMAudioCreateWriter");
    if (createWriter == nullptr) {
        ShowMessage(QStringLiteral("Could not found WMAudioCreateWriter library function"));
    }
}

WavToWma::~WavToWma() {
    if (writer != nullptr) {
        writer->Flush();
        ReleaseWriter();
    }
    createWriter = nullptr;
    library.Free();
}

int WavToWma::Init(const QString& outputPath, int sampleRate, int channels, int bitrate) {
    if (createWriter == nullptr || writer != nullptr) {
        return -1;
    }
    const WAVEFORMATEX input = InputFormat(sampleRate, channels);
    // QString holds UTF-16 already; utf16() is zero-terminated.
    const auto* path = reinterpret_cast<const char16_t*>(outputPath.utf16());
    WmaAudioWriter* created = nullptr;
    if (createWriter(path, &created) < 0 || created == nullptr) {
        ShowMessage(QStringLiteral("Failed to Create Audio Writer"));
        return -1;
    }
    writer = created;
    if (writer->SetInputFormat(&input) < 0) {
        ReleaseWriter();
        ShowMessage(QStringLiteral("Failed to Set Input Format"));
        return -1;
    }
    if (writer->SetOutputFormat(static_cast<std::uint32_t>(bitrate), kOutputSampleRate, kOutputChannels, 0) <
        0) {
        ReleaseWriter();
        ShowMessage(QStringLiteral("Failed to Set Output Format"));
        return -1;
    }
    return kChunkBytes;
}

bool WavToWma::WriteChunk(const std::int16_t* buffer, int byteCount) {
    if (byteCount == 0) {
        return true;
    }
    if (writer == nullptr || byteCount < 0) {
        return false;
    }
    return writer->WriteSamples(buffer, static_cast<std::uint32_t>(byteCount)) >= 0;
}

bool WavToWma::Close() {
    if (writer == nullptr) {
        return true;
    }
    if (writer->Flush() < 0) {
        return false;
    }
    ReleaseWriter();
    return true;
}

void WavToWma::ReleaseWriter() {
    writer->Release();
    writer = nullptr;
}
