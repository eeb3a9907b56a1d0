// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "encode/Formmetadata.h"
#include "encode/Formoutput.h"
#include "join/Formprocess.h"
#include "join/Jointhread.h"

#include "FileSizeLimit.h"
#include "MessageRecorder.h"
#include "app/MainWindowFixture.h"
#include "audio/TestMedia.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QByteArray kLanguage = "[Common]\nMessage=Message\n[Join]\nComplete=Joined.\n";

// Joins through the real windows: the Join button, the wizard driven by its own buttons, the
// progress dialog, the completion message.
class JoinTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        for (const char* module : {"lame_enc.so", "wmaudsdk.so"}) {
            QFile::link(QStringLiteral(WAVESTITCH_BUILD_DIR "/") + module, appDir_ + module);
        }
        WriteLanguage("English.ini", kLanguage);
        CreateForms();
        MainForm->FormActivate();
    }
    void TearDown() override {
        WaitForJobs();
        MainWindowFixture::TearDown();
    }

    static void WaitForJobs() {
        // A finished job frees itself from the event loop.
        for (int i = 0; i < 100000 && TJoinThread::LiveJobs() > 0; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        EXPECT_EQ(TJoinThread::LiveJobs(), 0);
    }

    // Once the wizard shows: choose the format, walk to the file page, make the choices of choose
    // there and press Join. then runs at the next chance to handle events after the wizard has closed.
    static void AnswerWizard(QRadioButton* format, const QString& output, std::function<void()> then = {},
                             std::function<void()> choose = {}) {
        QTimer::singleShot(0, OutputForm, [format, output, then, choose] {
            format->click();
            while (OutputForm->PageControl1->currentIndex() != TOutputForm::kFilePage) {
                OutputForm->ButtonNext->click();
            }
            OutputForm->EditOutputFile->setText(output);
            if (choose) {
                choose();
            }
            OutputForm->ButtonNext->click();
            if (then) {
                QTimer::singleShot(0, ProcessForm, then);
            }
        });
    }

    void AddInputs() {
        const int before = MainForm->RowCount();
        QStringList paths{testmedia::Tone(44100, 2, 1.0),
                          testmedia::Lame("join_in.mp3", testmedia::Tone(22050, 1, 1.0), {"-b", "64"}),
                          testmedia::Asf("join_in.wma", 48000, 2, 1.0)};
        MainForm->AddFiles(paths);
        ASSERT_EQ(MainForm->RowCount(), before + 3);
    }

    std::vector<QString> Completions(const MessageRecorder& recorder) const {
        std::vector<QString> texts;
        for (const auto& m : recorder.messages) {
            if (m.text == QLatin1String("Joined.")) {
                EXPECT_EQ(m.caption, QStringLiteral("Message"));
                EXPECT_EQ(m.flags, 0x1040u);
                texts.push_back(m.text);
            }
        }
        return texts;
    }
};

TEST_F(JoinTest, ThreeFormatsJoinToEachOutputWithOneCompletionMessageEach) {
    AddInputs();
    const struct {
        QRadioButton* TOutputForm::*radio;
        const char* name;
        bool wma;
    } outputs[] = {
        {&TOutputForm::RadioWAV, "joined.wav", false},
        {&TOutputForm::RadioMP3, "joined.mp3", false},
        {&TOutputForm::RadioWMA, "joined.wma", true},
    };
    for (const auto& o : outputs) {
        MessageRecorder recorder;
        const QString path = appDir_ + QLatin1String(o.name);
        AnswerWizard(OutputForm->*o.radio, path);
        MainForm->ButtonJoinClick();
        EXPECT_EQ(Completions(recorder).size(), 1u) << o.name;
        EXPECT_EQ(recorder.messages.size(), 1u) << o.name;
        EXPECT_FALSE(ProcessForm->isVisible());
        EXPECT_FALSE(QFile::exists(MainForm->TempPcmFile));
        WaitForJobs();

        // Target 48000 Hz stereo 16-bit: three seconds of audio, whatever the output.
        if (QString(o.name).endsWith(QLatin1String(".wav"))) {
            EXPECT_NEAR(static_cast<double>(QFileInfo(path).size() - 44) / (48000 * 4), 3.0, 0.1);
        } else {
            const testmedia::Decoded decoded = testmedia::OpenAndReadAll(path, o.wma);
            EXPECT_EQ(decoded.info.chans, 2u);
            EXPECT_NEAR(static_cast<double>(decoded.Frames()) / decoded.info.freq, 3.0, 0.1) << o.name;
        }
    }
}

