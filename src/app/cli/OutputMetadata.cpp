#include "app/cli/OutputMetadata.h"

#include "app/cli/Report.h"

#include "join/CueSheet.h"
#include "join/Id3v2Tag.h"
#include "join/RiffMetadata.h"
#include "join/WmaMetadata.h"
#include "platform/FilePath.h"
#include "platform/SaveFile.h"

#include <QDir>
#include <QFileInfo>

namespace cli {

OutputMetadata::OutputMetadata(const JoinOptions& options, const QStringList& inputs)
    : chapters_(options.chapters) {
    const bool perInput = options.chapters || !options.cue.isEmpty();
    if (options.tags == TagSource::None && !perInput) {
        return;
    }
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const AudioTags tags = ReadTags(inputs.at(i));
        if (options.tags == TagSource::First) {
            tags_.FillFrom(tags);
        } else if (options.tags == TagSource::Input && i + 1 == options.tagsInput) {
            tags_ = tags;
        }
        titles_ << (tags.title.isEmpty() ? platform::ShownName(QFileInfo(inputs.at(i)).completeBaseName())
                                         : tags.title);
        performers_ << tags.artist;
    }
}

std::vector<join::JoinChapter> OutputMetadata::Chapters(
    const std::vector<std::uint64_t>& rowEndFrames) const {
    return join::MakeChapters(rowEndFrames, titles_, performers_);
}

void OutputMetadata::AddTo(join::JoinOutput& output, const std::vector<std::uint64_t>& rowEndFrames,
                           int sampleRate) const {
    const std::vector<join::JoinChapter> chapters =
        chapters_ ? Chapters(rowEndFrames) : std::vector<join::JoinChapter>();
    if (output.kind == join::OutputKind::Mp3) {
        output.mp3Tag = join::Id3v2Tag(tags_, chapters, sampleRate);
    } else if (output.kind == join::OutputKind::Wav) {
        output.wavChunks = join::RiffInfoChunk(tags_) + join::RiffCueChunks(chapters);
    }
}

QString OutputMetadata::AddToWma(const QString& path, const QString& scratchPath,
                                 const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const {
    const std::vector<join::JoinChapter> chapters =
        chapters_ ? Chapters(rowEndFrames) : std::vector<join::JoinChapter>();
    return join::AddWmaMetadata(path, scratchPath, tags_, chapters, sampleRate);
}

bool OutputMetadata::WriteCueSheet(const JoinOptions& options, const std::vector<std::uint64_t>& rowEndFrames,
                                   int sampleRate) const {
    const QByteArray sheet = CueSheet(options.cue, options.output, options.kind, rowEndFrames, sampleRate);
    if (const QString error = platform::SaveFile(options.cue, sheet); !error.isEmpty()) {
        PrintError(options.cue + QStringLiteral(": ") + error);
        return false;
    }
    return true;
}

QByteArray OutputMetadata::CueSheet(const QString& cuePath, const QString& outputPath, join::OutputKind kind,
                                    const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const {
    const QString name = join::CueFileName(cuePath, outputPath);
    // Cue sheets know no WMA; players take WAVE for any file they can decode.
    const char* type = kind == join::OutputKind::Mp3 ? "MP3" : "WAVE";
    return join::CueSheet(name, type, tags_, Chapters(rowEndFrames), sampleRate);
}

}  // namespace cli
