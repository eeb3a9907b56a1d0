// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <type_traits>

namespace i18n {

namespace {

constexpr const char* kUtf8 = "UTF-8";

struct IconvClose {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvClose>;

IconvPtr OpenDecoder(const char* encoding) {
    const iconv_t cd = iconv_open(kUtf8, encoding);
    // iconv_open reports failure as (iconv_t)-1, not as a null handle.
    return IconvPtr(reinterpret_cast<std::intptr_t>(cd) == -1 ? nullptr : cd);
}

// Windows writes its own variants of the Asian code pages; prefer them when the C library has them.
const char* FirstAvailable(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (OpenDecoder(name)) {
            return name;
        }
    }
    return *(names.end() - 1);
}

}  // namespace

const char* EncodingForCharSet(int charSet) {
    switch (charSet) {
        case CHARSET_ANSI:
            return "CP1252";
        case CHARSET_SHIFTJIS: {
            static const char* const name = FirstAvailable({"CP932", "SHIFT_JIS"});
            return name;
        }
        case CHARSET_HANGUL:
            return "CP949";
        case CHARSET_JOHAB:
            return "CP1361";
        case CHARSET_GB2312:
            return "GBK";
        case CHARSET_CHINESEBIG5: {
            static const char* const name = FirstAvailable({"CP950", "BIG5", "BIG5-HKSCS"});
            return name;
        }
        case CHARSET_GREEK:
            return "CP1253";
        case CHARSET_TURKISH:
            return "CP1254";
        case CHARSET_VIETNAMESE:
            return "CP1258";
        case CHARSET_HEBREW:
            return "CP1255";
        case CHARSET_ARABIC:
            return "CP1256";
        case CHARSET_BALTIC:
            return "CP1257";
        case CHARSET_RUSSIAN:
            return "CP1251";
        case CHARSET_THAI:
            return "CP874";
        case CHARSET_EASTEUROPE:
            return "CP1250";
        default:
            return kUtf8;
    }
}

QString DecodeCharSet(const QByteArray& bytes, int charSet) {
    const char* encoding = EncodingForCharSet(charSet);
    IconvPtr decoder = std::strcmp(encoding, kUtf8) == 0 ? nullptr : OpenDecoder(encoding);
    if (!decoder) {
        return QString::fromUtf8(bytes);  // invalid sequences already become U+FFFD here
    }

    QByteArray utf8;
    utf8.reserve(bytes.size() * 2);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(decoder.get(), &in, &inLeft, &out, &outLeft);
        const int error = errno;
        utf8.append(buffer, out - buffer);
        if (result != static_cast<size_t>(-1) || (error == E2BIG && out != buffer)) {
            continue;
        }
        // An invalid or cut-off sequence: mark one byte and resume after it, so the text stays readable.
        utf8.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
    }
    // Some code pages (CP1255, CP1258) hold back a character that a combining mark might follow.
    for (;;) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(decoder.get(), nullptr, nullptr, &out, &outLeft);
        const int error = errno;
        utf8.append(buffer, out - buffer);
        if (result != static_cast<size_t>(-1) || error != E2BIG || out == buffer) {
            break;
        }
    }
    return QString::fromUtf8(utf8);
}

}  // namespace i18n
