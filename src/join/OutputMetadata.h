// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/TagReader.h"
#include "join/Chapters.h"
#include "join/JoinJob.h"

#include <QStringList>

#include <cstdint>
#include <vector>

namespace join {

// Where the output's tags come from: the first input that has each, one input, or nowhere.
enum class TagSource { First, Input, None };

// What a join is asked to write besides the audio. Nothing by default, as the design's joins.
struct MetadataChoice {
    TagSource tags = TagSource::None;
    int tagsInput = 0;  // 1-based, in the order joined
    bool chapters = false;
    bool cueSheet = false;
};

// What a join writes besides the audio: the tags chosen from the inputs, a chapter per input, a cue
// sheet. The inputs' tags are read once, before the join.
class OutputMetadata {
public:
    OutputMetadata(const MetadataChoice& choice, const QStringList& inputs);

    // The chapters of the rows joined, a row's own where it has them; rowEndFrames as the join job
    // recorded them.
    std::vector<JoinChapter> Chapters(const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;
    // The inputs whose own chapters did not fit in their joined audio, and got one chapter instead.
    QStringList UnfitChapters(const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;

    // Puts the MP3 tag or the WAV chunks into output.
    void AddTo(JoinOutput& output, const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;
    // Writes the tags and markers into the finished WMA file at path; empty or the error.
    QString AddToWma(const QString& path, const QString& scratchPath,
                     const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;
    bool ForWma() const { return chapters_ || !tags_.IsEmpty(); }

    // Writes the cue sheet at cuePath for the output at outputPath, new and then renamed; empty or
    // the error.
    QString WriteCueSheet(const QString& cuePath, const QString& outputPath, OutputKind kind,
                          const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;

    // The cue sheet for the output at outputPath, when one was asked for.
    QByteArray CueSheet(const QString& cuePath, const QString& outputPath, OutputKind kind,
                        const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;

private:
    AudioTags tags_;
    QStringList titles_;
    QStringList performers_;
    QStringList inputs_;
    std::vector<std::vector<InputChapter>> ownChapters_;
    bool chapters_ = false;
};

}  // namespace join
