// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>

// Builds WAV files byte by byte, so tests can make the odd ones real writers produce.
class WavBuilder {
public:
    static void Put16(QByteArray& out, std::uint16_t v) {
        out.append(static_cast<char>(v & 0xFF));
        out.append(static_cast<char>(v >> 8));
    }
    static void Put32(QByteArray& out, std::uint32_t v) {
        Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(out, static_cast<std::uint16_t>(v >> 16));
    }

    // The body of an RF64 file's ds64 chunk without a table; the reader takes only the data size.
    static QByteArray Ds64(std::uint64_t dataSize) {
        QByteArray body(28, '\0');
        qToLittleEndian(dataSize, body.data() + 8);
        return body;
    }

    WavBuilder& Format(int channels, int rate, int bits, std::uint16_t tag = 1, int extraBytes = 0) {
        QByteArray fmt;
        Put16(fmt, tag);
        Put16(fmt, static_cast<std::uint16_t>(channels));
        Put32(fmt, static_cast<std::uint32_t>(rate));
        Put32(fmt, static_cast<std::uint32_t>(static_cast<std::int64_t>(rate) * channels * bits / 8));
        Put16(fmt, static_cast<std::uint16_t>(channels * bits / 8));
        Put16(fmt, static_cast<std::uint16_t>(bits));
        fmt.append(QByteArray(extraBytes, '\0'));
        return Chunk("fmt ", fmt);
    }

    // The extensible header sox and ffmpeg write above 48 kHz or two channels, with the PCM
    // sub-format GUID, or another one such as IEEE float (3).
    WavBuilder& ExtensiblePcm(int channels, int rate, int bits, std::uint16_t subFormat = 1) {
        QByteArray fmt = WavBuilder().Format(channels, rate, bits, 0xFFFE).body_.mid(8);
        Put16(fmt, 22);
        Put16(fmt, static_cast<std::uint16_t>(bits));
        Put32(fmt, 3);
        Put16(fmt, subFormat);
        fmt.append("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
        return Chunk("fmt ", fmt);
    }

    // A chunk; an odd-sized one gets its zero pad byte unless pad is false.
    WavBuilder& Chunk(const char* id, const QByteArray& body, bool pad = true) {
        body_.append(id, 4);
        Put32(body_, static_cast<std::uint32_t>(body.size()));
        body_.append(body);
        if (pad && body.size() % 2 == 1) {
            body_.append('\0');
        }
        return *this;
    }

    // A data chunk whose header states statedSize while bytes follow it.
    WavBuilder& Data(const QByteArray& bytes, std::uint32_t statedSize) {
        body_.append("data", 4);
        Put32(body_, statedSize);
        body_.append(bytes);
        return *this;
    }
    WavBuilder& Data(const QByteArray& bytes) {
        return Data(bytes, static_cast<std::uint32_t>(bytes.size()));
    }

    QByteArray Bytes() const {
        QByteArray out("RIFF", 4);
        Put32(out, static_cast<std::uint32_t>(body_.size() + 4));
        out.append("WAVE", 4);
        return out + body_;
    }

private:
    QByteArray body_;
};
