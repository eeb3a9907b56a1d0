#pragma once

#include "audio/DecodeStream.h"
#include "audio/Decoder.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <mpg123.h>

#include <memory>
#include <mutex>

namespace audio::detail {

struct Mpg123Delete {
    void operator()(mpg123_handle* p) const { mpg123_delete(p); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Delete>;

// libmpg123 before 1.27 needs its global set-up; later versions treat this as a no-op.
inline bool Mpg123Ready() {
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

// An MP3 (or MPEG layer 1/2) file decoded by libmpg123. The length comes from a scan of every frame
// header at opening, with encoder delay and padding trimmed, so it is exact.
class Mp3Stream final : public DecodeStream {
public:
    static std::unique_ptr<DecodeStream> Open(const QString& path) {
        if (!Mpg123Ready()) {
            return nullptr;
        }
        int err = MPG123_OK;
        Mpg123Ptr mh(mpg123_new(nullptr, &err));
        if (!mh || !Configure(mh.get())) {
            return nullptr;
        }
        const QByteArray name = QFile::encodeName(path);
        long rate = 0;
        int chans = 0;
        int encoding = 0;
        if (mpg123_open(mh.get(), name.constData()) != MPG123_OK ||
            mpg123_getformat(mh.get(), &rate, &chans, &encoding) != MPG123_OK) {
            return nullptr;
        }
        mpg123_close(mh.get());
        // Fixing the output to the first frame's format makes libmpg123 convert any later frames of
        // another rate or channel count, so the stream keeps one format from start to end.
        if (rate <= 0 || (chans != 1 && chans != 2) || mpg123_format_none(mh.get()) != MPG123_OK ||
            mpg123_format(mh.get(), rate, chans, MPG123_ENC_SIGNED_16) != MPG123_OK) {
            return nullptr;
        }
        if (mpg123_open(mh.get(), name.constData()) != MPG123_OK || mpg123_scan(mh.get()) != MPG123_OK) {
            return nullptr;
        }
        // Random bytes can pass for a header now and then; a stream needs frames and audio in them.
        const off_t samples = mpg123_length(mh.get());
        if (samples <= 0 || mpg123_framelength(mh.get()) <= 0) {
            return nullptr;
        }
        const std::uint64_t bytes =
            static_cast<std::uint64_t>(samples) * static_cast<std::uint64_t>(chans) * 2;
        std::unique_ptr<Mp3Stream> stream(new Mp3Stream(std::move(mh), static_cast<std::uint32_t>(rate),
                                                        static_cast<std::uint32_t>(chans), bytes));
        if (!stream->Prime()) {
            return nullptr;
        }
        return stream;
    }

protected:
    bool DecodeMore(std::vector<std::uint8_t>& out) override {
        // NEW_FORMAT and empty reads make no progress; a file cannot produce many in a row, so the
        // bound only guards against a decoder that stops advancing.
        constexpr int kMaxIdleReads = 64;
        constexpr std::size_t kBlockBytes = 32768;
        for (int i = 0; i < kMaxIdleReads; ++i) {
            out.resize(kBlockBytes);
            std::size_t done = 0;
            const int rc = mpg123_read(mh_.get(), out.data(), out.size(), &done);
            out.resize(done - done % FrameBytes());
            if (!out.empty()) {
                return true;
            }
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
                // MPG123_DONE, or an error after the audio (trailing garbage, a cut-off last frame):
                // both end the stream.
                return false;
            }
        }
        return false;
    }

private:
    Mp3Stream(Mpg123Ptr mh, std::uint32_t rate, std::uint32_t chans, std::uint64_t lengthBytes)
        : DecodeStream(rate, chans, CTYPE_MP3, lengthBytes, true), mh_(std::move(mh)) {}

    static bool Configure(mpg123_handle* mh) {
        // Gapless trims the encoder delay and padding of the LAME/Info tag. A second Info frame, as in
        // two MP3 files joined by plain concatenation, must not end the stream, so no
        // MPG123_NO_FRANKENSTEIN. An unlimited resync lets trailing junk end the stream cleanly.
        return mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0) == MPG123_OK &&
               mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_NO_FRANKENSTEIN, 0.0) == MPG123_OK &&
               mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0.0) == MPG123_OK;
    }

    Mpg123Ptr mh_;
};

}  // namespace audio::detail
