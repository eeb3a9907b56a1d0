// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioWriter.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

namespace wmaudsdk {
namespace {

// Input is converted in pieces of this many sample frames, so a large write needs no large buffer.
constexpr int kConvertFrames = 8192;

AVSampleFormat SampleFormatOf(const WAVEFORMATEX& format) {
    if (format.formatTag == WAVE_FORMAT_PCM) {
        switch (format.bitsPerSample) {
            case 8:
                return AV_SAMPLE_FMT_U8;
            case 16:
                return AV_SAMPLE_FMT_S16;
            case 32:
                return AV_SAMPLE_FMT_S32;
            default:
                return AV_SAMPLE_FMT_NONE;
        }
    }
    if (format.formatTag == WAVE_FORMAT_IEEE_FLOAT && format.bitsPerSample == 32) {
        return AV_SAMPLE_FMT_FLT;
    }
    return AV_SAMPLE_FMT_NONE;
}

}  // namespace

AudioWriter::AudioWriter(FormatContextPtr format, std::string path)
    : format_(std::move(format)),
      path_(std::move(path)),
      frame_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

AudioWriter::~AudioWriter() = default;

WmaStatus AudioWriter::QueryInterface(const void* /*interfaceId*/, void** object) {
    if (object != nullptr) {
        *object = nullptr;
    }
    return WMA_E_NOTIMPL;
}

std::uint32_t AudioWriter::AddRef() {
    return ++references_;
}

std::uint32_t AudioWriter::Release() {
    const std::uint32_t left = --references_;
    if (left == 0) {
        // A file that was started is finished rather than left without its index; one that never
        // got a header is of no use and is removed.
        if (started_ && !finished_ && !failed_) {
            Flush();
        }
        const bool remove = !started_;
        format_.reset();
        if (remove) {
            std::remove(path_.c_str());
        }
        delete this;
    }
    return left;
}

WmaStatus AudioWriter::Unused3() {
    return WMA_E_NOTIMPL;
}

WmaStatus AudioWriter::Unused6() {
    return WMA_E_NOTIMPL;
}

WmaStatus AudioWriter::SetInputFormat(const WAVEFORMATEX* format) {
    if (started_) {
        return WMA_E_UNEXPECTED;
    }
    if (format == nullptr) {
        return WMA_E_INVALIDARG;
    }
    const AVSampleFormat sampleFormat = SampleFormatOf(*format);
    if (sampleFormat == AV_SAMPLE_FMT_NONE || format->channels < 1 || format->channels > 8 ||
        format->samplesPerSec < 1000 || format->samplesPerSec > 768000 ||
        format->blockAlign != format->channels * (format->bitsPerSample / 8)) {
        return WMA_E_INVALIDARG;
    }
    input_ = *format;
    inputSampleFormat_ = sampleFormat;
    inputSet_ = true;
    return WMA_OK;
}

WmaStatus AudioWriter::SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate,
                                       std::uint32_t channels, std::uint32_t /*reserved*/) {
    if (started_) {
        return WMA_E_UNEXPECTED;
    }
    if (channels < 1 || channels > 2 || sampleRate == 0 || bitrate == 0) {
        return WMA_E_INVALIDARG;
    }
    EncoderSettings settings;
    settings.sampleRate = static_cast<int>(sampleRate);
    settings.channels = static_cast<int>(channels);
    settings.bitrate = bitrate;
    settings.globalHeader = (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    CodecContextPtr codec;
    const WmaStatus opened = OpenEncoder(settings, &codec);
    if (opened < 0) {
        return opened;
    }
    settings_ = settings;
    codec_ = std::move(codec);
    return WMA_OK;
}

WmaStatus AudioWriter::Start() {
    if (!inputSet_ || !codec_) {
        return WMA_E_UNEXPECTED;
    }
    AVChannelLayout inputLayout{};
    av_channel_layout_default(&inputLayout, input_.channels);
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &codec_->ch_layout, codec_->sample_fmt,
                                         codec_->sample_rate, &inputLayout, inputSampleFormat_,
                                         static_cast<int>(input_.samplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    resampler_.reset(resampler);
    if (made < 0) {
        return Fail(WMA_E_FAIL);
    }
    if (input_.channels == 1) {
        // A mono source plays at full level on every output channel; the default mix would lower it by 3 dB.
        const std::vector<double> matrix(static_cast<std::size_t>(codec_->ch_layout.nb_channels), 1.0);
        if (swr_set_matrix(resampler_.get(), matrix.data(), 1) < 0) {
            return Fail(WMA_E_FAIL);
        }
    }
    if (swr_init(resampler_.get()) < 0) {
        return Fail(WMA_E_FAIL);
    }
    fifo_.reset(
        av_audio_fifo_alloc(codec_->sample_fmt, codec_->ch_layout.nb_channels, codec_->frame_size * 2));
    stream_ = avformat_new_stream(format_.get(), nullptr);
    if (!fifo_ || !frame_ || !packet_ || stream_ == nullptr) {
        return Fail(WMA_E_OUTOFMEMORY);
    }
    if (avcodec_parameters_from_context(stream_->codecpar, codec_.get()) < 0) {
        return Fail(WMA_E_FAIL);
    }
    stream_->time_base = codec_->time_base;
    const int threads = WorkerCount();
    if (threads > 1) {
        blocked_ =
            std::make_unique<BlockedEncoder>(BlockPlanOf(settings_), codec_.get(), threads, BlockFrames(),
                                             [this](AVPacket* packet) { return WritePacket(packet); });
    }
    started_ = true;
    if (avformat_write_header(format_.get(), nullptr) < 0) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    // The encoder's output lags its input by its initial padding (one frame of 2048 samples), and
    // ASF cannot tell a decoder to skip it; leading silence of exactly that length makes the first
    // decoded sample the first sample written.
    const int delay = codec_->initial_padding > 0 ? codec_->initial_padding : codec_->frame_size;
    if (!AppendSilence(delay)) {
        return Fail(WMA_E_OUTOFMEMORY);
    }
    return WMA_OK;
}

template <typename Body>
WmaStatus AudioWriter::Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(WMA_E_OUTOFMEMORY);
    } catch (...) {
        return Fail(WMA_E_FAIL);
    }
}

