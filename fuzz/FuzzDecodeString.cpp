// SPDX-License-Identifier: GPL-3.0-or-later
// DecodeString on arbitrary text: one alphabet character out for every character in.
#include "FuzzSupport.h"
#include "about/Encodestring.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString encoded =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString plain = DecodeString(encoded);
    FUZZ_CHECK(plain.size() == encoded.size());
    const std::string_view target = kDecodeTable.substr(0, kAlphabetLength);
    for (const QChar c : plain) {
        FUZZ_CHECK(c.unicode() < 0x80 &&
                   target.find(static_cast<char>(c.unicode())) != std::string_view::npos);
    }
    return 0;
}
