// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/CueSheet.h"

#include "platform/FilePath.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace join {
namespace {

// Cue sheets have no escape for a double quote inside a quoted text.
QString Quoted(const QString& text) {
    QString inner = text;
    inner.replace(QLatin1Char('"'), QLatin1Char('\''));
    inner.replace(QLatin1Char('\n'), QLatin1Char(' '));
    inner.remove(QLatin1Char('\r'));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString IndexTime(std::uint64_t frame, int sampleRate) {
    const std::uint64_t cdFrames = sampleRate > 0 ? frame * 75 / static_cast<std::uint64_t>(sampleRate) : 0;
    return QStringLiteral("%1:%2:%3")
        .arg(cdFrames / (75 * 60), 2, 10, QLatin1Char('0'))
        .arg(cdFrames / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(cdFrames % 75, 2, 10, QLatin1Char('0'));
}

// Whether a and b name one file: the same file through any link, or, where neither exists yet, the
// same place.
bool SameFile(const QString& a, const QString& b) {
    struct stat first = {};
    struct stat second = {};
    const bool firstExists = stat(platform::EncodeName(a).constData(), &first) == 0;
    const bool secondExists = stat(platform::EncodeName(b).constData(), &second) == 0;
    if (firstExists || secondExists) {
        return firstExists && secondExists && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }
    const auto folder = [](const QString& path) {
        return platform::CanonicalPath(QFileInfo(platform::AbsolutePath(path)).absolutePath());
    };
    return QFileInfo(a).fileName() == QFileInfo(b).fileName() && folder(a) == folder(b);
}

}  // namespace

QString CueFileName(const QString& cuePath, const QString& outputPath) {
    return QFileInfo(platform::AbsolutePath(cuePath))
        .absoluteDir()
        .relativeFilePath(platform::AbsolutePath(outputPath));
}

bool CueCanName(const QString& fileName) {
    return !fileName.contains(QLatin1Char('"')) && !fileName.contains(QLatin1Char('\n')) &&
           !fileName.contains(QLatin1Char('\r'));
}

CueCheck CheckCueSheet(const QString& cuePath, const QString& outputPath, const QStringList& inputs,
                       bool overwrite) {
    using Refusal = CueCheck::Refusal;
    if (inputs.size() > kMaxCueTracks) {
        return {Refusal::TooManyTracks, 0, {}};
    }
    const QString cue = platform::AbsolutePath(cuePath);
    if (access(platform::EncodeName(QFileInfo(cue).absolutePath()).constData(), W_OK | X_OK) != 0) {
        return {Refusal::FolderUnwritable, errno, {}};
    }
    if (platform::FileStatus(cue).IsDir()) {
        return {Refusal::IsFolder, 0, {}};
    }
    if (SameFile(cue, outputPath)) {
        return {Refusal::ReplacesOutput, 0, {}};
    }
    for (const QString& input : inputs) {
        if (SameFile(cue, input)) {
            return {Refusal::ReplacesInput, 0, platform::AbsolutePath(input)};
        }
    }
    if (!overwrite && platform::FileStatus(cue).Exists()) {
        return {Refusal::Exists, 0, {}};
    }
    if (const QString name = CueFileName(cue, outputPath); !CueCanName(name)) {
        return {Refusal::CannotName, 0, name};
    }
    return {};
}

QByteArray CueSheet(const QString& fileName, const char* fileType, const AudioTags& album,
                    const std::vector<JoinChapter>& chapters, int sampleRate) {
    QString sheet;
    const QString performer = album.albumArtist.isEmpty() ? album.artist : album.albumArtist;
    if (!performer.isEmpty()) {
        sheet += QStringLiteral("PERFORMER ") + Quoted(performer) + QLatin1Char('\n');
    }
    if (!album.album.isEmpty()) {
        sheet += QStringLiteral("TITLE ") + Quoted(album.album) + QLatin1Char('\n');
    }
    sheet += QStringLiteral("FILE ") + Quoted(fileName) + QLatin1Char(' ') + QLatin1String(fileType) +
             QLatin1Char('\n');
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        sheet += QStringLiteral("  TRACK %1 AUDIO\n").arg(i + 1, 2, 10, QLatin1Char('0'));
        sheet += QStringLiteral("    TITLE ") + Quoted(chapters[i].title) + QLatin1Char('\n');
        if (!chapters[i].performer.isEmpty()) {
            sheet += QStringLiteral("    PERFORMER ") + Quoted(chapters[i].performer) + QLatin1Char('\n');
        }
        sheet += QStringLiteral("    INDEX 01 ") + IndexTime(chapters[i].startFrame, sampleRate) +
                 QLatin1Char('\n');
    }
    // A FILE name that is not UTF-8 keeps its bytes: players open the output by them.
    return platform::EncodeName(sheet);
}

}  // namespace join