// The window and the command-line joiner share one engine: the same rows and choices give the same
// bytes, with nothing chosen (the window's joins as they always were) and with tags, chapters, a cue
// sheet and a join without re-encoding.
TEST_F(JoinTest, TheWindowWritesWhatTheJoinerWritesForTheSameChoices) {
    const QString wav = testmedia::Tone(44100, 2, 1.0);
    const QString tagged =
        testmedia::Lame("join_tagged.mp3", testmedia::Tone(22050, 1, 1.0),
                        {"-b", "64", "--tt", "Chapter One", "--ta", "Reader", "--tl", "Book"});
    const QString wma = testmedia::Asf("join_in.wma", 48000, 2, 1.0);
    const QString mp3a = testmedia::Lame("copy_a.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    const QString mp3b = testmedia::Lame("copy_b.mp3", testmedia::Tone(44100, 2, 1.0),
                                         {"-b", "160", "--tt", "Second", "--ta", "Reader"});
    const auto all = [] {
        TMetadataForm& form = *OutputForm->MetadataForm;
        form.RadioTagsFile->setChecked(true);
        form.ComboTagsFile->setCurrentIndex(1);
        form.CheckBoxChapters->setChecked(true);
        form.CheckBoxCueSheet->setChecked(true);
    };
    const auto copy = [all] {
        all();
        OutputForm->CheckBoxMP3Copy->setChecked(true);
    };
    const struct {
        const char* name;
        QRadioButton* TOutputForm::*radio;
        QStringList inputs;
        std::function<void()> choose;
        QStringList options;
    } joins[] = {
        {"plain.wav", &TOutputForm::RadioWAV, {wav, tagged, wma}, nullptr, {"--tags=none"}},
        {"plain.mp3", &TOutputForm::RadioMP3, {wav, tagged, wma}, nullptr, {"--tags=none"}},
        {"plain.wma", &TOutputForm::RadioWMA, {wav, tagged, wma}, nullptr, {"--tags=none"}},
        {"all.wav", &TOutputForm::RadioWAV, {wav, tagged, wma}, all, {"--tags=2", "--chapters", "--cue"}},
        {"every.mp3", &TOutputForm::RadioMP3, {wma, tagged, wav}, all, {"--tags=2", "--chapters", "--cue"}},
        {"copy.mp3",
         &TOutputForm::RadioMP3,
         {mp3a, mp3b},
         copy,
         {"--tags=2", "--chapters", "--copy", "--cue"}},
    };
    ASSERT_TRUE(QDir(appDir_).mkpath("window") && QDir(appDir_).mkpath("joiner"));
    for (const auto& j : joins) {
        SCOPED_TRACE(j.name);
        MainForm->ButtonClear->click();
        for (const QString& input : j.inputs) {
            QStringList one{input};
            MainForm->AddFiles(one);
        }
        ASSERT_EQ(MainForm->RowCount(), j.inputs.size());
        MessageRecorder recorder;
        const QString name = QLatin1String(j.name);
        const QString cue = QFileInfo(name).completeBaseName() + QStringLiteral(".cue");
        AnswerWizard(OutputForm->*j.radio, appDir_ + "window/" + name, {}, j.choose);
        MainForm->ButtonJoinClick();
        WaitForJobs();
        EXPECT_EQ(Completions(recorder).size(), 1u);

        QStringList args = j.options;
        if (args.contains(QStringLiteral("--cue"))) {
            args.insert(args.indexOf(QStringLiteral("--cue")) + 1, appDir_ + "joiner/" + cue);
        }
        args << "-q"
             << "-o" << appDir_ + "joiner/" + name << j.inputs;
        QProcess joiner;
        joiner.setProcessChannelMode(QProcess::ForwardedChannels);
        joiner.start(QStringLiteral(WAVESTITCH_BUILD_DIR "/wavestitch-join"), args);
        ASSERT_TRUE(joiner.waitForFinished(-1));
        ASSERT_EQ(joiner.exitCode(), 0);
        EXPECT_TRUE(ReadFile(appDir_ + "window/" + name) == ReadFile(appDir_ + "joiner/" + name));
        EXPECT_EQ(QFile::exists(appDir_ + "window/" + cue), j.options.contains(QStringLiteral("--cue")));
        EXPECT_EQ(ReadFile(appDir_ + "window/" + cue).toStdString(),
                  ReadFile(appDir_ + "joiner/" + cue).toStdString());
    }
}