WmaStatus AudioWriter::WriteSamples(const void* buffer, std::uint32_t bytes) {
    return Guarded([&] { return Write(buffer, bytes); });
}

WmaStatus AudioWriter::Flush() {
    return Guarded([&] { return Finish(); });
}

WmaStatus AudioWriter::Write(const void* buffer, std::uint32_t bytes) {
    if (failed_) {
        return WMA_E_FAIL;
    }
    if (finished_) {
        return WMA_E_UNEXPECTED;
    }
    if (bytes == 0) {
        return WMA_OK;
    }
    if (buffer == nullptr) {
        return WMA_E_INVALIDARG;
    }
    if (!started_) {
        const WmaStatus status = Start();
        if (status < 0) {
            return status;
        }
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    std::size_t size = bytes;
    const std::size_t block = input_.blockAlign;
    if (!partial_.empty()) {
        const std::size_t take = std::min(block - partial_.size(), size);
        partial_.insert(partial_.end(), data, data + take);
        data += take;
        size -= take;
        if (partial_.size() == block) {
            if (!Convert(partial_.data(), 1)) {
                return Fail(WMA_E_WRITE_FAULT);
            }
            partial_.clear();
        }
    }
    const std::size_t frames = size / block;
    if (frames > 0 && !Convert(data, static_cast<int>(frames))) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    partial_.insert(partial_.end(), data + frames * block, data + size);
    return WMA_OK;
}

WmaStatus AudioWriter::Finish() {
    if (failed_) {
        return WMA_E_FAIL;
    }
    if (finished_) {
        return WMA_OK;
    }
    if (!started_) {
        const WmaStatus status = Start();
        if (status < 0) {
            return status;
        }
    }
    if (!partial_.empty()) {
        // A sample frame cut short by the last write is completed with silence, not dropped.
        partial_.resize(input_.blockAlign,
                        input_.formatTag == WAVE_FORMAT_PCM && input_.bitsPerSample == 8 ? 128 : 0);
        if (!Convert(partial_.data(), 1)) {
            return Fail(WMA_E_WRITE_FAULT);
        }
        partial_.clear();
    }
    if (!Convert(nullptr, 0)) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    // Pad the last frame to full length, then one frame more: the decoder needs the following
    // frame's overlap to rebuild the last one completely.
    const int frameSize = codec_->frame_size;
    const int pad = (frameSize - av_audio_fifo_size(fifo_.get()) % frameSize) % frameSize + frameSize;
    if (!AppendSilence(pad) || !EncodeWholeFrames()) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    const bool drained =
        blocked_ ? blocked_->Finish() : avcodec_send_frame(codec_.get(), nullptr) >= 0 && WritePackets();
    if (!drained) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    // Both results matter: a full disk shows up only here when the last packets are flushed.
    if (av_write_trailer(format_.get()) < 0 || avio_closep(&format_->pb) < 0) {
        return Fail(WMA_E_WRITE_FAULT);
    }
    finished_ = true;
    return WMA_OK;
}

// Converts frames of input (or, given none, what the resampler still holds) into the FIFO and
// encodes every whole frame gathered.
bool AudioWriter::Convert(const std::uint8_t* data, int frames) {
    const int channels = codec_->ch_layout.nb_channels;
    converted_.resize(channels);
    std::vector<std::uint8_t*> planes(channels);
    const std::size_t inputBlock = input_.blockAlign;
    do {
        const int piece = std::min(frames, kConvertFrames);
        // Draining may yield more than the estimate for no input, so leave room for a filter's length.
        const int estimate = swr_get_out_samples(resampler_.get(), piece);
        if (estimate < 0) {
            return false;
        }
        const int capacity = std::max(estimate, 4096);
        for (int c = 0; c < channels; ++c) {
            converted_[c].resize(static_cast<std::size_t>(capacity) + 1);
            planes[c] = reinterpret_cast<std::uint8_t*>(converted_[c].data());
        }
        const std::uint8_t* in = data;
        const int made =
            swr_convert(resampler_.get(), planes.data(), capacity, data != nullptr ? &in : nullptr, piece);
        if (made < 0) {
            return false;
        }
        if (made > 0 &&
            av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes.data()), made) < made) {
            return false;
        }
        if (!EncodeWholeFrames()) {
            return false;
        }
        if (data == nullptr) {
            // Draining: go on until the resampler has nothing left.
            if (made == 0) {
                return true;
            }
            continue;
        }
        data += static_cast<std::size_t>(piece) * inputBlock;
        frames -= piece;
    } while (frames > 0 || data == nullptr);
    return true;
}

