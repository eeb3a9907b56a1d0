// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LangId.h"

#include <QStringList>

#include <cstdlib>
#include <utility>

namespace platform {
namespace {

struct PrimaryLanguage {
    const char* code;
    std::uint16_t id;
};

// ISO 639-1 codes and their Windows primary language identifiers.
constexpr PrimaryLanguage kPrimaryLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C}, {"he", 0x0D}, {"hu", 0x0E},
    {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12}, {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14},
    {"nn", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sr", 0x1A},
    {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F}, {"ur", 0x20}, {"id", 0x21},
    {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"fa", 0x29},
    {"vi", 0x2A}, {"hy", 0x2B}, {"eu", 0x2D}, {"mk", 0x2F}, {"af", 0x36}, {"ka", 0x37}, {"hi", 0x39},
    {"ms", 0x3E}, {"kk", 0x3F}, {"sw", 0x41}, {"bn", 0x45}, {"ta", 0x49}, {"te", 0x4A}, {"gl", 0x56},
};

struct ChineseRegion {
    const char* region;
    std::uint16_t id;
};

constexpr ChineseRegion kChineseRegions[] = {
    {"CN", LANGID_CHINESE_SIMPLIFIED},    {"SG", LANGID_CHINESE_SINGAPORE},
    {"TW", LANGID_CHINESE_TRADITIONAL},   {"HK", LANGID_CHINESE_HONGKONG},
    {"MO", LANGID_CHINESE_MACAU},         {"HANS", LANGID_CHINESE_SIMPLIFIED},
    {"HANT", LANGID_CHINESE_TRADITIONAL},
};

std::uint16_t FromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return LangIdFromLocaleName(QString::fromLocal8Bit(value));
        }
    }
    return LANGID_ENGLISH_US;
}

LangIdProvider& Provider() {
    static LangIdProvider provider;
    return provider;
}

}  // namespace

std::uint16_t LangIdFromLocaleName(const QString& localeName) {
    // language[_territory][.codeset][@modifier]
    const QString name = localeName.section(QLatin1Char('@'), 0, 0).section(QLatin1Char('.'), 0, 0);
    const QStringList parts = name.split(QLatin1Char('_'));
    const QString language = parts.first().toLower();
    if (language == QLatin1String("zh")) {
        // The territory decides; a script ("zh_Hant") stands for it when there is none.
        for (qsizetype i = parts.size() - 1; i > 0; --i) {
            for (const auto& entry : kChineseRegions) {
                if (parts[i].toUpper() == QLatin1String(entry.region)) {
                    return entry.id;
                }
            }
        }
    }
    for (const auto& entry : kPrimaryLanguages) {
        if (language == QLatin1String(entry.code)) {
            return entry.id;
        }
    }
    return LANGID_ENGLISH_US;
}

std::uint16_t UserDefaultLangId() {
    return Provider() ? Provider()() : FromEnvironment();
}

LangIdProvider SetUserDefaultLangIdProvider(LangIdProvider provider) {
    return std::exchange(Provider(), std::move(provider));
}

}  // namespace platform
