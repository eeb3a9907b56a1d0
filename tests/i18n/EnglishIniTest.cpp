#include "i18n/Language.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <gtest/gtest.h>

namespace {

const QString kEnglishFile = QStringLiteral(WAVESTITCH_SOURCE_DIR "/lang/English.ini");

// Every key the program looks up; a language file holds exactly these.
const QList<QString> kKeySet = {"LanguageProperty/Name",
                                "LanguageProperty/FontName",
                                "LanguageProperty/FontSize",
                                "LanguageProperty/CharSet",
                                "ToolBar/Add",
                                "ToolBar/Remove",
                                "ToolBar/Clear",
                                "ToolBar/Join",
                                "ToolBar/Language",
                                "ToolBar/About",
                                "ToolBar/Update",
                                "Hint/Add",
                                "Hint/Remove",
                                "Hint/Clear",
                                "Hint/Join",
                                "Hint/Language",
                                "Hint/About",
                                "Hint/Update",
                                "Hint/Up",
                                "Hint/Down",
                                "ListView/Name",
                                "ListView/Frequency",
                                "ListView/Channels",
                                "ListView/Sample",
                                "ListView/Size",
                                "ListView/Time",
                                "ListView/Path",
                                "ListView/Bits",
                                "ListView/Mono",
                                "ListView/Stereo",
                                "OpenDialog/Filter",
                                "OpenDialog/NotPCM",
                                "OpenDialog/NotMP3Info",
                                "OpenDialog/NotWMAInfo",
                                "OpenDialog/NotSupport",
                                "SaveDialog/WAVFilter",
                                "SaveDialog/MP3Filter",
                                "SaveDialog/WMAFilter",
                                "StatusBar/Files",
                                "StatusBar/Time",
                                "AboutForm/Caption",
                                "AboutForm/Version",
                                "AboutForm/HomePage",
                                "AboutForm/Copyright",
                                "AboutForm/Reserved",
                                "ProcessForm/Caption",
                                "ProcessForm/Joining",
                                "ProcessForm/Encoding",
                                "LanguageForm/Caption",
                                "LanguageForm/Language",
                                "OutputForm/Caption",
                                "OutputForm/OutputFormat",
                                "OutputForm/Bitrate",
                                "OutputForm/Sign",
                                "OutputForm/CheckCRC",
                                "OutputForm/CheckCopyright",
                                "OutputForm/CheckOriginal",
                                "OutputForm/CheckPrivate",
                                "OutputForm/OutputFile",
                                "OutputForm/Back",
                                "OutputForm/Next",
                                "OutputForm/Join",
                                "OutputForm/Question",
                                "Common/Ok",
                                "Common/Cancel",
                                "Common/Message",
                                "Join/Complete"};

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
    ASSERT_EQ(kKeySet.size(), 67);
    QFile file(kEnglishFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << kEnglishFile.toStdString();
    const QList<QString> entries = EntriesOf(file.readAll());

    const QSet<QString> expected(kKeySet.begin(), kKeySet.end());
    QSet<QString> seen;
    for (const QString& entry : entries) {
        EXPECT_TRUE(expected.contains(entry)) << "unexpected " << entry.toStdString();
        EXPECT_FALSE(seen.contains(entry)) << "repeated " << entry.toStdString();
        seen.insert(entry);
    }
    EXPECT_EQ(entries.size(), 67);
    for (const QString& key : kKeySet) {
        EXPECT_TRUE(seen.contains(key)) << "missing " << key.toStdString();
    }
}

TEST(EnglishLanguageFile, EveryTextIsFoundAndNotEmpty) {
    const i18n::LanguageFile english(kEnglishFile);
    for (const QString& entry : kKeySet) {
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
