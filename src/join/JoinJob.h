// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flac/FlacEncode.h"
#include "join/DecodeAhead.h"
#include "join/JoinHost.h"
#include "join/M4bOutput.h"
#include "join/OpusOutput.h"
#include "join/PartialOutput.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace join {

class DeviceSink;
class OutputMetadata;
class PcmSink;
class PushEncoder;
class SampleConvert;

// One input of a join as the file list holds it: the path and the format recorded when the file
// was added. The recorded format, not the file's header, decides the conversion.
struct JoinRow {
    QString path;
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    bool isFloat = false;  // IEEE float samples; only the command line takes such rows
};

// The list of inputs, read row by row while the join runs.
class JoinRows {
public:
    virtual ~JoinRows() = default;
    virtual int Count() const = 0;
    virtual JoinRow Row(int index) const = 0;
};

enum class OutputKind { Wav, Mp3, Wma, Flac, M4b, Opus };

// The output the user chose, read when the output stage begins.
struct JoinOutput {
    OutputKind kind = OutputKind::Wav;
    QString path;
    int mp3Kbps = 128;
    bool mp3Copyright = false;
    bool mp3Crc = false;
    bool mp3Original = false;
    bool mp3Private = false;
    int wmaBitrate = 96000;  // bit/s
    int m4bKbps = 0;         // 0: by the channels, DefaultM4bKbps
    bool m4bMusic = false;   // an .m4a rather than an audiobook
    int opusKbps = 0;        // 0: by the channels, DefaultOpusKbps
    // What the join writes besides the audio, its tags and chapters; none when null, as the design's
    // joins. The job makes it into these, from where each row ends, and into a WMA file's header.
    const OutputMetadata* metadata = nullptr;
    QByteArray mp3Tag;     // an ID3v2 tag before the first MP3 frame
    QByteArray wavChunks;  // complete chunks after the WAV data chunk
    // Vorbis comments and pictures, for FLAC and Opus.
    flac::Metadata vorbisMetadata;
    M4bMetadata m4bMetadata;
    // A cue sheet for the output, written there once the join has succeeded; none when empty. It
    // needs metadata.
    QString cuePath;
    // MP3 rows of one kind are joined frame for frame, without decoding, into an MP3 output; the
    // bitrate and the flags are the rows' own. Needs a fixed output.
    bool copyMp3 = false;
    // A regular file (or a new one) is written under a hidden name beside it and replaces it only
    // when the join has succeeded. True where the front has made path its own file already.
    bool writeInPlace = false;
};

// The whole join: every row read or decoded in list order, raised to the target format and appended
// to the temporary PCM file, then written out as WAV or encoded to MP3 or WMA. Runs on the thread
// of its host and tells it everything it shows.
class JoinJob {
public:
    JoinJob(JoinHost& host, const JoinRows& rows, std::function<JoinOutput()> output);

    QString TempPcmFile;
    int TargetSampleRate = 0;
    int TargetChannels = 1;
    int TargetBits = 8;
    // IEEE float samples of TargetBits (32) bits.
    bool TargetFloat = false;
    // The output function gives the same choice whenever it is asked, so the job may read it
    // before the output stage (a WAV output can then be written while the rows are joined).
    bool OutputFixed = false;
    // An MP3, WMA or FLAC output that is a regular file gets the rows as they are joined, without the
    // temporary file: the command line's way, which shows one bar at a time.
    bool StreamEncoders = false;
    // The largest RIFF size a WAV output keeps the canonical header for; a seam for tests.
    std::uint64_t WavSizeLimit = 0xFFFFFFFFu;

    void DoJoin();

    // For each row joined so far, the frames of the temporary file after it: where each row ends
    // in the joined audio, exactly as converted.
    const std::vector<std::uint64_t>& RowEndFrames() const { return rowEndFrames_; }
    // Samples beyond full scale that were clipped when the joined audio was brought to the 16 bits
    // an encoder takes, or to a FLAC output's 24; only float audio can hold them.
    std::uint64_t ClippedSamples() const { return clippedSamples_; }

private:
    // The host as the job's steps see it: messages name the user's output, never the hidden file it
    // is written under, and a failure is remembered, so that file takes its name only after a clean join.
    class OutputHost : public ForwardingHost {
    public:
        using ForwardingHost::ForwardingHost;
        void SetJoinFailed() override;
        int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
        void ShowAs(const QString& written, const QString& shown);
        bool Failed() const { return failed_; }

    private:
        bool failed_ = false;
        QString written_;
        QString shown_;
    };

