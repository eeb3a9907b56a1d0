// SPDX-License-Identifier: GPL-3.0-or-later
// FFmpeg loaded on first use. Debian's libavcodec alone brings in some 140 libraries, whose loading
// and symbol binding took most of a short join's time; a join of WAV and MP3 files, a copy of MP3
// frames or the program's start need none of them. The programs link these stand-ins instead of
// FFmpeg: each opens the libraries the first time any of them is called and forwards to the real
// function. Built with hidden visibility, so the libraries themselves never bind to them.
//
// A function of FFmpeg the engine starts to use must be added here; the link fails until it is.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavformat/version.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswresample/version.h>
}

#include "audio/FfmpegOnDemand.h"

#include <dlfcn.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// The sonames of the FFmpeg the program was built against, dependencies first.
constexpr std::array<const char*, 4> kLibraries{
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};

[[noreturn]] void Missing(const char* what) {
    // The package depends on these libraries; without them nothing sensible can go on.
    std::fprintf(stderr, "FFmpeg could not be loaded: %s\n", what);
    std::_Exit(EXIT_FAILURE);
}

// The log level asked for before the libraries were needed, set as they are opened. FFmpeg's levels
// go below zero (AV_LOG_QUIET), so none asked for is a value of its own.
constexpr int kNoLogLevel = std::numeric_limits<int>::min();
std::atomic<int> logLevel{kNoLogLevel};
std::atomic<bool> opened{false};

const std::array<void*, kLibraries.size()>& Handles() {
    static const std::array<void*, kLibraries.size()> handles = [] {
        std::array<void*, kLibraries.size()> libraries{};
        for (std::size_t i = 0; i < kLibraries.size(); ++i) {
            libraries[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_LOCAL);
            if (libraries[i] == nullptr) {
                Missing(dlerror());
            }
        }
        if (const int level = logLevel.load(); level != kNoLogLevel) {
            reinterpret_cast<decltype(&av_log_set_level)>(dlsym(libraries[0], "av_log_set_level"))(level);
        }
        opened.store(true);
        return libraries;
    }();
    return handles;
}

void* Symbol(const char* name) {
    for (void* handle : Handles()) {
        if (void* found = dlsym(handle, name)) {
            return found;
        }
    }
    Missing(name);
}

}  // namespace

void audio::KeepFfmpegOpen() {
    Handles();
}

