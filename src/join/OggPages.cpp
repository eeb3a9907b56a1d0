// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/OggPages.h"

#include <QIODevice>

namespace join {

void OggPages::StreamClear::operator()(ogg_stream_state* p) const {
    ogg_stream_clear(p);
    delete p;
}

OggPages::OggPages(QIODevice& out, int serial) : out_(out), stream_(new ogg_stream_state) {
    ogg_stream_init(stream_.get(), serial);
}

bool OggPages::Add(const QByteArray& data, std::int64_t granule, bool last, bool flush) {
    ogg_packet packet{};
    packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData()));
    packet.bytes = static_cast<long>(data.size());
    packet.b_o_s = packetNumber_ == 0 ? 1 : 0;
    packet.e_o_s = last ? 1 : 0;
    packet.granulepos = granule;
    packet.packetno = packetNumber_++;
    if (ogg_stream_packetin(stream_.get(), &packet) != 0) {
        return false;
    }
    ogg_page page;
    while ((flush ? ogg_stream_flush(stream_.get(), &page) : ogg_stream_pageout(stream_.get(), &page)) != 0) {
        if (!Write(page.header, page.header_len) || !Write(page.body, page.body_len)) {
            return false;
        }
    }
    return true;
}

bool OggPages::Write(const unsigned char* data, long size) {
    return out_.write(reinterpret_cast<const char*>(data), size) == size;
}

}  // namespace join
