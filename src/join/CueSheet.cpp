#include "join/CueSheet.h"

#include "platform/FilePath.h"

#include <QDir>
#include <QFileInfo>

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