// Defines name with its declared parameters; the first call resolves the real function.
#define WS_FORWARD(ret, name, params, args)                                        \
    ret name params {                                                              \
        static const auto real = reinterpret_cast<decltype(&name)>(Symbol(#name)); \
        return real args;                                                          \
    }

extern "C" {

// Kept until the libraries are opened, so that setting it does not open them.
void av_log_set_level(int level) {
    logLevel.store(level);
    if (opened.load()) {
        reinterpret_cast<decltype(&av_log_set_level)>(Symbol("av_log_set_level"))(level);
    }
}

// libavutil
WS_FORWARD(void*, av_mallocz, (size_t size), (size))
WS_FORWARD(void*, av_realloc_array, (void* ptr, size_t nmemb, size_t size), (ptr, nmemb, size))
WS_FORWARD(int64_t, av_rescale_q, (int64_t a, AVRational bq, AVRational cq), (a, bq, cq))
WS_FORWARD(AVDictionaryEntry*, av_dict_get,
           (const AVDictionary* m, const char* key, const AVDictionaryEntry* prev, int flags),
           (m, key, prev, flags))
WS_FORWARD(int, av_dict_set, (AVDictionary * *pm, const char* key, const char* value, int flags),
           (pm, key, value, flags))
WS_FORWARD(AVBufferRef*, av_buffer_create,
           (uint8_t * data, size_t size, void (*free)(void* opaque, uint8_t* data), void* opaque, int flags),
           (data, size, free, opaque, flags))
WS_FORWARD(void, av_dict_free, (AVDictionary * *m), (m))
WS_FORWARD(AVFrame*, av_frame_alloc, (void), ())
WS_FORWARD(int, av_frame_get_buffer, (AVFrame * frame, int align), (frame, align))
WS_FORWARD(void, av_frame_free, (AVFrame * *frame), (frame))
WS_FORWARD(void, av_frame_unref, (AVFrame * frame), (frame))
WS_FORWARD(AVFrameSideData*, av_frame_get_side_data, (const AVFrame* frame, AVFrameSideDataType type),
           (frame, type))
WS_FORWARD(int, av_channel_layout_compare, (const AVChannelLayout* chl, const AVChannelLayout* chl1),
           (chl, chl1))
WS_FORWARD(int, av_channel_layout_copy, (AVChannelLayout * dst, const AVChannelLayout* src), (dst, src))
WS_FORWARD(void, av_channel_layout_default, (AVChannelLayout * layout, int nb_channels),
           (layout, nb_channels))
WS_FORWARD(int, av_opt_set_int, (void* obj, const char* name, int64_t val, int search_flags),
           (obj, name, val, search_flags))
WS_FORWARD(void, av_channel_layout_uninit, (AVChannelLayout * layout), (layout))

// libswresample
WS_FORWARD(int, swr_alloc_set_opts2,
           (SwrContext * *ps, AVChannelLayout* out_ch_layout, AVSampleFormat out_sample_fmt,
            int out_sample_rate, AVChannelLayout* in_ch_layout, AVSampleFormat in_sample_fmt,
            int in_sample_rate, int log_offset, void* log_ctx),
           (ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout, in_sample_fmt, in_sample_rate,
            log_offset, log_ctx))
WS_FORWARD(int, swr_init, (SwrContext * s), (s))
WS_FORWARD(void, swr_free, (SwrContext * *s), (s))
WS_FORWARD(int, swr_convert, (SwrContext * s, uint8_t** out, int out_count, const uint8_t** in, int in_count),
           (s, out, out_count, in, in_count))
WS_FORWARD(int, swr_get_out_samples, (SwrContext * s, int in_samples), (s, in_samples))

// libavcodec
WS_FORWARD(const AVCodec*, avcodec_find_decoder, (AVCodecID id), (id))
WS_FORWARD(const AVCodec*, avcodec_find_encoder_by_name, (const char* name), (name))
WS_FORWARD(const AVCodecDescriptor*, avcodec_descriptor_get, (AVCodecID id), (id))
WS_FORWARD(AVCodecContext*, avcodec_alloc_context3, (const AVCodec* codec), (codec))
WS_FORWARD(void, avcodec_free_context, (AVCodecContext * *avctx), (avctx))
WS_FORWARD(int, avcodec_open2, (AVCodecContext * avctx, const AVCodec* codec, AVDictionary** options),
           (avctx, codec, options))
WS_FORWARD(int, avcodec_parameters_copy, (AVCodecParameters * dst, const AVCodecParameters* src), (dst, src))
WS_FORWARD(int, avcodec_parameters_to_context, (AVCodecContext * codec, const AVCodecParameters* par),
           (codec, par))
WS_FORWARD(int, avcodec_parameters_from_context, (AVCodecParameters * par, const AVCodecContext* codec),
           (par, codec))
WS_FORWARD(int, avcodec_send_frame, (AVCodecContext * avctx, const AVFrame* frame), (avctx, frame))
WS_FORWARD(int, avcodec_receive_packet, (AVCodecContext * avctx, AVPacket* avpkt), (avctx, avpkt))
WS_FORWARD(int, avcodec_send_packet, (AVCodecContext * avctx, const AVPacket* avpkt), (avctx, avpkt))
WS_FORWARD(int, avcodec_receive_frame, (AVCodecContext * avctx, AVFrame* frame), (avctx, frame))
WS_FORWARD(AVPacket*, av_packet_alloc, (void), ())
WS_FORWARD(void, av_packet_free, (AVPacket * *pkt), (pkt))
WS_FORWARD(int, av_new_packet, (AVPacket * pkt, int size), (pkt, size))
WS_FORWARD(void, av_packet_move_ref, (AVPacket * dst, AVPacket* src), (dst, src))
WS_FORWARD(void, av_packet_unref, (AVPacket * pkt), (pkt))
WS_FORWARD(void, av_packet_rescale_ts, (AVPacket * pkt, AVRational tb_src, AVRational tb_dst),
           (pkt, tb_src, tb_dst))

// libavformat
WS_FORWARD(const AVInputFormat*, av_find_input_format, (const char* short_name), (short_name))
WS_FORWARD(int, avformat_open_input,
           (AVFormatContext * *ps, const char* url, const AVInputFormat* fmt, AVDictionary** options),
           (ps, url, fmt, options))
WS_FORWARD(int, avformat_find_stream_info, (AVFormatContext * ic, AVDictionary** options), (ic, options))
WS_FORWARD(void, avformat_close_input, (AVFormatContext * *s), (s))
WS_FORWARD(int, av_find_best_stream,
           (AVFormatContext * ic, AVMediaType type, int wanted_stream_nb, int related_stream,
            const AVCodec** decoder_ret, int flags),
           (ic, type, wanted_stream_nb, related_stream, decoder_ret, flags))
WS_FORWARD(int, av_read_frame, (AVFormatContext * s, AVPacket* pkt), (s, pkt))
WS_FORWARD(int, avformat_alloc_output_context2,
           (AVFormatContext * *ctx, const AVOutputFormat* oformat, const char* format_name,
            const char* filename),
           (ctx, oformat, format_name, filename))
WS_FORWARD(void, avformat_free_context, (AVFormatContext * s), (s))
WS_FORWARD(AVStream*, avformat_new_stream, (AVFormatContext * s, const AVCodec* c), (s, c))
WS_FORWARD(int, avformat_write_header, (AVFormatContext * s, AVDictionary** options), (s, options))
WS_FORWARD(int, av_interleaved_write_frame, (AVFormatContext * s, AVPacket* pkt), (s, pkt))
WS_FORWARD(int, av_write_trailer, (AVFormatContext * s), (s))
WS_FORWARD(int, avio_open, (AVIOContext * *s, const char* url, int flags), (s, url, flags))
WS_FORWARD(int, avio_closep, (AVIOContext * *s), (s))

}  // extern "C"