bool AudioWriter::AppendSilence(int frames) {
    const int channels = codec_->ch_layout.nb_channels;
    std::vector<float> zeros(static_cast<std::size_t>(frames), 0.0f);
    std::vector<void*> planes(channels, zeros.data());
    return av_audio_fifo_write(fifo_.get(), planes.data(), frames) == frames;
}

bool AudioWriter::EncodeWholeFrames() {
    if (blocked_) {
        return blocked_->Add(av_audio_fifo_size(fifo_.get()), [this](void** planes, int samples) {
            return av_audio_fifo_read(fifo_.get(), planes, samples) == samples;
        });
    }
    const int frameSize = codec_->frame_size;
    while (av_audio_fifo_size(fifo_.get()) >= frameSize) {
        av_frame_unref(frame_.get());
        frame_->nb_samples = frameSize;
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 ||
            av_frame_get_buffer(frame_.get(), 0) < 0) {
            return false;
        }
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frameSize) < frameSize) {
            return false;
        }
        frame_->pts = nextPts_;
        nextPts_ += frameSize;
        if (avcodec_send_frame(codec_.get(), frame_.get()) < 0 || !WritePackets()) {
            return false;
        }
    }
    return true;
}

bool AudioWriter::WritePackets() {
    for (;;) {
        const int received = avcodec_receive_packet(codec_.get(), packet_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            return false;
        }
        if (!WritePacket(packet_.get())) {
            return false;
        }
    }
}

bool AudioWriter::WritePacket(AVPacket* packet) {
    av_packet_rescale_ts(packet, codec_->time_base, stream_->time_base);
    packet->stream_index = stream_->index;
    // The muxer checks the output's error state, so a failed disk write surfaces here.
    return av_interleaved_write_frame(format_.get(), packet) >= 0;
}

WmaStatus AudioWriter::Fail(WmaStatus status) {
    failed_ = true;
    return status;
}

}  // namespace wmaudsdk
