#pragma once

#include "app/cli/Options.h"
#include "audio/TagReader.h"
#include "join/Chapters.h"
#include "join/JoinJob.h"

#include <QStringList>

#include <cstdint>
#include <vector>

namespace cli {

// What a join writes besides the audio, as the command line asks: the tags chosen from the
// inputs, a chapter per input, a cue sheet. The inputs' tags are read once, before the join.
class OutputMetadata {
public:
    OutputMetadata(const JoinOptions& options, const QStringList& inputs);

    // The chapters of the rows joined; rowEndFrames as the join job recorded them.
    std::vector<join::JoinChapter> Chapters(const std::vector<std::uint64_t>& rowEndFrames) const;

    // Puts the MP3 tag or the WAV chunks into output.
    void AddTo(join::JoinOutput& output, const std::vector<std::uint64_t>& rowEndFrames,
               int sampleRate) const;
    // Writes the tags and markers into the finished WMA file at path; empty or the error.
    QString AddToWma(const QString& path, const QString& scratchPath,
                     const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;
    bool ForWma() const { return chapters_ || !tags_.IsEmpty(); }

    // Writes the cue sheet options.cue names, for the output; false with the message shown.
    bool WriteCueSheet(const JoinOptions& options, const std::vector<std::uint64_t>& rowEndFrames,
                       int sampleRate) const;

    // The cue sheet for the output at outputPath, when one was asked for.
    QByteArray CueSheet(const QString& cuePath, const QString& outputPath, join::OutputKind kind,
                        const std::vector<std::uint64_t>& rowEndFrames, int sampleRate) const;

private:
    AudioTags tags_;
    QStringList titles_;
    QStringList performers_;
    bool chapters_ = false;
};

}  // namespace cli