    // Decides where the output stage writes and makes the hidden file; false when it cannot be
    // made (its message shown), which ends the job at once as an output that cannot be created.
    bool PrepareOutput(const JoinOutput& output);
    // The output as the output stage writes it.
    JoinOutput Written(const JoinOutput& output) const;
    // output with the tag or chunks its metadata makes of the rows joined so far.
    JoinOutput WithMetadata(JoinOutput output) const;
    // Writes the tags and markers into a finished WMA file; false with the message shown.
    bool AddWmaMetadata(const JoinOutput& output);
    // After the output stage: a clean join gives the hidden file the output's name and writes the
    // cue sheet, with the rows' ends at sampleRate; a failed or cancelled one deletes the hidden file.
    void FinishOutput(const JoinOutput& output, int sampleRate);
    // The rows copied frame for frame into the output, as Mp3Copy does.
    void JoinByCopy(const JoinOutput& output);
    // A WAV output is written as the rows are joined, without the temporary file, when the output is
    // a new or empty regular file that opens. False when the join goes the usual way instead; true
    // when it has run.
    bool JoinStraightIntoWav();
    // An MP3 or WMA output fed as the rows are joined, when StreamEncoders allows it and the output is
    // a regular file: the tag before the audio is written with the rows' ends guessed and put right at
    // the end. False when the join goes the usual way instead; true when it has run.
    bool JoinStraightIntoEncoder();
    // Whether the output is written to a regular file (or one still to be made), which a fed join
    // can go back into at the end.
    bool WrittenToRegularFile(const JoinOutput& chosen) const;
    // A FLAC output encoded as the rows are joined, when StreamEncoders allows it and the output is a
    // regular file: the head is written for the rows' ends as expected and completed at the end.
    // False when the join goes the usual way instead; true when it has run.
    bool JoinStraightIntoFlac();
    // Puts tag in place of the oldSize bytes at the start of the file at path, moving what follows
    // when the sizes differ; false when that failed.
    bool ReplaceLeadingTag(const QString& path, qsizetype oldSize, const QByteArray& tag);
    // Closes the encoder at the end of the output stage and tells what went wrong.
    void CloseEncoder(PushEncoder& encoder, const JoinOutput& output, bool readFailed);
    // Whether appending to sink failed, the message shown the first time it is asked.
    std::function<bool()> SinkFailed(const DeviceSink& sink);
    // The file the rows are appended to, for messages.
    const QString& SinkName() const { return sinkName_.isEmpty() ? TempPcmFile : sinkName_; }
    // The rows in list order; false when one failed (its message shown) or the temporary file
    // could not be written.
    bool AppendRows(PcmSink& sink, const std::function<bool()>& writeFailed,
                    const std::function<void()>& rowEnded);
    // A row failure shows its message itself and returns false.
    bool JoinWavRow(const JoinRow& row, SampleConvert& convert);
    // decoded: the row as a worker decodes it.
    bool JoinDecodedRow(const JoinRow& row, DecodeAhead& decoded, SampleConvert& convert);
    // The bytes of decoded PCM read at a time for the row.
    std::size_t DecodedBlockBytes(const JoinRow& row) const;
    // False when the output stage ended at once: the dialog stays open and nothing is cleaned up.
    bool WriteOutput(const JoinOutput& output);
    bool EncodeOutput(const JoinOutput& output);
    // Opens out, named the output, for writing; false with the message shown and the join failed.
    bool CreateOutput(QFile& out);
    bool EncodeFlacOutput(const JoinOutput& output);
    bool EncodeM4bOutput(const JoinOutput& output);
    bool EncodeOpusOutput(const JoinOutput& output);
    // The frames of the temporary PCM file, and what an encoder running through them tells the host
    // (progress, events) and asks it (Cancel).
    std::uint64_t TempFrames(const QFile& in) const;
    std::function<bool(std::uint64_t)> EncodeProgress(std::uint64_t frames);
    // After an output stage that reported no failure: a missing output file fails the join.
    void FailIfOutputVanished(const QString& path);
    void ShowError(const QString& text);

    OutputHost host_;
    const JoinRows& rows_;
    std::function<JoinOutput()> output_;
    bool joinFailed_ = false;
    QString sinkName_;
    std::vector<std::uint64_t> rowEndFrames_;
    std::uint64_t clippedSamples_ = 0;
    std::unique_ptr<PartialOutput> partial_;
};

// The highest sample rate, channel count and bit depth over the rows, from 0, 1 and 8; 32-bit
// float when any row is float.
struct TargetFormat {
    int sampleRate = 0;
    int channels = 1;
    int bits = 8;
    bool isFloat = false;
};
TargetFormat TargetOf(const JoinRows& rows);
// The rows' paths, in list order.
QStringList PathsOf(const JoinRows& rows);

// The bitrate in kbps of a join's MP3 output at targetSampleRate when kbps was chosen: the join's
// own limit for low rates, then what the encoder makes of it.
int EncodedMp3Kbps(int targetSampleRate, int kbps);

// Deletes a temporary PCM file left behind, unless a join (of this or another copy of the
// program) still holds it.
void RemoveLeftoverTempPcm(const QString& path);
// The same for every temporary PCM file in folder, whichever copy of the program made it.
void RemoveLeftoverTempPcms(const QString& folder);
// The temporary PCM file of this process in folder (which ends in '/'): each running copy of the
// program has its own, so their joins never wait for each other.
QString TempPcmPath(const QString& folder);

// Percentage of done in total, truncated toward zero; 0 when total is 0.
int Percent(std::uint64_t done, std::uint64_t total);

}  // namespace join