// Cancel while the frames are being copied: the output the user named is not made, and no hidden
// file is left beside it.
TEST_F(JoinTest, CancelInACopyingJoinLeavesNoOutput) {
    const QString mp3 = testmedia::Lame("copy_long.mp3", testmedia::Tone(44100, 2, 20.0), {"-b", "320"});
    QStringList inputs{mp3, mp3, mp3};
    MainForm->AddFiles(inputs);
    MessageRecorder recorder;
    const QString output = appDir_ + QStringLiteral("cancelled.mp3");
    bool cancelled = false;
    QTimer cancelWhileCopying;
    QObject::connect(&cancelWhileCopying, &QTimer::timeout, [&] {
        if (!cancelled && ProcessForm->isVisible() && ProcessForm->Label1->text() == mp3) {
            cancelled = true;
            ProcessForm->ButtonCancel->click();
        }
    });
    cancelWhileCopying.start(0);
    AnswerWizard(OutputForm->RadioMP3, output, {}, [] { OutputForm->CheckBoxMP3Copy->setChecked(true); });
    MainForm->ButtonJoinClick();
    cancelWhileCopying.stop();
    WaitForJobs();
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(QDir(appDir_).entryList({QStringLiteral("*.mp3"), QStringLiteral("*.part")},
                                      QDir::Files | QDir::Hidden),
              QStringList());
}

// A bitrate the encoder lowers at the target rate is told once, before the join, which goes on.
TEST_F(JoinTest, AnMp3BitrateTheTargetRateCannotHoldIsToldBeforeTheJoin) {
    const struct {
        int rate;
        QRadioButton* TOutputForm::*radio;
        const char* bitrate;
        const char* notice;
    } cases[] = {
        {22050, &TOutputForm::RadioMP3, "320kbps",
         "At 22050 Hz an MP3 file holds at most 160 kbps: the file will be encoded at 160 kbps "
         "instead of 320 kbps."},
        {22050, &TOutputForm::RadioMP3, "128kbps", nullptr},
        {44100, &TOutputForm::RadioMP3, "320kbps", nullptr},
        {22050, &TOutputForm::RadioWAV, "320kbps", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " " + c.bitrate);
        MainForm->ButtonClearClick();
        QStringList paths{testmedia::Tone(c.rate, 1, 0.2), testmedia::Tone(c.rate, 2, 0.2)};
        MainForm->AddFiles(paths);
        MessageRecorder recorder;
        AnswerWizard(OutputForm->*c.radio, appDir_ + QStringLiteral("notice.out"), {},
                     [bitrate = QLatin1String(c.bitrate)] {
                         OutputForm->ComboBoxMP3Bitrate->setCurrentText(bitrate);
                     });
        MainForm->ButtonJoinClick();
        WaitForJobs();
        ASSERT_EQ(recorder.messages.size(), c.notice != nullptr ? 2u : 1u);
        if (c.notice != nullptr) {
            EXPECT_EQ(recorder.messages[0].text, QLatin1String(c.notice));
            EXPECT_EQ(recorder.messages[0].caption, QStringLiteral("Message"));
            EXPECT_EQ(recorder.messages[0].flags, platform::MB_ICONINFORMATION);
        }
        EXPECT_EQ(recorder.messages.back().text, QStringLiteral("Joined."));
    }
}

TEST_F(JoinTest, NothingHappensWithOneRowOrACancelledWizard) {
    QStringList one{testmedia::Tone(44100, 2, 1.0)};
    MainForm->AddFiles(one);
    MessageRecorder recorder;
    bool wizardShown = false;
    QTimer::singleShot(0, OutputForm, [&] { wizardShown = OutputForm->isVisible(); });
    MainForm->ButtonJoinClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(wizardShown);

    AddInputs();
    QTimer::singleShot(0, OutputForm, [] { OutputForm->ButtonCancel->click(); });
    MainForm->ButtonJoinClick();
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(TJoinThread::LiveJobs(), 0);
}

// Between Cancel and the job's end the dialog stays up and the main window blocked: Clear and Join
// do nothing, and the output goes where the user chose, whatever the wizard shows meanwhile.
TEST_F(JoinTest, CancelKeepsTheMainWindowBlockedUntilTheJobHasReturned) {
    AddInputs();
    MessageRecorder recorder;
    const QString path = appDir_ + QStringLiteral("cancelled.wav");
    const QString other = appDir_ + QStringLiteral("other.wav");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    bool blocked = false;
    bool secondWizard = false;
    AnswerWizard(OutputForm->RadioWAV, path, [&] {
        ProcessForm->ButtonCancel->click();
        QTimer::singleShot(0, MainForm, [&] {
            blocked = QApplication::activeModalWidget() == ProcessForm && ProcessForm->isVisible();
            QTimer::singleShot(0, OutputForm, [&] {
                secondWizard = OutputForm->isVisible();
                OutputForm->ButtonCancel->click();
            });
            OutputForm->EditOutputFile->setText(other);
            MainForm->ButtonClear->click();
            MainForm->ButtonJoin->click();
        });
    });
    MainForm->ButtonJoinClick();
    WaitForJobs();
    EXPECT_TRUE(blocked);
    EXPECT_FALSE(secondWizard);
    EXPECT_EQ(MainForm->RowCount(), 3);
    EXPECT_TRUE(recorder.messages.empty());
    // The file the user chose to replace stays as it was, with nothing left beside it.
    EXPECT_EQ(testmedia::ReadFile(path), "old");
    EXPECT_EQ(QDir(appDir_).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden),
              QStringList());
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_FALSE(ProcessForm->isVisible());
    EXPECT_FALSE(QFile::exists(MainForm->TempPcmFile));
}

