// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <ogg/ogg.h>

#include <cstdint>
#include <memory>

class QIODevice;

namespace join {

// The Ogg pages of one logical stream, written to out as libogg completes them.
class OggPages {
public:
    OggPages(QIODevice& out, int serial);

    // Adds the stream's next packet; flush ends the page after it (each header ends its own, and so
    // does the last packet, which ends the stream). False when a page could not be written.
    bool Add(const QByteArray& data, std::int64_t granule, bool last, bool flush);

private:
    struct StreamClear {
        void operator()(ogg_stream_state* p) const;
    };

    bool Write(const unsigned char* data, long size);

    QIODevice& out_;
    std::unique_ptr<ogg_stream_state, StreamClear> stream_;
    std::int64_t packetNumber_ = 0;
};

}  // namespace join
