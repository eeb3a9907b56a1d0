// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FuzzSupport.h"
#include "audio/Decoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <vector>

namespace fuzz {

// Opens arbitrary bytes as a file of the decoding layer and reads it to the end as the join does,
// checking what the join relies on: no read yields more than asked or a part of a frame, the
// position never passes the length, and a read that yields nothing ends the stream (the join reads
// while the stream is active).
// The kind of file the bytes are opened as.
enum class Kind { Mp3, Wma, Media };

inline void DecodeAll(const std::uint8_t* data, std::size_t size, Kind kind, const QString& name) {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    const QString path = WriteInput(name, data, size);
    const audio::StreamHandle stream =
        kind == Kind::Wma     ? audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
        : kind == Kind::Media ? audio::OpenMediaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
                              : audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
    if (stream == 0) {
        return;
    }
    audio::StreamInfoRecord info;
    FUZZ_CHECK(audio::GetStreamInfo(stream, &info));
    FUZZ_CHECK(info.freq > 0 && info.freq <= 768000 && (info.chans == 1 || info.chans == 2));
    const std::uint32_t frameBytes = info.chans * audio::SampleBits(info) / 8;
    // An MP3 length is exact from the start; a WMA or media length may grow while reading.
    const bool wma = kind != Kind::Mp3;
    const std::uint64_t openedLength = audio::GetStreamLength(stream, audio::POS_BYTE);

    // The join's two block sizes, and one that is not a whole number of frames.
    constexpr std::uint32_t kRequests[] = {10240, 20480, 4099};
    // Far more reads than any input of a fuzzing run can fill; reaching it means the stream never ends.
    constexpr int kMaxReads = 1 << 20;
    std::vector<char> buffer(20480);
    int reads = 0;
    while (audio::IsStreamActive(stream) != 0) {
        FUZZ_CHECK(++reads < kMaxReads);
        const std::uint32_t request = kRequests[reads % 3];
        const std::uint32_t got = audio::ReadStreamData(stream, buffer.data(), request);
        FUZZ_CHECK(got <= request);
        FUZZ_CHECK(got % frameBytes == 0);
        const std::uint64_t position = audio::GetStreamPosition(stream, audio::POS_BYTE);
        FUZZ_CHECK(position <= audio::GetStreamLength(stream, audio::POS_BYTE));
        FUZZ_CHECK(wma || position <= openedLength);
        FUZZ_CHECK(got > 0 || audio::IsStreamActive(stream) == 0);
    }
    FUZZ_CHECK(audio::GetStreamLength(stream, audio::POS_BYTE) ==
               audio::GetStreamPosition(stream, audio::POS_BYTE));
    FUZZ_CHECK(audio::FreeStream(stream));
}

}  // namespace fuzz
