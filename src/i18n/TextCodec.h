#pragma once

#include <QByteArray>
#include <QString>

namespace i18n {

// Windows font character-set numbers used by language files.
constexpr int CHARSET_ANSI = 0;
constexpr int CHARSET_DEFAULT = 1;  // read as UTF-8
constexpr int CHARSET_SHIFTJIS = 128;
constexpr int CHARSET_HANGUL = 129;
constexpr int CHARSET_GB2312 = 134;
constexpr int CHARSET_CHINESEBIG5 = 136;
constexpr int CHARSET_RUSSIAN = 204;

// The iconv encoding name for a character set (134 "GBK", 136 "BIG5", 128 "SHIFT_JIS",
// 129 "CP949", 204 "CP1251", 0 "CP1252", ..., 1 and unknown numbers "UTF-8").
const char* EncodingForCharSet(int charSet);

// Decodes bytes written in the code page of charSet. Bytes that cannot be decoded become U+FFFD;
// nothing is dropped silently.
QString DecodeCharSet(const QByteArray& bytes, int charSet);

}  // namespace i18n
