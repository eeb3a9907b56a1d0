// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <utility>

// Every key the program looks up, by section; a language file holds exactly these.
inline constexpr std::pair<const char*, const char*> kLanguageKeysBySection[] = {
    {"LanguageProperty", "Name FontName FontSize CharSet"},
    {"ToolBar", "Add Remove Clear Join Language About Update"},
    {"Hint", "Add Remove Clear Join Language About Update Up Down Banner Browse"},
    {"ListView", "Name Frequency Channels Sample Size Time Path Bits Mono Stereo"},
    {"OpenDialog", "Filter NotPCM NotMP3Info NotWMAInfo NotSupport NotMediaInfo NotPCMJoiner"},
    {"SaveDialog", "WAVFilter MP3Filter WMAFilter"},
    {"StatusBar", "Files Time"},
    {"AboutForm", "Caption Version HomePage Copyright Reserved Licence Logo"},
    {"ProcessForm", "Caption Joining Encoding"},
    {"LanguageForm", "Caption Language"},
    {"OutputForm",
     "Caption OutputFormat Bitrate Sign CheckCRC CheckCopyright CheckOriginal CheckPrivate OutputFile Back "
     "Next Join Question Metadata CopyMp3 CopyNotMp3 CopyKinds CueExists CueTracks CueReplaces CueName "
     "CueWrite Browse"},
    {"MetadataForm", "Caption Tags TagsNone TagsFirst TagsFile Chapters CueSheet"},
    {"Common", "Ok Cancel Message"},
    {"Join", "Complete"},
    {"ListMenu", "SortByName Undo MoveUp MoveDown"},
    {"Messages", "NoBrowser Mp3Bitrate"},
};

// "Section/Key" for every key of the key set.
inline QList<QString> LanguageKeySet() {
    QList<QString> keys;
    for (const auto& [section, names] : kLanguageKeysBySection) {
        for (const QString& name : QString::fromLatin1(names).split(' ')) {
            keys.append(QString::fromLatin1(section) + '/' + name);
        }
    }
    return keys;
}

// "Section/Key" for every entry line, in file order, duplicates included. Only the ASCII key names
// are read, so the values may be in any code page.
inline QList<QString> LanguageEntriesOf(const QByteArray& content) {
    QList<QString> entries;
    QString section;
    for (const QByteArray& raw : content.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';')) {
            continue;
        }
        if (line.startsWith('[') && line.endsWith(']')) {
            section = QString::fromLatin1(line.mid(1, line.size() - 2).trimmed());
        } else if (line.contains('=')) {
            entries.append(section + '/' + QString::fromLatin1(line.left(line.indexOf('=')).trimmed()));
        } else {
            entries.append("<stray line: " + QString::fromLatin1(line) + ">");
        }
    }
    return entries;
}
