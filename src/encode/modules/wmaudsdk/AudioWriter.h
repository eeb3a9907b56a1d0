// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FfmpegHandles.h"
#include "WmaEncoder.h"
#include "encode/WmaWriterApi.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wmaudsdk {

// Writes WMA v2 in an ASF file: PCM of any layout and rate is converted to the output format with
// libswresample and encoded in whole codec frames, in blocks on worker threads where the machine has
// more than one core (BlockedEncoder). The header is written with the first samples
// (or at Flush), so a writer whose formats were never accepted leaves no file behind.
class AudioWriter final : public WmaAudioWriter {
public:
    // Takes the opened output; path is kept to remove the file when nothing was ever written.
    AudioWriter(FormatContextPtr format, std::string path);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    WmaStatus QueryInterface(const void* interfaceId, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    WmaStatus Unused3() override;
    WmaStatus SetInputFormat(const WAVEFORMATEX* format) override;
    WmaStatus SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate, std::uint32_t channels,
                              std::uint32_t reserved) override;
    WmaStatus Unused6() override;
    WmaStatus WriteSamples(const void* buffer, std::uint32_t bytes) override;
    WmaStatus Flush() override;

private:
    // The writer is called through its function table from another module: an exception fails
    // the writer instead of leaving it.
    template <typename Body>
    WmaStatus Guarded(Body body) noexcept;
    WmaStatus Write(const void* buffer, std::uint32_t bytes);
    WmaStatus Finish();
    WmaStatus Start();
    bool Convert(const std::uint8_t* data, int frames);
    bool AppendSilence(int frames);
    bool EncodeWholeFrames();
    bool WritePackets();
    bool WritePacket(AVPacket* packet);
    WmaStatus Fail(WmaStatus status);

    std::atomic<std::uint32_t> references_{1};
    FormatContextPtr format_;
    std::string path_;
    EncoderSettings settings_;
    CodecContextPtr codec_;
    SwrContextPtr resampler_;
    AudioFifoPtr fifo_;
    FramePtr frame_;
    PacketPtr packet_;
    AVStream* stream_ = nullptr;

    WAVEFORMATEX input_{};
    AVSampleFormat inputSampleFormat_ = AV_SAMPLE_FMT_NONE;
    bool inputSet_ = false;
    bool started_ = false;
    bool finished_ = false;
    bool failed_ = false;
    std::int64_t nextPts_ = 0;
    // Bytes of an input sample frame that a write cut in two, completed by the next write.
    std::vector<std::uint8_t> partial_;
    std::vector<std::vector<float>> converted_;
    // Encodes with codec_ as its first encoder, so it goes before it.
    std::unique_ptr<BlockedEncoder> blocked_;
};

}  // namespace wmaudsdk
