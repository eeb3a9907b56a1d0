#pragma once

#include "encode/WmaWriterApi.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wmaudsdk {

struct FormatContextFree {
    void operator()(AVFormatContext* p) const {
        if (p->pb != nullptr) {
            avio_closep(&p->pb);
        }
        avformat_free_context(p);
    }
};
struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SwrContextFree {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// Writes WMA v2 in an ASF file: PCM of any layout and rate is converted to the output format with
// libswresample and encoded in whole codec frames. The header is written with the first samples
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
    WmaStatus Fail(WmaStatus status);

    std::atomic<std::uint32_t> references_{1};
    FormatContextPtr format_;
    std::string path_;
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
};

}  // namespace wmaudsdk
