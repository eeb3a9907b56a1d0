// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace join {

// A cue sheet has two-digit track numbers.
constexpr int kMaxCueTracks = 99;

// The output as a cue sheet at cuePath names it: seen from the sheet's own folder.
QString CueFileName(const QString& cuePath, const QString& outputPath);

// Whether a FILE line can name fileName: the format has no escape for a double quote or a line
// break. A name that is not UTF-8 is written as its bytes, which players open it by.
bool CueCanName(const QString& fileName);

// Whether a cue sheet may be written at cuePath for the output at outputPath, checked before the join,
// so that no join ends in a sheet that destroys a file or names what is not there.
struct CueCheck {
    enum class Refusal {
        None,
        TooManyTracks,     // more inputs than a sheet has tracks
        FolderUnwritable,  // error: why its folder cannot take it
        IsFolder,
        ReplacesOutput,  // also through a link
        ReplacesInput,   // path: the input, as an absolute path
        Exists,          // without overwrite
        CannotName,      // path: the output's name in the sheet
    };
    Refusal refusal = Refusal::None;
    int error = 0;
    QString path;
};
CueCheck CheckCueSheet(const QString& cuePath, const QString& outputPath, const QStringList& inputs,
                       bool overwrite);

// A cue sheet (UTF-8) for the joined file fileName: one track per chapter, its INDEX 01 at the
// chapter's start in CD frames (75 a second, rounded down). album gives the sheet's own TITLE and
// PERFORMER where known. fileType is the FILE line's type: WAVE or MP3.
QByteArray CueSheet(const QString& fileName, const char* fileType, const AudioTags& album,
                    const std::vector<JoinChapter>& chapters, int sampleRate);

}  // namespace join
