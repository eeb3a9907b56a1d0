// Reading the tags of arbitrary bytes as those of an MP3 file, as the joiner reads every input's.
#include "FuzzSupport.h"
#include "audio/Mp3Tags.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    const std::optional<AudioTags> tags = audio::ReadMp3Tags(buffer);
    // A cover comes with its type, and out of the input's own bytes.
    FUZZ_CHECK(!tags || tags->cover.isEmpty() == tags->coverMime.isEmpty());
    FUZZ_CHECK(!tags || static_cast<std::size_t>(tags->cover.size()) <= size);
    return 0;
}
