// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

// Reading the bytes of a tag: shared by the MP3 and WAV tag readers.
namespace audio::tagbytes {

// What the file holds from offset on, at most bytes of it.
inline QByteArray ReadAt(QIODevice& file, qint64 offset, qint64 bytes) {
    const qint64 available = file.size() - offset;
    if (offset < 0 || available <= 0 || bytes <= 0 || !file.seek(offset)) {
        return {};
    }
    return file.read(std::min(bytes, available));
}

// The caller makes sure the bytes are there.
inline quint64 LittleEndian(const QByteArray& data, qsizetype at, int bytes) {
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<uchar>(data[at + i]);
    }
    return value;
}

}  // namespace audio::tagbytes
