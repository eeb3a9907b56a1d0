// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/OutputMetadata.h"

#include "audio/MediaStream.h"
#include "join/CueSheet.h"
#include "join/Id3v2Tag.h"
#include "join/RiffMetadata.h"
#include "join/VorbisComments.h"
#include "join/WmaMetadata.h"
#include "platform/FilePath.h"
#include "platform/SaveFile.h"

#include <QDir>
#include <QFileInfo>

namespace join {

OutputMetadata::OutputMetadata(const MetadataChoice& choice, const QStringList& inputs)
    : inputs_(inputs), chapters_(choice.chapters) {
    const bool perInput = choice.chapters || choice.cueSheet;
    if (choice.tags == TagSource::None && !perInput) {
        return;
    }
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const AudioTags tags = ReadTags(inputs.at(i));
        if (choice.tags == TagSource::First) {
            tags_.FillFrom(tags);
        } else if (choice.tags == TagSource::Input && i + 1 == choice.tagsInput) {
            tags_ = tags;
        }
        titles_ << (tags.title.isEmpty() ? platform::ShownName(QFileInfo(inputs.at(i)).completeBaseName())
                                         : tags.title);
        performers_ << tags.artist;
        // Only the command line's media inputs bring their own chapters: a WMA's markers stay as they were.
        const bool media = choice.chapters && audio::MediaFormatName(inputs.at(i)) != nullptr;
        ownChapters_.push_back(media ? ReadChaptersWithFfmpeg(inputs.at(i)) : std::vector<InputChapter>());
    }
}

std::vector<JoinChapter> OutputMetadata::Chapters(const std::vector<std::uint64_t>& rowEndFrames,
                                                  int sampleRate) const {
    return MakeChapters(rowEndFrames, titles_, performers_, ownChapters_, sampleRate);
}

QStringList OutputMetadata::UnfitChapters(const std::vector<std::uint64_t>& rowEndFrames,
                                          int sampleRate) const {
    std::vector<std::size_t> unfit;
    if (chapters_) {
        MakeChapters(rowEndFrames, titles_, performers_, ownChapters_, sampleRate, &unfit);
    }
    QStringList paths;
    for (const std::size_t row : unfit) {
        paths << inputs_.at(static_cast<qsizetype>(row));
    }
    return paths;
}

void OutputMetadata::AddTo(JoinOutput& output, const std::vector<std::uint64_t>& rowEndFrames,
                           int sampleRate) const {
    const std::vector<JoinChapter> chapters =
        chapters_ ? Chapters(rowEndFrames, sampleRate) : std::vector<JoinChapter>();
    if (output.kind == OutputKind::Mp3) {
        output.mp3Tag = Id3v2Tag(tags_, chapters, sampleRate);
    } else if (output.kind == OutputKind::Wav) {
        output.wavChunks = RiffInfoChunk(tags_) + RiffCueChunks(chapters);
    } else if (output.kind == OutputKind::Flac || output.kind == OutputKind::Opus) {
        output.vorbisMetadata = VorbisMetadata(tags_, chapters, sampleRate);
    } else if (output.kind == OutputKind::M4b) {
        output.m4bMetadata = {tags_, chapters};
    }
}

QString OutputMetadata::AddToWma(const QString& path, const QString& scratchPath,
                                 const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const {
    const std::vector<JoinChapter> chapters =
        chapters_ ? Chapters(rowEndFrames, sampleRate) : std::vector<JoinChapter>();
    return AddWmaMetadata(path, scratchPath, tags_, chapters, sampleRate);
}

QString OutputMetadata::WriteCueSheet(const QString& cuePath, const QString& outputPath, OutputKind kind,
                                      const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const {
    return platform::SaveFile(cuePath, CueSheet(cuePath, outputPath, kind, rowEndFrames, sampleRate));
}

QByteArray OutputMetadata::CueSheet(const QString& cuePath, const QString& outputPath, OutputKind kind,
                                    const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const {
    const QString name = CueFileName(cuePath, outputPath);
    // Cue sheets know no WMA; players take WAVE for any file they can decode.
    const char* type = kind == OutputKind::Mp3 ? "MP3" : "WAVE";
    // A track for each input, whatever chapters it has of its own.
    return join::CueSheet(name, type, tags_, MakeChapters(rowEndFrames, titles_, performers_), sampleRate);
}

}  // namespace join
