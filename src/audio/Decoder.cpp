// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Decoder.h"

#include "audio/DecodeStream.h"
#include "audio/FileProbe.h"
#include "audio/MediaStream.h"
#include "audio/Mp3Stream.h"
#include "audio/WmaStream.h"

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace audio {

namespace {

using detail::DecodeStream;

struct StreamEntry {
    std::shared_ptr<DecodeStream> stream;
    bool decodeOnly = false;
};

// Streams are shared out of the table so that a stream being read keeps living while another thread
// frees its handle; the table itself is only touched under the mutex.
struct Registry {
    std::mutex mutex;
    std::unordered_map<StreamHandle, StreamEntry> streams;
    StreamHandle lastHandle = 0;
    bool deviceReady = false;
    OutputDeviceCheck deviceCheck;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// FFmpeg is opened when a WMA or other media file is first read, not here: a join without them
// never loads it, and a file it cannot read fails as any unreadable file does.
bool LibrariesUsable() {
    return detail::Mpg123Ready();
}

bool DeviceReady() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.deviceReady;
}

StreamHandle Register(std::unique_ptr<DecodeStream> stream, bool decodeOnly) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    // The device may have been freed while the file was being opened.
    if (!decodeOnly && !r.deviceReady) {
        return 0;
    }
    do {
        ++r.lastHandle;
    } while (r.lastHandle == 0 || r.streams.contains(r.lastHandle));
    r.streams.emplace(r.lastHandle, StreamEntry{std::move(stream), decodeOnly});
    return r.lastHandle;
}

std::shared_ptr<DecodeStream> Find(StreamHandle handle) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    const auto it = r.streams.find(handle);
    return it == r.streams.end() ? nullptr : it->second.stream;
}

// A stream without channels, or at a rate no audio format uses, comes from a damaged or crafted
// header; the join would size its blocks and its conversion by it.
bool FormatIsAudio(const DecodeStream& stream) {
    constexpr std::uint32_t kMaxRate = 768000;
    return stream.Rate() > 0 && stream.Rate() <= kMaxRate && stream.Channels() > 0;
}

template <typename OpenFunction>
StreamHandle OpenStream(OpenFunction open, bool mem, const QString& path, std::uint64_t offset,
                        std::uint64_t length, std::uint32_t flags) {
    // Only whole files on disk are supported: that is all the program asks for.
    if (mem || offset != 0 || length != 0) {
        return 0;
    }
    const bool decodeOnly = (flags & STREAM_DECODE) != 0;
    if (!decodeOnly && !DeviceReady()) {
        return 0;
    }
    try {
        std::unique_ptr<DecodeStream> stream = open(path);
        return stream && FormatIsAudio(*stream) ? Register(std::move(stream), decodeOnly) : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace

int InitOutputDevice(int /*device*/, std::uint32_t /*freq*/, std::uint32_t /*flags*/, void* /*window*/,
                     const void* /*clsid*/) {
    Registry& r = TheRegistry();
    OutputDeviceCheck check;
    {
        std::lock_guard lock(r.mutex);
        check = r.deviceCheck;
    }
    const bool ready = check ? check() : LibrariesUsable();
    std::lock_guard lock(r.mutex);
    r.deviceReady = ready;
    return ready ? 1 : 0;
}

void FreeOutputDevice() {
    Registry& r = TheRegistry();
    // Ordinary streams belong to the device and go with it; decode-only streams stay. They are
    // destroyed after the lock is released, since closing a decoder can take a moment.
    std::vector<std::shared_ptr<DecodeStream>> freed;
    std::lock_guard lock(r.mutex);
    r.deviceReady = false;
    for (auto it = r.streams.begin(); it != r.streams.end();) {
        if (it->second.decodeOnly) {
            ++it;
        } else {
            freed.push_back(std::move(it->second.stream));
            it = r.streams.erase(it);
        }
    }
}

StreamHandle OpenFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                            std::uint32_t flags) {
    return OpenStream(detail::Mp3Stream::Open, mem, path, offset, length, flags);
}

StreamHandle OpenWmaFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                               std::uint32_t flags) {
    return OpenStream(detail::OpenWmaStream, mem, path, offset, length, flags);
}

StreamHandle OpenMediaFileStream(bool mem, const QString& path, std::uint64_t offset, std::uint64_t length,
                                 std::uint32_t flags) {
    return OpenStream(detail::OpenMediaStream, mem, path, offset, length, flags);
}

OpenFunction DecodedOpening(const QString& path) {
    const QString extension = FileExtension(path);
    if (extension.compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0) {
        return OpenFileStream;
    }
    if (extension.compare(QLatin1String(".wma"), Qt::CaseInsensitive) == 0) {
        return OpenWmaFileStream;
    }
    return MediaFormatName(path) != nullptr ? OpenMediaFileStream : nullptr;
}

bool GetStreamInfo(StreamHandle handle, StreamInfoRecord* info) {
    const auto stream = Find(handle);
    if (!stream || !info) {
        return false;
    }
    *info = StreamInfoRecord{};
    info->freq = stream->Rate();
    info->chans = stream->Channels();
    info->flags = stream->IsFloat()      ? SAMPLE_FLOAT
                  : stream->Bits() == 24 ? SAMPLE_24BITS
                  : stream->Bits() == 32 ? SAMPLE_32BITS
                                         : 0;
    info->ctype = stream->Ctype();
    info->origres = stream->SourceBits();
    return true;
}

std::uint32_t SampleBits(const StreamInfoRecord& info) {
    if ((info.flags & SAMPLE_8BITS) != 0) {
        return 8;
    }
    return (info.flags & SAMPLE_24BITS) != 0                    ? 24
           : (info.flags & (SAMPLE_32BITS | SAMPLE_FLOAT)) != 0 ? 32
                                                                : 16;
}

std::uint64_t GetStreamLength(StreamHandle handle, std::uint32_t mode) {
    const auto stream = Find(handle);
    return stream && mode == POS_BYTE ? stream->Length() : 0;
}

double BytesToSeconds(StreamHandle handle, std::uint64_t bytes) {
    const auto stream = Find(handle);
    if (!stream) {
        return 0.0;
    }
    return static_cast<double>(bytes) / (static_cast<double>(stream->Rate()) * stream->FrameBytes());
}

std::uint32_t IsStreamActive(StreamHandle handle) {
    const auto stream = Find(handle);
    return stream && stream->Active() ? 1 : 0;
}

std::uint32_t ReadStreamData(StreamHandle handle, void* buffer, std::uint32_t length) {
    const auto stream = Find(handle);
    if (!stream || !buffer) {
        return 0;
    }
    try {
        return stream->Read(buffer, length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::uint64_t GetStreamPosition(StreamHandle handle, std::uint32_t mode) {
    const auto stream = Find(handle);
    return stream && mode == POS_BYTE ? stream->Position() : 0;
}

bool FreeStream(StreamHandle handle) {
    Registry& r = TheRegistry();
    std::shared_ptr<DecodeStream> freed;
    std::lock_guard lock(r.mutex);
    const auto it = r.streams.find(handle);
    if (it == r.streams.end()) {
        return false;
    }
    freed = std::move(it->second.stream);
    r.streams.erase(it);
    return true;
}

OutputDeviceCheck SetOutputDeviceCheck(OutputDeviceCheck check) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return std::exchange(r.deviceCheck, std::move(check));
}

}  // namespace audio
