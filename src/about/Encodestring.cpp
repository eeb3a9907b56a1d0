// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Encodestring.h"

QString DecodeString(const QString& encoded) {
    const std::string_view target = kDecodeTable.substr(0, kAlphabetLength);
    const std::string_view source = kDecodeTable.substr(kAlphabetLength, kAlphabetLength);
    QString plain;
    plain.reserve(encoded.size());
    for (const QChar c : encoded) {
        // Characters beyond Latin-1 are never in the alphabet; toLatin1() would turn them into 0.
        const std::size_t found = c.unicode() < 0x100 ? source.find(c.toLatin1()) : std::string_view::npos;
        const std::size_t p = found == std::string_view::npos ? 0 : found;
        plain += QLatin1Char(target[kAlphabetLength - 1 - p]);
    }
    return plain;
}
