// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the audio frames of arbitrary bytes, as the copying join does with every input, and the
// tag frame it would put in front of them.
#include "FuzzSupport.h"
#include "mpeg/AudioFrames.h"
#include "mpeg/InfoTag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const mpeg::AudioFrames found = mpeg::FindAudioFrames(data, size);
    if (found.fault != mpeg::AudioFrames::Fault::None) {
        return 0;
    }
    // Every frame lies inside the input, after the one before it, and is of the first frame's kind.
    std::size_t index = 0;
    std::size_t previousEnd = 0;
    for (const mpeg::ByteRun& run : found.runs) {
        FUZZ_CHECK(run.offset >= previousEnd && run.bytes <= size && run.offset <= size - run.bytes);
        std::size_t at = run.offset;
        for (; at < run.offset + run.bytes; at += found.sizes[index++]) {
            FUZZ_CHECK(index < found.sizes.size());
            const std::optional<mpeg::FrameHeader> header = mpeg::ParseHeader(data + at);
            FUZZ_CHECK(header && mpeg::SameKind(*header, found.first) &&
                       header->bytes == found.sizes[index] && header->kbps == found.kbps[index]);
        }
        FUZZ_CHECK(at == run.offset + run.bytes);
        previousEnd = at;
    }
    FUZZ_CHECK(index == found.sizes.size() && index == found.kbps.size());

    const std::vector<std::uint8_t> tag =
        mpeg::NewTagFrame(found.firstHeader.data(), found.kbps.front(), true,
                          found.encoder ? found.encoder->tail.data() : nullptr);
    const std::optional<mpeg::FrameHeader> header =
        tag.size() >= 4 ? mpeg::ParseHeader(tag.data()) : std::nullopt;
    FUZZ_CHECK(header && mpeg::SameKind(*header, found.first) &&
               header->bytes == static_cast<int>(tag.size()));
    mpeg::SeekTable seek;
    seek.Add(found.kbps.front());
    std::vector<std::uint8_t> patched = tag;
    const mpeg::StreamTotals totals{&seek, static_cast<std::uint32_t>(tag.size()), 0, 0};
    FUZZ_CHECK(found.encoder ? mpeg::PatchInfoTag(patched, totals) : mpeg::PatchCounts(patched, totals));
    return 0;
}
