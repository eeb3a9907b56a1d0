// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the tags of arbitrary bytes as those of an MP3 file and as those of a WAV file, as the
// joiner reads every input's.
#include "FuzzSupport.h"
#include "audio/Mp3Tags.h"
#include "audio/WavTags.h"

#include <QBuffer>

namespace {

// A cover comes with its type, and out of the input's own bytes; no description without a cover.
void CheckTags(const std::optional<AudioTags>& tags, std::size_t size) {
    FUZZ_CHECK(!tags || tags->cover.isEmpty() == tags->coverMime.isEmpty());
    FUZZ_CHECK(!tags || !tags->cover.isEmpty() || tags->coverDescription.isEmpty());
    FUZZ_CHECK(!tags || static_cast<std::size_t>(tags->cover.size()) <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    const std::optional<AudioTags> mp3 = audio::ReadMp3Tags(buffer);
    CheckTags(mp3, size);
    const std::optional<AudioTags> wav = audio::ReadWavTags(buffer);
    CheckTags(wav, size);
    // A file is one or the other, never both.
    FUZZ_CHECK(!mp3 || !wav);
    return 0;
}
