// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/JoinJob.h"
#include "join/WavOutput.h"

#include "FileSizeLimit.h"
#include "MessageRecorder.h"
#include "RecordingHost.h"
#include "WavBuilder.h"
#include "audio/Decoder.h"
#include "audio/TestMedia.h"
#include "join/DecodeAhead.h"
#include "join/OutputMetadata.h"
#include "platform/ExeFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/file.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace {

class VectorRows : public join::JoinRows {
public:
    int Count() const override { return static_cast<int>(rows.size()); }
    join::JoinRow Row(int index) const override { return rows[static_cast<std::size_t>(index)]; }
    std::vector<join::JoinRow> rows;
};

class JoinHostLog : public RecordingHost {
public:
    void SetStatusText(const QString& text) override {
        RecordingHost::SetStatusText(text);
        statusTexts << text;
    }
    void ProcessMessages() override {
        RecordingHost::ProcessMessages();
        if (onProcess) {
            onProcess();
        }
    }
    QStringList statusTexts;
    std::function<void()> onProcess;  // after every block
};

// Decoded PCM of a file through the decoding layer.
QByteArray Pcm(const QString& path) {
    return testmedia::OpenAndReadAll(path, path.endsWith(QLatin1String(".wma"))).pcm;
}

class JoinJobTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // The encoder modules are loaded from the program's folder: the build folder.
        platform::SetExeFolderForTesting(QStringLiteral(WAVESTITCH_BUILD_DIR "/"));
    }
    void TearDown() override { platform::SetExeFolderForTesting(QString()); }

    QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = Path(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    // Rows as the file list would record them.
    void AddRow(const QString& path, int rate, int channels, int bits) {
        rows_.rows.push_back({path, rate, channels, bits});
    }

    // Runs a join with the target the Join button would compute. atOutputStage runs when the job
    // asks for the output, after the temporary file is complete.
    void Join(join::OutputKind kind, const QString& output, int mp3Kbps = 128,
              const std::function<void()>& atOutputStage = {}) {
        join::JoinJob job(host_, rows_, [&] {
            if (atOutputStage) {
                atOutputStage();
            }
            join::JoinOutput out;
            out.kind = kind;
            out.path = output;
            out.mp3Kbps = mp3Kbps;
            out.metadata = metadata_;
            return out;
        });
        const join::TargetFormat target = join::TargetOf(rows_);
        job.TempPcmFile = tempPcm_.isEmpty() ? Path(QStringLiteral("AudioTemp.pcm")) : tempPcm_;
        job.TargetSampleRate = target.sampleRate;
        job.TargetChannels = target.channels;
        job.TargetBits = target.bits;
        job.OutputFixed = outputFixed_;
        job.WavSizeLimit = wavSizeLimit_;
        job.StreamEncoders = streamEncoders_;
        job.DoJoin();
    }

    QTemporaryDir dir_;
    VectorRows rows_;
    JoinHostLog host_;
    QString tempPcm_;  // empty: AudioTemp.pcm in the test's folder
    bool outputFixed_ = false;
    std::uint64_t wavSizeLimit_ = join::kMaxRiffSize;
    bool streamEncoders_ = false;
    const join::OutputMetadata* metadata_ = nullptr;
};