TEST_F(JoinTest, AMissingEncoderLeavesTheDialogOpenUntilCancel) {
    QFile::remove(appDir_ + QStringLiteral("lame_enc.so"));
    AddInputs();
    MessageRecorder recorder;
    AnswerWizard(OutputForm->RadioMP3, appDir_ + QStringLiteral("never.mp3"));
    bool openAfterMessage = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!recorder.messages.empty() && TJoinThread::LiveJobs() == 0) {
            openAfterMessage = ProcessForm->isVisible();
            ProcessForm->ButtonCancel->click();
        }
    });
    poll.start(1);
    MainForm->ButtonJoinClick();
    poll.stop();
    EXPECT_TRUE(openAfterMessage);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, QStringLiteral("Could not load lame_enc.so file"));

    // The next join starts clean.
    QFile::link(QStringLiteral(WAVESTITCH_BUILD_DIR "/lame_enc.so"), appDir_ + QStringLiteral("lame_enc.so"));
    AnswerWizard(OutputForm->RadioWAV, appDir_ + QStringLiteral("after.wav"));
    MainForm->ButtonJoinClick();
    EXPECT_EQ(Completions(recorder).size(), 1u);
    EXPECT_FALSE(ProcessForm->JoinFailed);
}

// Faults as the user meets them: a message, never the completion message, the inputs unchanged.
// When the output stage ends at once the dialog stays open until Cancel, as for a missing encoder.
TEST_F(JoinTest, FaultsShowTheirMessageAndNeverTheCompletion) {
    AddInputs();
    const QString copy = appDir_ + QStringLiteral("copy.wav");
    ASSERT_TRUE(QFile::copy(testmedia::Tone(44100, 2, 1.0), copy));
    QStringList extra{copy};
    MainForm->AddFiles(extra);
    std::vector<std::pair<QByteArray, QDateTime>> inputs;
    for (int i = 0; i < 3; ++i) {
        const QString path = MainForm->Row(i)->FullPath();
        inputs.emplace_back(ReadFile(path), QFileInfo(path).lastModified());
    }
    const QString temp = MainForm->TempPcmFile;
    const struct {
        const char* name;
        QRadioButton* TOutputForm::*radio;
        QString output;
        QString message;
        std::function<void()> fault;
        rlim_t limit;  // a full disk from the start of the join; 0 none
        bool staysOpen;
    } faults[] = {
        {"temporary file fills", &TOutputForm::RadioMP3, appDir_ + "a.mp3", "Could not write '" + temp + "'",
         nullptr, 200000, false},
        {"output folder missing", &TOutputForm::RadioWAV, appDir_ + "gone/b.wav",
         "Cannot creat the output file.", nullptr, 0, true},
        {"input deleted", &TOutputForm::RadioWAV, appDir_ + "d.wav", "Could not open '" + copy + "'",
         [copy] { QFile::remove(copy); }, 0, false},
        {"temporary folder missing", &TOutputForm::RadioWMA, appDir_ + "c.wma",
         "Could not create '" + appDir_ + "gone/AudioTemp.pcm'",
         [this] { MainForm->TempPcmFile = appDir_ + "gone/AudioTemp.pcm"; }, 0, false},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        if (f.fault) {
            f.fault();
        }
        MessageRecorder recorder;
        bool cancelled = false;
        QTimer cancelOnceDone;
        QObject::connect(&cancelOnceDone, &QTimer::timeout, [&] {
            if (ProcessForm->isVisible() && !recorder.messages.empty() && TJoinThread::LiveJobs() == 0) {
                cancelled = true;
                ProcessForm->ButtonCancel->click();
            }
        });
        cancelOnceDone.start(1);
        std::optional<FileSizeLimit> limit;
        if (f.limit > 0) {
            limit.emplace(f.limit);
        }
        AnswerWizard(OutputForm->*f.radio, f.output);
        MainForm->ButtonJoinClick();
        limit.reset();
        cancelOnceDone.stop();
        WaitForJobs();

        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text.toStdString(), f.message.toStdString());
        EXPECT_TRUE(Completions(recorder).empty());
        EXPECT_EQ(cancelled, f.staysOpen);
        EXPECT_FALSE(ProcessForm->isVisible());
        for (int i = 0; i < 3; ++i) {
            const QString path = MainForm->Row(i)->FullPath();
            EXPECT_EQ(ReadFile(path), inputs[static_cast<std::size_t>(i)].first) << i;
            EXPECT_EQ(QFileInfo(path).lastModified(), inputs[static_cast<std::size_t>(i)].second) << i;
        }
    }
}

}  // namespace
