#include "i18n/Language.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <gtest/gtest.h>

#include <utility>

namespace {

const QString kEnglishFile = QStringLiteral(WAVESTITCH_SOURCE_DIR "/lang/English.ini");

// Every key the program looks up, by section; a language file holds exactly these.
const std::pair<const char*, const char*> kKeysBySection[] = {
    {"LanguageProperty", "Name FontName FontSize CharSet"},
    {"ToolBar", "Add Remove Clear Join Language About Update"},
    {"Hint", "Add Remove Clear Join Language About Update Up Down"},
    {"ListView", "Name Frequency Channels Sample Size Time Path Bits Mono Stereo"},
    {"OpenDialog", "Filter NotPCM NotMP3Info NotWMAInfo NotSupport"},
    {"SaveDialog", "WAVFilter MP3Filter WMAFilter"},
    {"StatusBar", "Files Time"},
    {"AboutForm", "Caption Version HomePage Copyright Reserved"},
    {"ProcessForm", "Caption Joining Encoding"},
    {"LanguageForm", "Caption Language"},
    {"OutputForm",
     "Caption OutputFormat Bitrate Sign CheckCRC CheckCopyright CheckOriginal CheckPrivate OutputFile Back "
     "Next "
     "Join Question"},
    {"Common", "Ok Cancel Message"},
    {"Join", "Complete"},
};

// "Section/Key" for every key of the key set.
QList<QString> KeySet() {
    QList<QString> keys;
    for (const auto& [section, names] : kKeysBySection) {
        for (const QString& name : QString::fromLatin1(names).split(' ')) {
            keys.append(QString::fromLatin1(section) + '/' + name);
        }
    }
    return keys;
}

// "Section/Key" for every entry line, in file order, duplicates included.
QList<QString> EntriesOf(const QByteArray& content) {
    QList<QString> entries;
    QString section;
    for (const QByteArray& raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(';')) {
            continue;
        }
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed();
        } else if (line.contains('=')) {
            entries.append(section + '/' + line.section('=', 0, 0).trimmed());
        } else {
            entries.append("<stray line: " + line + ">");
        }
    }
    return entries;
}

TEST(EnglishLanguageFile, HoldsExactlyTheKeySet) {
    const QList<QString> keySet = KeySet();
    ASSERT_EQ(keySet.size(), 67);
    QFile file(kEnglishFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << kEnglishFile.toStdString();
    const QList<QString> entries = EntriesOf(file.readAll());

    const QSet<QString> expected(keySet.begin(), keySet.end());
    QSet<QString> seen;
    for (const QString& entry : entries) {
        EXPECT_TRUE(expected.contains(entry)) << "unexpected " << entry.toStdString();
        EXPECT_FALSE(seen.contains(entry)) << "repeated " << entry.toStdString();
        seen.insert(entry);
    }
    EXPECT_EQ(entries.size(), 67);
    for (const QString& key : keySet) {
        EXPECT_TRUE(seen.contains(key)) << "missing " << key.toStdString();
    }
}

TEST(EnglishLanguageFile, EveryTextIsFoundAndNotEmpty) {
    const i18n::LanguageFile english(kEnglishFile);
    for (const QString& entry : KeySet()) {
        const QString text = english.Text(entry.section('/', 0, 0), entry.section('/', 1, 1), {});
        EXPECT_FALSE(text.isEmpty()) << entry.toStdString();
        EXPECT_FALSE(text.contains(QChar(0xFFFD))) << entry.toStdString();
    }
    EXPECT_EQ(english.Text("LanguageProperty", "CharSet", {}), "1");
    EXPECT_EQ(english.Text("AboutForm", "Copyright", {}), QString::fromUtf8("Copyright ©"));
}

TEST(EnglishLanguageFile, FiltersAreDescriptionPatternPairs) {
    const i18n::LanguageFile english(kEnglishFile);
    for (const char* key :
         {"OpenDialog/Filter", "SaveDialog/WAVFilter", "SaveDialog/MP3Filter", "SaveDialog/WMAFilter"}) {
        const QString entry = QString::fromLatin1(key);
        const QStringList parts =
            english.Text(entry.section('/', 0, 0), entry.section('/', 1, 1), {}).split('|');
        ASSERT_EQ(parts.size() % 2, 0) << key;
        for (qsizetype i = 1; i < parts.size(); i += 2) {
            EXPECT_TRUE(parts[i].startsWith("*.")) << key << ": " << parts[i].toStdString();
        }
    }
}

}  // namespace
