// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

// Windows language identifiers the program's language choice compares against.
constexpr std::uint16_t LANGID_CHINESE_SIMPLIFIED = 0x0804;
constexpr std::uint16_t LANGID_CHINESE_SINGAPORE = 0x1004;
constexpr std::uint16_t LANGID_CHINESE_TRADITIONAL = 0x0404;
constexpr std::uint16_t LANGID_CHINESE_HONGKONG = 0x0C04;
constexpr std::uint16_t LANGID_CHINESE_MACAU = 0x1404;
constexpr std::uint16_t LANGID_ENGLISH_US = 0x0409;

// The Windows language identifier for a POSIX locale name such as "zh_TW.UTF-8" or "de_DE@euro".
// Chinese regions map to their full identifiers; every other language to its primary language
// identifier (sub-language 0); an empty, "C" or "POSIX" locale and unknown languages to English (US).
std::uint16_t LangIdFromLocaleName(const QString& localeName);

// The user's default language identifier, from LC_ALL, LC_MESSAGES or LANG, the first that is set
// and not empty. A test can replace the answer with SetUserDefaultLangIdProvider.
std::uint16_t UserDefaultLangId();

using LangIdProvider = std::function<std::uint16_t()>;
LangIdProvider SetUserDefaultLangIdProvider(LangIdProvider provider);

}  // namespace platform