TEST_F(JoinJobTest, RowsInTheTargetFormatAreConcatenatedExactly) {
    const QByteArray a = testmedia::ReadFile(testmedia::Tone(44100, 2, 0.5)).mid(44);
    const QString mp3 = testmedia::Lame("join_b.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    // An extensible header, odd chunks, and data cut one byte into its last frame, which must not
    // shift the row after it.
    const QString odd = Write("odd.wav", WavBuilder()
                                             .ExtensiblePcm(2, 44100, 16)
                                             .Chunk("LIST", "abc")
                                             .Chunk("junk", "xyz", false)
                                             .Data(QByteArray(4001, '\x11'))
                                             .Bytes());
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    AddRow(odd, 44100, 2, 16);
    AddRow(mp3, 44100, 2, 16);
    const QString out = Path("out.wav");
    Join(join::OutputKind::Wav, out);

    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(host_.joinFailed);
    EXPECT_TRUE(host_.closed);
    EXPECT_FALSE(QFile::exists(Path("AudioTemp.pcm")));
    const QByteArray written = testmedia::ReadFile(out);
    ASSERT_GT(written.size(), 44);
    EXPECT_EQ(written.mid(44), a + QByteArray(4000, '\x11') + Pcm(mp3));
    EXPECT_EQ(host_.statusTexts.last(), out);
    EXPECT_EQ(host_.joinProgress.back(), 100);
}

TEST_F(JoinJobTest, LowerFormatsAreRaisedToTheTarget) {
    // 22050 Hz mono 8-bit beside 44100 Hz stereo 16-bit: every frame twice, widened, in both channels.
    const QString low =
        Write("low.wav", WavBuilder().Format(1, 22050, 8).Data(QByteArray(22050, '\xFF')).Bytes());
    AddRow(low, 22050, 1, 8);
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    const QString out = Path("raised.wav");
    Join(join::OutputKind::Wav, out);
    const QByteArray written = testmedia::ReadFile(out);
    EXPECT_EQ(written.mid(22, 2), QByteArray("\x02\x00", 2));          // channels
    EXPECT_EQ(written.mid(24, 4), QByteArray("\x44\xAC\x00\x00", 4));  // 44100 Hz
    EXPECT_EQ(written.mid(34, 2), QByteArray("\x10\x00", 2));          // 16 bits
    ASSERT_EQ(written.size(), 44 + (2 * 22050 + 22050) * 4);
    // Widen8To16(255) = 32511 = 0x7EFF in both channels of the first frames.
    EXPECT_EQ(written.mid(44, 8), QByteArray("\xFF\x7E\xFF\x7E\xFF\x7E\xFF\x7E", 8));
}

TEST_F(JoinJobTest, GaplessMp3InputsKeepEverySampleInMp3Output) {
    const QString one = testmedia::Lame("gap_1.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    const QString two = testmedia::Lame("gap_2.mp3", testmedia::Tone(44100, 2, 0.5), {"-b", "128"});
    AddRow(one, 44100, 2, 16);
    AddRow(two, 44100, 2, 16);
    const QString out = Path("gapless.mp3");
    Join(join::OutputKind::Mp3, out);
    ASSERT_TRUE(host_.messages.empty()) << host_.messages[0].text.toStdString();
    const auto inputFrames =
        testmedia::OpenAndReadAll(one, false).Frames() + testmedia::OpenAndReadAll(two, false).Frames();
    EXPECT_EQ(inputFrames, 66150u);
    EXPECT_EQ(testmedia::OpenAndReadAll(out, false).Frames(), inputFrames);
}

// Whatever the worker's lead (none, a few blocks, all), and whether it has waited at its limit, the
// blocks are the row's samples once each, in order, each with the position after it; a worker left
// waiting at its limit ends with its row.
TEST_F(JoinJobTest, ARowDecodedAheadGivesEveryBlockOnceInOrder) {
    const QString mp3 = testmedia::Lame("ahead.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    const QByteArray whole = Pcm(mp3);
    for (const std::size_t limit : {std::size_t{0}, std::size_t{30000}, join::DecodeAhead::kLimit}) {
        for (const bool wait : {false, true}) {
            join::DecodeAhead ahead(mp3, audio::OpenFileStream, 10240, limit);
            ASSERT_TRUE(ahead.Opened());
            if (wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            QByteArray pcm;
            join::DecodedBlock block;
            while (ahead.Next(block)) {
                pcm.append(block.bytes.data(), static_cast<qsizetype>(block.bytes.size()));
                EXPECT_EQ(block.position, static_cast<std::uint64_t>(pcm.size()));
            }
            EXPECT_EQ(pcm, whole) << limit;
        }
    }
    join::DecodeAhead left(mp3, audio::OpenFileStream, 10240, 30000);
    join::DecodedBlock block;
    EXPECT_TRUE(left.Next(block));
    join::DecodeAhead missing(Path("missing.mp3"), audio::OpenFileStream, 10240);
    EXPECT_FALSE(missing.Opened());
    EXPECT_FALSE(missing.Next(block));
}

TEST_F(JoinJobTest, WideAndNarrowTargetsEncodeToMp3AndWma) {
    // Six channels are mixed down to stereo for the encoders; 8-bit targets are widened.
    AddRow(Write("six.wav", WavBuilder().Format(6, 32000, 16).Data(QByteArray(32000 * 12, '\0')).Bytes()),
           32000, 6, 16);
    AddRow(Write("six2.wav", WavBuilder().Format(6, 32000, 16).Data(QByteArray(32000 * 12, '\0')).Bytes()),
           32000, 6, 16);
    Join(join::OutputKind::Mp3, Path("six.mp3"));
    const testmedia::Decoded six = testmedia::OpenAndReadAll(Path("six.mp3"), false);
    EXPECT_EQ(six.info.chans, 2u);
    EXPECT_EQ(six.Frames(), 64000u);

    rows_.rows.clear();
    AddRow(Write("mono8.wav", WavBuilder().Format(1, 8000, 8).Data(QByteArray(8000, '\x80')).Bytes()), 8000,
           1, 8);
    AddRow(Path("mono8.wav"), 8000, 1, 8);
    Join(join::OutputKind::Wma, Path("mono8.wma"));
    const testmedia::Decoded wma = testmedia::OpenAndReadAll(Path("mono8.wma"), true);
    EXPECT_EQ(wma.info.freq, 44100u);
    // Nothing of the input is lost; WMA pads the end to whole codec frames.
    EXPECT_GE(wma.Frames(), 2u * 44100);
    EXPECT_LE(wma.Frames(), 2u * 44100 + 2 * 2048);
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(JoinJobTest, AFailingRowStopsTheJoinBeforeLaterRowsAndWritesNothing) {
    for (int i = 1; i <= 5; ++i) {
        AddRow(i == 3 ? Path("missing.mp3") : testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    }
    const QString out = Path("never.wav");
    Join(join::OutputKind::Wav, out);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text, QStringLiteral("Could not open '") + Path("missing.mp3") + "'");
    EXPECT_EQ(host_.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(host_.messages[0].flags, 0u);
    EXPECT_EQ(host_.statusTexts.size(), 3);
    EXPECT_EQ(host_.statusTexts.last(), Path("missing.mp3"));
    EXPECT_TRUE(host_.joinFailed);
    EXPECT_TRUE(host_.closed);
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFile::exists(Path("AudioTemp.pcm")));
}

TEST_F(JoinJobTest, BrokenWavRowsFailWithTheirMessages) {
    const struct {
        const char* name;
        QByteArray bytes;
        const char* message;
    } cases[] = {
        {"compressed.wav", WavBuilder().Format(2, 44100, 16, 3).Data(QByteArray(400, '\0')).Bytes(),
         "Can not handle compressed Wave file"},
        {"nofmt.wav", QByteArray(12, 'R') + WavBuilder().Chunk("JUNK", "ab").Bytes().mid(12),
         "This is not a valid Wave file"},
        {"cut.wav", WavBuilder().Format(2, 44100, 16).Chunk("LIST", QByteArray(100, 'x')).Bytes().left(80),
         "This is not a valid Wave file"},
    };
    for (const auto& c : cases) {
        host_ = JoinHostLog();
        rows_.rows.clear();
        AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
        AddRow(Write(c.name, c.bytes), 44100, 2, 16);
        Join(join::OutputKind::Wav, Path("broken.wav"));
        ASSERT_EQ(host_.messages.size(), 1u) << c.name;
        EXPECT_EQ(host_.messages[0].text, QLatin1String(c.message)) << c.name;
        EXPECT_TRUE(host_.joinFailed) << c.name;
    }
}

TEST_F(JoinJobTest, DataClaimingMoreThanTheFileHoldsIsReadToItsEndAndRf64ToItsDs64Size) {
    AddRow(Write("short.wav",
                 WavBuilder().Format(1, 8000, 16).Data(QByteArray(1000, '\x22'), 0xFFFFFFFF).Bytes()),
           8000, 1, 16);
    AddRow(Write("short2.wav",
                 WavBuilder().Format(1, 8000, 16).Data(QByteArray(600, '\x33'), 0x7FFFF000).Bytes()),
           8000, 1, 16);
    // The chunk after an RF64 file's data is no audio.
    AddRow(Write("rf64.wav", WavBuilder()
                                 .Chunk("ds64", WavBuilder::Ds64(400))
                                 .Format(1, 8000, 16)
                                 .Data(QByteArray(400, '\x44'), 0xFFFFFFFF)
                                 .Chunk("LIST", QByteArray(100, 'x'))
                                 .Bytes()),
           8000, 1, 16);
    Join(join::OutputKind::Wav, Path("claims.wav"));
    EXPECT_FALSE(host_.joinFailed);
    EXPECT_EQ(testmedia::ReadFile(Path("claims.wav")).mid(44),
              QByteArray(1000, '\x22') + QByteArray(600, '\x33') + QByteArray(400, '\x44'));
}

TEST_F(JoinJobTest, AMissingEncoderLeavesTheDialogOpenAndDeletesTheTemporaryFile) {
    platform::SetExeFolderForTesting(dir_.path() + QLatin1Char('/'));
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    {
        MessageRecorder adapterMessages;
        Join(join::OutputKind::Mp3, Path("nomodule.mp3"));
        ASSERT_EQ(adapterMessages.messages.size(), 1u);
        EXPECT_EQ(adapterMessages.messages[0].text, QStringLiteral("Could not load lame_enc.so file"));
    }
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(host_.joinFailed);
    EXPECT_FALSE(host_.closed);
    EXPECT_FALSE(QFile::exists(Path("AudioTemp.pcm")));
    platform::SetExeFolderForTesting(QStringLiteral(WAVESTITCH_BUILD_DIR "/"));
    host_ = JoinHostLog();
    Join(join::OutputKind::Wav, Path("after.wav"));
    EXPECT_TRUE(host_.closed);
    EXPECT_EQ(testmedia::ReadFile(Path("after.wav")).size(), 44 + 2 * 88200);
}

// Rows into a WAV output whose choice is fixed go straight into the output, with the same bytes as
// through the temporary file, on either side of the size limit; the header's shape is guessed from
// the WAV rows' files and the data moved where the guess was wrong. A failure puts the output back.
TEST_F(JoinJobTest, RowsGoStraightIntoANewWavOutput) {
    // A recorder's chunk before the format, which only the command line's rows have.
    const QString odd = Write("odd.wav", WavBuilder()
                                             .Chunk("bext", QByteArray(603, 'b'))
                                             .Format(1, 22050, 8)
                                             .Data(QByteArray(3001, '\x90'))
                                             .Bytes());
    const QString tone = testmedia::Tone(44100, 2, 0.3);
    const QString mp3 = testmedia::Lame("straight.mp3", tone, {"-b", "128"});
    struct Case {
        std::vector<QString> rows;
        std::uint64_t limit;  // 0: just the RIFF size of the joined file, which keeps it canonical
        QByteArray start;     // how the output begins
    };
    const std::vector<Case> cases = {
        {{tone, odd, tone}, join::kMaxRiffSize, "RIFF"},
        {{tone, odd, tone}, 0, "RIFF"},    // expected past the limit: moved back
        {{tone, odd, mp3}, 1000, "RF64"},  // expected
        {{mp3, mp3}, 1000, "RF64"},        // not expected: moved on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows.size() << " rows, limit " << c.limit);
        rows_.rows.clear();
        for (const QString& row : c.rows) {
            AddRow(row, row == odd ? 22050 : 44100, row == odd ? 1 : 2, row == odd ? 8 : 16);
        }
        outputFixed_ = false;
        host_ = JoinHostLog();
        wavSizeLimit_ = join::kMaxRiffSize;
        Join(join::OutputKind::Wav, Path("through.wav"));
        wavSizeLimit_ = c.limit != 0 ? c.limit : testmedia::ReadFile(Path("through.wav")).size() - 8;
        Join(join::OutputKind::Wav, Path("through.wav"));
        outputFixed_ = true;
        host_ = JoinHostLog();
        host_.onProcess = [&] { EXPECT_FALSE(QFile::exists(Path("AudioTemp.pcm"))); };
        QFile::remove(Path("straight.wav"));
        Join(join::OutputKind::Wav, Path("straight.wav"));
        EXPECT_TRUE(host_.closed);
        EXPECT_FALSE(host_.joinFailed);
        EXPECT_EQ(host_.statusTexts.last(), Path("straight.wav"));
        EXPECT_EQ(testmedia::ReadFile(Path("straight.wav")).left(4), c.start);
        EXPECT_EQ(testmedia::ReadFile(Path("straight.wav")), testmedia::ReadFile(Path("through.wav")));
    }
    wavSizeLimit_ = join::kMaxRiffSize;
    rows_.rows.resize(3);

    // A row gone since it was added, or Cancel: a new output goes again, an empty one is left empty,
    // and one with data keeps it.
    Write("empty.wav", {});
    for (const bool cancel : {false, true}) {
        if (!cancel) {
            AddRow(Path("gone.wav"), 44100, 2, 16);
        }
        for (const QString name : {"new.wav", "empty.wav", "through.wav"}) {
            SCOPED_TRACE(name.toStdString() + (cancel ? " cancelled" : " failed"));
            const bool existed = QFile::exists(Path(name));
            const QByteArray before = existed ? testmedia::ReadFile(Path(name)) : QByteArray();
            host_ = JoinHostLog();
            host_.terminateAfter = cancel ? 1 : -1;
            Join(join::OutputKind::Wav, Path(name));
            EXPECT_EQ(host_.joinFailed, !cancel);
            ASSERT_EQ(host_.messages.size(), cancel ? 0u : 1u);
            if (!cancel) {
                EXPECT_EQ(host_.messages[0].text, "Could not open '" + Path("gone.wav") + "'");
            }
            EXPECT_EQ(QFile::exists(Path(name)), existed);
            EXPECT_EQ(existed ? testmedia::ReadFile(Path(name)) : QByteArray(), before);
        }
    }
}

// MP3, WMA and FLAC outputs fed as the rows are joined are the files the two stages make, in every target
// (8-bit, 16-bit stereo, deeper and wider ones dithered and mixed down). Their tags are written first
// with the rows' ends guessed and put right at the end, also when a row's own chapters do not fit in
// it after all and the tag shrinks.
TEST_F(JoinJobTest, EncodersFedAsTheRowsAreJoinedMakeTheFilesTheTwoStagesMake) {
    const QString tone = testmedia::Tone(44100, 2, 0.4);
    const QString low =
        Write("low.wav", WavBuilder().Format(1, 22050, 8).Data(QByteArray(3001, '\x90')).Bytes());
    const QString deep = Path("deep.wav");
    testmedia::RunTool("sox",
                       {"-n", "-r", "48000", "-c", "4", "-b", "24", deep, "synth", "0.3", "sine", "500"});
    // A FLAC row whose own chapters reach past its end: one chapter in the end, two in the first guess.
    const QString own = Path("own.flac");
    testmedia::RunTool("ffmpeg", {"-v", "error", "-i", tone, "-metadata", "CHAPTER001=00:00:00.000",
                                  "-metadata", "CHAPTER002=00:00:01.000", own});
    const QString mp3 = testmedia::Lame("plain.mp3", tone, {"-b", "128"});
    const std::vector<std::vector<QString>> joins = {{low, low}, {tone, mp3, own, low}, {deep, tone}};
    for (const auto& join : joins) {
        rows_.rows.clear();
        for (const QString& row : join) {
            AddRow(row,
                   row == low    ? 22050
                   : row == deep ? 48000
                                 : 44100,
                   row == low    ? 1
                   : row == deep ? 4
                                 : 2,
                   row == low    ? 8
                   : row == deep ? 24
                                 : 16);
        }
        const join::OutputMetadata rowsMetadata({join::TagSource::First, 0, true, false},
                                                join::PathsOf(rows_));
        metadata_ = &rowsMetadata;
        for (const auto kind : {join::OutputKind::Mp3, join::OutputKind::Wma, join::OutputKind::Flac}) {
            SCOPED_TRACE(testing::Message() << join.size() << " rows, kind " << static_cast<int>(kind));
            outputFixed_ = true;
            streamEncoders_ = false;
            host_ = JoinHostLog();
            Join(kind, Path("two.out"));
            streamEncoders_ = true;
            host_ = JoinHostLog();
            host_.onProcess = [&] { EXPECT_FALSE(QFile::exists(Path("AudioTemp.pcm"))); };
            Join(kind, Path("fed.out"));
            EXPECT_TRUE(host_.closed && !host_.joinFailed && host_.messages.empty());
            EXPECT_EQ(testmedia::ReadFile(Path("fed.out")), testmedia::ReadFile(Path("two.out")));
        }
    }
    metadata_ = nullptr;
    streamEncoders_ = false;
}

// Cancel, in the join or in the output stage, leaves the output path as it was: the old file byte
// for byte, or no file, and nothing hidden beside it. In the join it stops at once: the rows after
// the one it stopped in are not opened.
TEST_F(JoinJobTest, ATerminateRequestLeavesTheOutputAsItWas) {
    AddRow(testmedia::Tone(44100, 2, 1.0), 44100, 2, 16);
    AddRow(testmedia::Lame("stop.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"}), 44100, 2, 16);
    const QString output = Path("stopped");
    for (const bool fixed : {false, true}) {
        for (const auto kind : {join::OutputKind::Wav, join::OutputKind::Mp3, join::OutputKind::Wma,
                                join::OutputKind::M4b, join::OutputKind::Flac}) {
            for (const bool inOutputStage : {false, true}) {
                // A fixed WAV output is written as the rows are joined, and so is a fixed FLAC output
                // here: they have no output stage.
                streamEncoders_ = fixed && kind == join::OutputKind::Flac;
                if (fixed && (kind == join::OutputKind::Wav || streamEncoders_) && inOutputStage) {
                    continue;
                }
                SCOPED_TRACE(testing::Message() << "fixed " << fixed << " kind " << static_cast<int>(kind)
                                                << " output stage " << inOutputStage);
                // A fixed output replaces a file here, the other makes a new one.
                QFile::remove(output);
                if (fixed) {
                    Write("stopped", "old");
                }
                host_ = JoinHostLog();
                host_.terminateAfter = inOutputStage ? -1 : 1;
                host_.onProcess = [&] {
                    if (inOutputStage && host_.statusText == output) {
                        host_.terminateAfter = 0;
                    }
                };
                outputFixed_ = fixed;
                Join(kind, output);
                EXPECT_TRUE(host_.closed && !host_.joinFailed && host_.messages.empty());
                EXPECT_EQ(QFile::exists(output) ? testmedia::ReadFile(output) : "none",
                          fixed ? "old" : "none");
                EXPECT_EQ(QDir(dir_.path()).entryList({".*.part"}, QDir::Files | QDir::Hidden),
                          QStringList());
                // Stopped in the join, the later rows are not opened.
                EXPECT_EQ(host_.processed == 1, !inOutputStage);
            }
        }
    }
    streamEncoders_ = false;
}

// The joined file replaces the one chosen as a whole, keeping its permissions; a link chosen keeps
// leading to it.
TEST_F(JoinJobTest, AReplacedOutputKeepsItsPermissionsAndALinkStaysALink) {
    AddRow(testmedia::Tone(44100, 2, 0.2), 44100, 2, 16);
    AddRow(testmedia::Tone(44100, 2, 0.2), 44100, 2, 16);
    const QString real = Write("real.wav", "old");
    ASSERT_TRUE(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(QFile::link(real, Path("link.wav")));
    for (const bool fixed : {false, true}) {
        outputFixed_ = fixed;
        host_ = JoinHostLog();
        Join(join::OutputKind::Wav, Path("link.wav"));
        EXPECT_TRUE(host_.closed);
        EXPECT_TRUE(QFileInfo(Path("link.wav")).isSymLink());
        EXPECT_EQ(QFileInfo(real).size(), 44 + 2 * 35280);
        EXPECT_EQ(QFile::permissions(real) & 0x0FFF, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
        Write("real.wav", "old");
    }
}

TEST_F(JoinJobTest, ATerminateRequestReachesIntoABlockOfExtremeRepeats) {
    // 100 frames at 1 Hz beside a 768 kHz row: the first block alone would be 150 MB, beyond the cap.
    AddRow(Write("slow.wav", WavBuilder().Format(1, 1, 16).Data(QByteArray(200, '\1')).Bytes()), 1, 1, 16);
    AddRow(Write("fast.wav", WavBuilder().Format(1, 768000, 16).Data(QByteArray(200, '\2')).Bytes()), 768000,
           1, 16);
    host_.terminateAfter = 1;
    {
        const FileSizeLimit limit(16 * 1024 * 1024);
        Join(join::OutputKind::Wav, Path("stopped.wav"));
    }
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(host_.joinFailed);
    EXPECT_TRUE(host_.closed);
}

// Another copy of the program joining now holds its own temporary file, which a join leaves alone
// while it clears what ended joins left behind; a join given the held file's name is refused.
TEST_F(JoinJobTest, ATemporaryFileHeldByAnotherJoinIsNeitherDeletedNorShared) {
    QFile held(Path("AudioTemp-2.pcm"));
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    ASSERT_EQ(flock(held.handle(), LOCK_EX | LOCK_NB), 0);
    Write(QStringLiteral("AudioTemp-1.pcm"), "left");
    Write(QStringLiteral("AudioTemp.pcm"), "left");
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    tempPcm_ = Path(QStringLiteral("AudioTemp-3.pcm"));
    Join(join::OutputKind::Wav, Path("first.wav"));
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_TRUE(QFile::exists(Path("first.wav")));
    EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("AudioTemp*")}), QStringList{"AudioTemp-2.pcm"});

    // A lock taken through another open of the file counts as another join, in this process too.
    tempPcm_ = held.fileName();
    Join(join::OutputKind::Wav, Path("second.wav"));
    held.close();
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text,
              QStringLiteral("Could not create '") + held.fileName() + "': another join may be using it");
    EXPECT_TRUE(host_.joinFailed);
    EXPECT_TRUE(host_.closed);
    EXPECT_FALSE(QFile::exists(Path("second.wav")));
    EXPECT_TRUE(held.exists());
}

// A fault during a join: the user sees a message, the job shows no completion (it fails, or it
// leaves the dialog open for Cancel), and no input is changed.
TEST_F(JoinJobTest, FaultsEndWithAMessageAndNoCompletionAndLeaveInputsAlone) {
    const QString wav = Write("in.wav", testmedia::ReadFile(testmedia::Tone(44100, 2, 0.5)));
    const QString mp3 = Write("in.mp3", testmedia::ReadFile(testmedia::Lame(
                                            "fault_in.mp3", testmedia::Tone(44100, 2, 0.5), {"-b", "128"})));
    enum Stage { None, BeforeJoin, AtOutput };
    const struct {
        const char* name;
        join::OutputKind kind;
        const char* output;                                // in the test's folder
        const char* tempPcm;                               // in the test's folder; empty: AudioTemp.pcm
        Stage limitAt;                                     // when the file size cap starts
        rlim_t limit;                                      // the cap, as a full disk
        std::function<void(const QString& folder)> fault;  // before the join
        std::function<void(const QString& folder)> atOutput;
        const char* message;  // %1 the output, %2 the temporary file, %3 the third row, %4 the MP3 row
        bool dialogStaysOpen;
    } faults[] = {
        {"temporary file fills", join::OutputKind::Wav, "a.wav", "", BeforeJoin, 100000, nullptr, nullptr,
         "Could not write '%2'", false},
        {"temporary file fills at its last block", join::OutputKind::Wav, "a2.wav", "", BeforeJoin, 264500,
         nullptr, nullptr, "Could not write '%2'", false},
        {"WAV output fills", join::OutputKind::Wav, "b.wav", "", AtOutput, 150000, nullptr, nullptr,
         "Could not write '%1'", false},
        {"MP3 output fills", join::OutputKind::Mp3, "c.mp3", "", AtOutput, 4000, nullptr, nullptr,
         "Can not write the file.", false},
        {"WMA output fills", join::OutputKind::Wma, "d.wma", "", AtOutput, 6000, nullptr, nullptr,
         "Could not write '%1'", false},
        {"M4B output fills", join::OutputKind::M4b, "d.m4b", "", AtOutput, 6000, nullptr, nullptr,
         "Could not write '%1'", false},
        {"temporary file gone before the M4B output", join::OutputKind::M4b, "d2.m4b", "", None, 0, nullptr,
         [](const QString& d) { QFile::remove(d + "AudioTemp.pcm"); }, "Could not read '%2'", false},
        {"WAV output folder missing", join::OutputKind::Wav, "gone/e.wav", "", None, 0, nullptr, nullptr,
         "Cannot creat the output file.", true},
        {"MP3 output folder is a file", join::OutputKind::Mp3, "in.wav/f.mp3", "", None, 0, nullptr, nullptr,
         "Can not create the file.", true},
        {"WMA output folder deleted before the output stage", join::OutputKind::Wma, "out/g.wma", "", None, 0,
         [](const QString& d) { QDir().mkpath(d + "out"); },
         [](const QString& d) { QDir(d + "out").removeRecursively(); }, "Failed to Create Audio Writer",
         true},
        {"temporary folder missing", join::OutputKind::Wav, "h.wav", "tmp/AudioTemp.pcm", None, 0, nullptr,
         nullptr, "Could not create '%2'", false},
        {"temporary folder is a file", join::OutputKind::Wav, "i.wav", "in.mp3/AudioTemp.pcm", None, 0,
         nullptr, nullptr, "Could not create '%2'", false},
        {"WAV input deleted", join::OutputKind::Wav, "j.wav", "", None, 0,
         [](const QString& d) { QFile::remove(d + "gone.wav"); }, nullptr, "Could not open '%3'", false},
        {"WAV input cut in its header", join::OutputKind::Wav, "k.wav", "", None, 0,
         [](const QString& d) { QFile::resize(d + "gone.wav", 30); }, nullptr,
         "This is not a valid Wave file", false},
        {"MP3 input emptied", join::OutputKind::Wav, "l.wav", "", None, 0,
         [](const QString& d) { QFile::resize(d + "in.mp3", 0); }, nullptr, "Could not open '%4'", false},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        Write("in.mp3", testmedia::ReadFile(testmedia::Dir() + "fault_in.mp3"));
        const QString victim = Write("gone.wav", testmedia::ReadFile(wav));
        rows_.rows.clear();
        AddRow(wav, 44100, 2, 16);
        AddRow(mp3, 44100, 2, 16);
        AddRow(victim, 44100, 2, 16);
        const QString output = Path(f.output);
        tempPcm_ = *f.tempPcm != 0 ? Path(f.tempPcm) : QString();
        const QString temp = tempPcm_.isEmpty() ? Path("AudioTemp.pcm") : tempPcm_;
        if (f.fault) {
            f.fault(Path(""));
        }
        const QByteArray wavBytes = testmedia::ReadFile(wav);
        const QDateTime wavTime = QFileInfo(wav).lastModified();
        const QDateTime mp3Time = QFileInfo(mp3).lastModified();
        const QByteArray mp3Bytes = testmedia::ReadFile(mp3);

        host_ = JoinHostLog();
        std::optional<FileSizeLimit> limit;
        MessageRecorder adapterMessages;
        if (f.limitAt == BeforeJoin) {
            limit.emplace(f.limit);
        }
        Join(f.kind, output, 128, [&] {
            if (f.limitAt == AtOutput) {
                limit.emplace(f.limit);
            }
            if (f.atOutput) {
                f.atOutput(Path(""));
            }
        });
        limit.reset();

        QStringList texts;
        for (const auto& m : host_.messages) {
            texts << m.text;
        }
        for (const auto& m : adapterMessages.messages) {
            texts << m.text;
        }
        ASSERT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
        const QString expected = QString::fromUtf8(f.message)
                                     .replace("%1", output)
                                     .replace("%2", temp)
                                     .replace("%3", victim)
                                     .replace("%4", mp3);
        EXPECT_EQ(texts[0].toStdString(), expected.toStdString());
        if (f.dialogStaysOpen) {
            EXPECT_FALSE(host_.closed);
            EXPECT_FALSE(host_.joinFailed);
        } else {
            EXPECT_TRUE(host_.closed);
            EXPECT_TRUE(host_.joinFailed);
        }
        EXPECT_EQ(testmedia::ReadFile(wav), wavBytes);
        EXPECT_EQ(testmedia::ReadFile(mp3), mp3Bytes);
        EXPECT_EQ(QFileInfo(wav).lastModified(), wavTime);
        EXPECT_EQ(QFileInfo(mp3).lastModified(), mp3Time);
        QFile::remove(temp);
    }
}

// A read error in the middle of an input must fail the join, not end that input early. The test
// runs itself again under strace, which makes every read or kernel copy of the input after its first
// ones fail.
TEST_F(JoinJobTest, AReadErrorInAWavInputFailsTheJoin) {
    const QByteArray input = qgetenv("WAVESTITCH_FAULTY_INPUT");
    if (!input.isEmpty()) {
        AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
        AddRow(QString::fromLocal8Bit(input), 44100, 2, 16);
        Join(join::OutputKind::Wav, Path("unread.wav"));
        ASSERT_EQ(host_.messages.size(), 1u);
        EXPECT_EQ(host_.messages[0].text.toStdString(), "Could not read '" + input.toStdString() + "'");
        EXPECT_TRUE(host_.joinFailed);
        EXPECT_FALSE(QFile::exists(Path("unread.wav")));
        return;
    }
    // strace may be missing, or tracing forbidden where the tests run.
    if (QProcess::execute(QStringLiteral("strace"), {"-o", "/dev/null", "true"}) != 0) {
        GTEST_SKIP() << "strace cannot run here";
    }
    const QString faulty =
        Write("faulty.wav", WavBuilder().Format(2, 44100, 16).Data(QByteArray(200000, 'x')).Bytes());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAVESTITCH_FAULTY_INPUT"), faulty);
    // LeakSanitizer cannot run under a tracer; the sanitizer build checks leaks in this process.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("strace"),
                {"-f", "-o", "/dev/null", "-P", faulty, "-e", "inject=read,copy_file_range:error=EIO:when=3+",
                 QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                 "--gtest_filter=JoinJobTest.AReadErrorInAWavInputFailsTheJoin"});
    ASSERT_TRUE(child.waitForFinished(-1));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
}

TEST_F(JoinJobTest, AnOutputFolderDeletedWhileWrittenFailsTheJoin) {
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    AddRow(testmedia::Tone(44100, 2, 0.5), 44100, 2, 16);
    for (const auto kind :
         {join::OutputKind::Wav, join::OutputKind::Mp3, join::OutputKind::Wma, join::OutputKind::M4b}) {
        ASSERT_TRUE(QDir().mkpath(Path("out")));
        const QString output = Path("out/joined");
        host_ = JoinHostLog();
        host_.onProcess = [&] {
            if (host_.statusText == output) {
                QDir(Path("out")).removeRecursively();
            }
        };
        MessageRecorder adapterMessages;
        Join(kind, output);
        EXPECT_TRUE(adapterMessages.messages.empty());
        ASSERT_EQ(host_.messages.size(), 1u);
        EXPECT_EQ(host_.messages[0].text.toStdString(), "Could not write '" + output.toStdString() + "'");
        EXPECT_TRUE(host_.joinFailed);
        EXPECT_TRUE(host_.closed);
    }
}

}  // namespace
