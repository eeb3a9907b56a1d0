// SPDX-License-Identifier: GPL-3.0-or-later
#include "WmaEncoder.h"

#include <algorithm>

namespace wmaudsdk {

WmaStatus OpenEncoder(const EncoderSettings& settings, CodecContextPtr* codec) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (encoder == nullptr) {
        return WMA_E_FAIL;
    }
    CodecContextPtr opened(avcodec_alloc_context3(encoder));
    if (!opened) {
        return WMA_E_OUTOFMEMORY;
    }
    opened->sample_fmt = AV_SAMPLE_FMT_FLTP;
    opened->sample_rate = settings.sampleRate;
    opened->time_base = AVRational{1, settings.sampleRate};
    opened->bit_rate = settings.bitrate;
    av_channel_layout_default(&opened->ch_layout, settings.channels);
    if (settings.globalHeader) {
        opened->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // The encoder itself refuses what it cannot do (above 48 kHz, below 24 kbit/s).
    if (avcodec_open2(opened.get(), encoder, nullptr) < 0) {
        return WMA_E_INVALIDARG;
    }
    *codec = std::move(opened);
    return WMA_OK;
}

int WorkerCount() {
    return WorkerThreads("WAVESTITCH_WMA_THREADS");
}

int BlockFrames() {
    return std::clamp(EnvInt("WAVESTITCH_WMA_BLOCK_FRAMES", 128), 4, 1024);
}
blocked::BlockPlan BlockPlanOf(const EncoderSettings& settings) {
    blocked::BlockPlan plan;
    plan.open = [settings] {
        CodecContextPtr codec;
        return OpenEncoder(settings, &codec) < 0 ? nullptr : std::move(codec);
    };
    plan.channels = settings.channels;
    return plan;
}

}  // namespace wmaudsdk
