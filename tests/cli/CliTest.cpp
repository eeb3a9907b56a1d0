// SPDX-License-Identifier: GPL-3.0-or-later
#include "WavBuilder.h"
#include "app/RowTexts.h"
#include "audio/TestMedia.h"
#include "encode/Mp3Frames.h"
#include "i18n/IniFile.h"
#include "i18n/Language.h"
#include "platform/LangId.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

namespace {

const QString kJoiner = QStringLiteral(WAVESTITCH_BUILD_DIR "/wavestitch-join");

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray outBytes;
};

std::uint32_t Le32(const QByteArray& bytes, int at) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + at);
}

// Walks an ASF file's header object as a strict reader does: the child objects it declares must be
// those present, and fill it exactly.
bool AsfHeaderAddsUp(const QByteArray& file) {
    const auto size = [&](qsizetype at) { return qFromLittleEndian<qint64>(file.constData() + at + 16); };
    const qsizetype end = std::min<qsizetype>(size(0), file.size());
    qsizetype at = 30;
    std::uint32_t present = 0;
    for (; end - at >= 24 && size(at) >= 24; at += size(at)) {
        ++present;
    }
    return at == end && present == Le32(file, 24);
}

// The SNR in dB of the float samples y against x.
double SnrDb(const QByteArray& x, const QByteArray& y) {
    const auto* a = reinterpret_cast<const float*>(x.constData());
    const auto* b = reinterpret_cast<const float*>(y.constData());
    double signal = 0;
    double noise = 0;
    for (qsizetype i = 0; i < std::min(x.size(), y.size()) / 4; ++i) {
        signal += double{a[i]} * a[i];
        noise += (double{a[i]} - b[i]) * (double{a[i]} - b[i]);
    }
    return 10 * std::log10(signal / noise);
}

// The names in a folder as the system holds them; QDir passes over those that are not UTF-8.
std::set<QByteArray> NamesIn(const QByteArray& folder) {
    std::set<QByteArray> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString())) {
        names.insert(QByteArray::fromStdString(entry.path().filename().string()));
    }
    return names;
}

class CliTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir().mkpath(TempDir()));
    }
    void TearDown() override {
        // QTemporaryDir passes over names that are not UTF-8 too.
        const QByteArray folder = QFile::encodeName(dir_.path()) + '/';
        for (const QByteArray& name : NamesIn(folder)) {
            unlink((folder + name).constData());
        }
    }

    QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    // The joiner's temporary folder, so a test can see what it leaves behind.
    QString TempDir() const { return Path(QStringLiteral("tmp")); }

    // Starts the joiner in English with its own temporary folder.
    void Start(QProcess& process, const QStringList& args, const QString& program = kJoiner) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), TempDir());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.start(program, args);
        ASSERT_TRUE(process.waitForStarted(-1));
    }
    static Result Finish(QProcess& process) {
        process.waitForFinished(-1);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        const QByteArray out = process.readAllStandardOutput();
        return {process.exitCode(), QString::fromUtf8(out), QString::fromUtf8(process.readAllStandardError()),
                out};
    }
    Result Run(const QStringList& args, const QString& program = kJoiner) const {
        QProcess process;
        Start(process, args, program);
        return Finish(process);
    }
    // Runs the joiner with arguments as bytes, which QProcess would encode from text with loss: the
    // shell makes each from its octal escapes.
    Result RunBytes(const std::vector<QByteArray>& args) const {
        QString command = QStringLiteral("exec \"$0\"");
        for (const QByteArray& arg : args) {
            command += QStringLiteral(" \"$(printf '%b' '");
            for (const char c : arg) {
                command += QStringLiteral("\\0%1").arg(static_cast<unsigned char>(c), 3, 8, QLatin1Char('0'));
            }
            command += QStringLiteral("')\"");
        }
        return Run({"-c", command, kJoiner}, "/bin/sh");
    }

    // Everything a join may leave behind besides its output: temporary PCM and its folders, hidden
    // partial outputs.
    QStringList Leftovers() const {
        QStringList found;
        QDirIterator it(dir_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.startsWith(TempDir() + QLatin1Char('/')) ||
                (it.fileInfo().isFile() && it.fileName().startsWith(QLatin1Char('.')))) {
                found << path;
            }
        }
        return found;
    }

    QTemporaryDir dir_;
};

TEST_F(CliTest, UsageErrorsWriteNothing) {
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QString out = Path(QStringLiteral("out.mp3"));
    const std::vector<QStringList> cases = {
        {},
        {wav},
        {QStringLiteral("-o"), out},
        {QStringLiteral("--bogus"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("-o"), Path(QStringLiteral("out.ogg")), wav},
        {QStringLiteral("-f"), QStringLiteral("aiff"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("-b"), QStringLiteral("128"), QStringLiteral("-o"), Path(QStringLiteral("out.flac")),
         wav},
        {QStringLiteral("-b"), QStringLiteral("100"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("-f"), QStringLiteral("wma"), QStringLiteral("-b"), QStringLiteral("320"),
         QStringLiteral("-o"), out, wav},
        {QStringLiteral("-b"), QStringLiteral("128"), QStringLiteral("-o"), Path(QStringLiteral("out.wav")),
         wav},
        {QStringLiteral("--crc"), QStringLiteral("-o"), Path(QStringLiteral("out.wma")), wav},
        {QStringLiteral("--info"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("-o"), QStringLiteral("-"), wav},
        {QStringLiteral("--sort=name"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("--tags=2"), QStringLiteral("-o"), out, wav},
        {QStringLiteral("--cue"), Path(QStringLiteral("out.cue")), QStringLiteral("-f"),
         QStringLiteral("wav"), QStringLiteral("-o"), QStringLiteral("-"), wav},
        {QStringLiteral("--copy"), QStringLiteral("-o"), Path(QStringLiteral("out.wav")), wav},
        {QStringLiteral("--copy"), QStringLiteral("-b"), QStringLiteral("128"), QStringLiteral("-o"), out,
         wav},
        {QStringLiteral("-b"), QStringLiteral("400"), QStringLiteral("-o"), Path(QStringLiteral("out.m4b")),
         wav},
        {QStringLiteral("-b"), QStringLiteral("5"), QStringLiteral("-o"), Path(QStringLiteral("out.opus")),
         wav},
        // MP4 moves its index before the audio at the end, which a stream cannot do.
        {QStringLiteral("-f"), QStringLiteral("m4a"), QStringLiteral("-o"), QStringLiteral("-"), wav},
    };
    for (const QStringList& args : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(QStringLiteral("--help"))) << r.err.toStdString();
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    EXPECT_EQ(Run({QStringLiteral("--help")}).exitCode, 0);
    // The program answers these without a display.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QLatin1String(name));
    }
    const struct {
        QStringList args;
        int exitCode;
        const char* out;
        const char* err;
    } programCases[] = {
        {{"--help"}, 0, "Usage: wavestitch", ""},
        {{"--version"}, 0, "wavestitch ", ""},
        {{"a.wav", "--frobnicate", "--", "-b.wav"},
         2,
         "",
         "wavestitch: unknown option '--frobnicate'\nTry 'wavestitch --help'.\n"},
        // Qt's own options pass, with their values.
        {{"-reverse", "-style", "-x", "--bogus"},
         2,
         "",
         "wavestitch: unknown option '--bogus'\nTry 'wavestitch --help'.\n"},
    };
    for (const auto& c : programCases) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(WAVESTITCH_BUILD_DIR "/wavestitch"), c.args);
        ASSERT_TRUE(program.waitForFinished(-1));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << c.args.first().toStdString();
        EXPECT_EQ(program.exitCode(), c.exitCode) << c.args.first().toStdString();
        EXPECT_TRUE(program.readAllStandardOutput().startsWith(c.out));
        EXPECT_EQ(program.readAllStandardError(), c.err);
    }
}

TEST_F(CliTest, RejectedInputsAreNamedAndNothingIsWritten) {
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QString notes = testmedia::WriteFile(QStringLiteral("notes.txt"), "hello");
    const QString fake = testmedia::WriteFile(QStringLiteral("fake.mp3"), QByteArray(4096, 'x'));
    // Whole seconds of PCM samples under an MP3's name, and A-law samples.
    const QString wavAsMp3 =
        testmedia::WriteFile("wav.mp3", testmedia::ReadFile(testmedia::Tone(44100, 2, 1)));
    const QString wide = Path("alaw.wav");
    testmedia::RunTool("sox", {wav, "-e", "a-law", wide});
    // Files that FFmpeg reads, but not as the format their names claim.
    const QString wavAsFlac = testmedia::WriteFile("wav.flac", testmedia::ReadFile(wav));
    const QString notesAsOpus = testmedia::WriteFile("notes.opus", "hello");
    const QString out = Path(QStringLiteral("out.wav"));
    // A file that cannot be opened is named once, with the system's reason and not a format's.
    const QStringList missing{Path("gone.wav"), Path("gone.mp3"), Path("gone.wma")};

    const Result r =
        Run(QStringList{QStringLiteral("-o"), out, wav, notes, fake, wavAsMp3, wide, wavAsFlac, notesAsOpus} +
            missing);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(notes + QStringLiteral(": This file type is not supported.")))
        << r.err.toStdString();
    for (const QString& mp3 : {fake, wavAsMp3}) {
        EXPECT_TRUE(r.err.contains(mp3 + QStringLiteral(": The format of this MP3 file cannot be read.")));
    }
    EXPECT_TRUE(r.err.contains(
        wide +
        ": This WAV file is not in a supported format (PCM of 8, 16, 24 or 32 bits, float of 32 or 64)."));
    EXPECT_TRUE(r.err.contains(wavAsFlac + ": The format of this FLAC file cannot be read."));
    EXPECT_TRUE(r.err.contains(notesAsOpus + ": The format of this Opus file cannot be read."));
    for (const QString& path : missing) {
        EXPECT_TRUE(r.err.contains(path + QStringLiteral(": No such file or directory\n")));
    }
    // The A-law WAV also gets the probe's own word, as the window shows it.
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 10) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(Leftovers(), QStringList());

    // Root reads any file: the joiner runs as nobody, who may enter the folder but not read these.
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(QFile::encodeName(dir_.path()).constData(), 0711), 0);
        for (const QString& path : missing) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", kJoiner, "--info"};
        const Result denied = Run(asNobody + missing, QStringLiteral("setpriv"));
        EXPECT_EQ(denied.exitCode, 2);
        for (const QString& path : missing) {
            EXPECT_TRUE(denied.err.contains(path + QStringLiteral(": Permission denied\n")));
        }
        EXPECT_EQ(denied.err.count(QLatin1Char('\n')), 3) << denied.err.toStdString();
    }

    // The accepted rows still print; the target of an incomplete list does not.
    const Result info = Run({QStringLiteral("--info"), wav, notes});
    EXPECT_EQ(info.exitCode, 2);
    EXPECT_EQ(info.out.count(QLatin1Char('\n')), 1);
    EXPECT_FALSE(info.out.contains(QStringLiteral("target")));
}

TEST_F(CliTest, QuietLeavesOnlyTheJoinersOwnMessages) {
    // A WMA file whose second packet is damaged: FFmpeg logs it as an error and the join reads on.
    QByteArray wma = testmedia::ReadFile(testmedia::Asf("damaged.wma", 44100, 2, 1));
    const qsizetype data = wma.indexOf(QByteArray::fromHex("3626b2758e66cf11a6d900aa0062ce6c"));
    ASSERT_GT(data, 0);
    const auto Le64 = [&](qsizetype at) { return qFromLittleEndian<qint64>(wma.constData() + at); };
    // The data object: its size, file id and packet count, then packets of one size.
    const qint64 packet = (Le64(data + 16) - 50) / Le64(data + 40);
    wma.replace(data + 50 + packet + 16, packet - 16, QByteArray(packet - 16, '\xff'));
    const QString damaged = testmedia::WriteFile("damaged.wma", wma);
    const QString notes = testmedia::WriteFile("notes.txt", "hello");
    const QString out = Path("out.wav");

    const Result loud = Run({"-o", out, damaged});
    ASSERT_EQ(loud.exitCode, 0);
    ASSERT_TRUE(loud.err.contains("[asf @")) << loud.err.toStdString();
    const Result quiet = Run({"-q", "--overwrite", "-o", out, damaged});
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
    const Result refused = Run({"-q", "--overwrite", "-o", out, damaged, notes});
    EXPECT_EQ(refused.err.toStdString(),
              ("wavestitch-join: " + notes + ": This file type is not supported.\n").toStdString());
}

TEST_F(CliTest, InfoPrintsRowsAsTheListHoldsThemAndTheTarget) {
    const QString wav = testmedia::Tone(22050, 1, 1.5);
    const QString mp3 =
        testmedia::Lame(QStringLiteral("cli.mp3"), testmedia::Tone(44100, 2, 1), {"-b", "128"});
    const QString wma = testmedia::Asf(QStringLiteral("cli.wma"), 32000, 2, 1);
    // The same language file the joiner reads from its folder in this locale.
    const auto language = i18n::OpenLanguageFile(QStringLiteral(WAVESTITCH_BUILD_DIR "/"),
                                                 platform::LangIdFromLocaleName(QStringLiteral("C")), false);
    const RowWords words = LanguageRowWords(language.languageIni.get());
    ASSERT_FALSE(words.mono.isEmpty());

    // --sort orders the paths as the Add button does; the three names sort as given here.
    const Result r = Run({QStringLiteral("--info"), QStringLiteral("--sort"), wma, wav, mp3});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();

    const QString folder = QFileInfo(wav).absolutePath() + QLatin1Char('/');
    const QString size = SizeText(QFileInfo(wav).size());
    EXPECT_EQ(lines[2], QStringList({QFileInfo(wav).fileName(), "22050 Hz", words.mono, "16 " + words.bits,
                                     size, "00:01", folder, "22050", "1", "16", "1"})
                            .join('\t'));
    const QStringList mp3Row = lines[0].split('\t');
    EXPECT_EQ(mp3Row,
              QStringList({"cli.mp3", "44100 Hz", words.stereo, "16 " + words.bits,
                           SizeText(QFileInfo(mp3).size()), "00:01", folder, "44100", "2", "16", "1"}));
    const QStringList wmaRow = lines[1].split('\t');
    ASSERT_EQ(wmaRow.size(), 11);
    EXPECT_EQ(wmaRow[0], "cli.wma");
    EXPECT_EQ(wmaRow.mid(7, 3), QStringList({"32000", "2", "16"}));
    EXPECT_EQ(lines[3], "target\t44100\t2\t16");
}

TEST_F(CliTest, NamesThatAreNotUtf8ReachEveryOpenAndShowEscaped) {
    // Latin-1 names, as old disks and shares hold them.
    const QByteArray folder = QFile::encodeName(dir_.path()) + '/';
    const struct {
        QString made;
        QByteArray name;
    } inputs[] = {
        {testmedia::Tone(44100, 2, 0.3), "caf\xE9.wav"},
        {testmedia::Lame("latin.mp3", testmedia::Tone(44100, 2, 0.3), {"-b", "128"}), "m\xFCsic.mp3"},
        {testmedia::Asf("latin.wma", 22050, 1, 0.3), "w\xE0.wma"},
    };
    std::vector<QByteArray> paths;
    for (const auto& input : inputs) {
        paths.push_back(folder + input.name);
        std::filesystem::copy_file(QFile::encodeName(input.made).toStdString(), paths.back().toStdString());
    }

    const Result info = RunBytes({"--info", paths[0], paths[1], paths[2], folder + "gon\xE9.wav"});
    EXPECT_EQ(info.exitCode, 2);
    EXPECT_EQ(
        info.err.toStdString(),
        ("wavestitch-join: " + dir_.path() + "/gon\\xE9.wav: No such file or directory\n").toStdString());
    const QStringList rows = info.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3) << info.out.toStdString();
    EXPECT_TRUE(rows[0].startsWith("caf\\xE9.wav\t") && rows[1].startsWith("m\\xFCsic.mp3\t") &&
                rows[2].startsWith("w\\xE0.wma\t"))
        << info.out.toStdString();

    const QByteArray cue = folder + "s\xE9.cue";
    std::set<QByteArray> expected{"caf\xE9.wav", "m\xFCsic.mp3", "w\xE0.wma", "s\xE9.cue", "tmp"};
    for (const QByteArray format : {"wav", "mp3", "wma"}) {
        SCOPED_TRACE(format.constData());
        const QByteArray out = "\xF6ut." + format;
        const Result r = RunBytes({"-q", "--overwrite", "--chapters", "--cue", cue, "-o", folder + out,
                                   paths[0], paths[1], paths[2]});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        expected.insert(out);
        EXPECT_EQ(NamesIn(folder), expected);
        // The sheet names the output by its bytes, and the first chapter by its file name as shown.
        std::ifstream sheetFile(cue.constData(), std::ios::binary);
        const std::string sheet{std::istreambuf_iterator<char>(sheetFile), {}};
        EXPECT_NE(sheet.find("FILE \"" + out.toStdString() + '"'), std::string::npos) << sheet;
        EXPECT_NE(sheet.find(R"(TITLE "caf\xE9")"), std::string::npos) << sheet;
    }
    EXPECT_EQ(Leftovers(), QStringList());
}

TEST_F(CliTest, JoinsToEachFormat) {
    const QString a = testmedia::Tone(44100, 2, 0.5);
    const QString b = testmedia::Tone(22050, 1, 0.5);
    // The second input raised to 44100 Hz doubles its 11025 frames.
    const std::uint64_t frames = 22050 + 11025 * 2;
    for (const char* format : {"wav", "flac", "mp3", "wma", "m4b", "opus"}) {
        const QString out = Path(QStringLiteral("joined.") + QLatin1String(format));
        const Result r = Run({QStringLiteral("-q"), QStringLiteral("-o"), out, a, b});
        ASSERT_EQ(r.exitCode, 0) << format << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        if (QLatin1String(format) == QLatin1String("wav")) {
            EXPECT_EQ(QFileInfo(out).size(), static_cast<qint64>(44 + frames * 4));
            continue;
        }
        // FLAC holds the very samples of the WAV join.
        if (QLatin1String(format) == QLatin1String("flac")) {
            EXPECT_TRUE(testmedia::RunTool("flac", {"-d", "-s", "-c", "--force-raw-format", "--endian=little",
                                                    "--sign=signed", out}) ==
                        testmedia::ReadFile(Path(QStringLiteral("joined.wav"))).mid(44));
            continue;
        }
        // The edit list gives the joined length exactly and skips the encoder's priming; FFmpeg
        // decodes the last AAC frame whole. The index comes before the audio.
        // Then again in blocks of 8 AAC frames on two workers: a seam that moved or lost a frame
        // would not decode as one encoder's output does.
        if (QLatin1String(format) == QLatin1String("m4b")) {
            QByteArray single;
            for (const bool blocks : {false, true}) {
                if (blocks) {
                    qputenv("WAVESTITCH_M4B_THREADS", "2");
                    qputenv("WAVESTITCH_M4B_BLOCK_FRAMES", "8");
                    ASSERT_EQ(Run({"-q", "--overwrite", "-o", out, a, b}).exitCode, 0);
                    qunsetenv("WAVESTITCH_M4B_THREADS");
                    qunsetenv("WAVESTITCH_M4B_BLOCK_FRAMES");
                }
                const QByteArray duration = testmedia::RunTool(
                    "ffprobe", {"-v", "error", "-show_entries", "stream=duration_ts", "-of", "csv=p=0", out});
                EXPECT_EQ(duration.trimmed().toULongLong(), frames);
                const QByteArray pcm =
                    testmedia::RunTool("ffmpeg", {"-v", "error", "-i", out, "-f", "f32le", "-"});
                EXPECT_GE(static_cast<std::uint64_t>(pcm.size() / 8), frames);
                EXPECT_LT(static_cast<std::uint64_t>(pcm.size() / 8), frames + 1024);
                const QByteArray bytes = testmedia::ReadFile(out);
                EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
                if (blocks) {
                    ASSERT_EQ(pcm.size(), single.size());
                    EXPECT_GT(SnrDb(single, pcm), 20.0);
                }
                single = pcm;
            }
            continue;
        }
        // Always 48 kHz in the stream: the 44100 joined frames decode to 48000 exactly, the encoder's
        // pre-skip and the padding the last granule position trims taken off. Standard output gets
        // the file's bytes. In blocks of 8 Opus frames on two workers, as for M4B.
        if (QLatin1String(format) == QLatin1String("opus")) {
            const auto decode = [&] {
                return testmedia::RunTool("opusdec", {"--quiet", "--float", "--rate", "48000", out, "-"});
            };
            const QByteArray single = decode();
            EXPECT_EQ(single.size(), 48000 * 2 * 4);
            EXPECT_EQ(Run({"-q", "-f", "opus", "-o", "-", a, b}).outBytes, testmedia::ReadFile(out));
            qputenv("WAVESTITCH_OPUS_THREADS", "2");
            qputenv("WAVESTITCH_OPUS_BLOCK_FRAMES", "8");
            ASSERT_EQ(Run({"-q", "--overwrite", "-o", out, a, b}).exitCode, 0);
            qunsetenv("WAVESTITCH_OPUS_THREADS");
            qunsetenv("WAVESTITCH_OPUS_BLOCK_FRAMES");
            const QByteArray blocked = decode();
            ASSERT_EQ(blocked.size(), single.size());
            EXPECT_GT(SnrDb(single, blocked), 20.0);
            continue;
        }
        // MP3 carries its delay and padding, so it decodes to the joined length exactly; the
        // WMA encoder works in frames of 2048 and starts late.
        const testmedia::Decoded decoded = testmedia::OpenAndReadAll(out, QLatin1String(format) == "wma");
        EXPECT_EQ(decoded.info.freq, 44100u);
        if (QLatin1String(format) == QLatin1String("mp3")) {
            EXPECT_EQ(decoded.Frames(), frames);
        } else {
            EXPECT_NEAR(static_cast<double>(decoded.Frames()), static_cast<double>(frames), 4096.0);
        }
    }
    EXPECT_EQ(Leftovers(), QStringList());
}

TEST_F(CliTest, DeepAndFloatWavJoinAsSoxJoinsThem) {
    const auto make = [&](const char* name, const QStringList& format) {
        const QString path = Path(QLatin1String(name));
        testmedia::RunTool("sox", QStringList{"-n", "-r", "48000", "-c", "2"} + format +
                                      QStringList{path, "synth", "0.3", "sine", "440", "sine", "660"});
        return path;
    };
    const QString pcm16 = make("a16.wav", {"-b", "16"});
    const QString pcm24 = make("a24.wav", {"-b", "24"});
    const QStringList asFloat{"-e", "floating-point", "-b", "32"};
    const struct {
        QStringList inputs;
        QString target;
        QStringList soxFormat;
    } cases[] = {
        {{pcm24, pcm16}, "24", {"-b", "24"}},
        {{pcm16, make("a32.wav", {"-e", "signed", "-b", "32"})}, "32", {"-e", "signed", "-b", "32"}},
        {{make("f64.wav", {"-e", "floating-point", "-b", "64"}), pcm24, make("f32.wav", asFloat)},
         "32f",
         asFloat},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(
            Run(QStringList{"--info"} + c.inputs).out.endsWith("target\t48000\t2\t" + c.target + "\n"));
        const QString out = Path("joined.wav");
        const Result r = Run(QStringList{"--overwrite", "-o", out} + c.inputs);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        // sox reads our header as the format of its own join, and the samples as those of it.
        const QString reference = Path("sox.wav");
        testmedia::RunTool("sox", QStringList{"-D"} + c.inputs + c.soxFormat + QStringList{reference});
        EXPECT_EQ(testmedia::RunTool("soxi", {"-b", "-e", out}),
                  testmedia::RunTool("soxi", {"-b", "-e", reference}));
        const QByteArray ours = testmedia::RunTool("sox", {out, "-t", "s32", "-"});
        const QByteArray theirs = testmedia::RunTool("sox", {reference, "-t", "s32", "-"});
        ASSERT_EQ(ours.size(), theirs.size()) << c.target.toStdString();
        // sox takes 64-bit float through 32-bit integers to 32-bit float, which may differ from the
        // direct rounding by one step of the float (2^7 here); integers are exact.
        const auto sample = [](const QByteArray& pcm, int at) { return std::int64_t{qint32(Le32(pcm, at))}; };
        std::int64_t largest = 0;
        for (int at = 0; at < ours.size(); at += 4) {
            largest = std::max(largest, std::abs(sample(ours, at) - sample(theirs, at)));
        }
        EXPECT_LE(largest, c.target.endsWith('f') ? 128 : 0) << c.target.toStdString();
    }
}

TEST_F(CliTest, FloatBeyondFullScaleIsKeptInWavAndOpusAndClippedWithANoteForMp3AndFlac) {
    // sox keeps no float beyond 1.0: the file is made here.
    const float samples[] = {0.5f, 1.5f, -2.0f, 0.25f};
    const QByteArray data = QByteArray(reinterpret_cast<const char*>(samples), 16).repeated(2000);
    const QString loud =
        testmedia::WriteFile("loud.wav", WavBuilder().Format(1, 44100, 32, 3, 2).Data(data).Bytes());
    const QString deep = Path("deep.wav");
    testmedia::RunTool("sox",
                       {"-n", "-r", "44100", "-c", "1", "-b", "24", deep, "synth", "0.5", "sine", "440"});
    ASSERT_EQ(Run({"-o", Path("loud.wav"), loud, deep}).exitCode, 0);
    const QByteArray joined = testmedia::ReadFile(Path("loud.wav")).mid(58);
    EXPECT_EQ(joined.left(data.size()), data);

    // FLAC takes integers: 24 bits, each within the dither's step of the float, beyond full scale clipped.
    const Result flac = Run({"-o", Path("loud.flac"), loud, deep});
    EXPECT_EQ(flac.err.toStdString(),
              "wavestitch-join: note: 4000 samples beyond full scale were clipped to fit the encoder's "
              "24 bits\n");
    EXPECT_EQ(testmedia::RunTool("metaflac", {"--show-bps", Path("loud.flac")}), "24\n");
    const QByteArray pcm = testmedia::RunTool(
        "flac",
        {"-d", "-s", "-c", "--force-raw-format", "--endian=little", "--sign=signed", Path("loud.flac")});
    ASSERT_EQ(pcm.size() / 3, joined.size() / 4);
    double worst = 0;
    for (qsizetype i = 0; i < pcm.size() / 3; ++i) {
        const auto wide = static_cast<std::int32_t>(Le32(pcm.mid(3 * i, 3).prepend('\0'), 0)) >> 8;
        float level = 0;
        std::memcpy(&level, joined.constData() + 4 * i, 4);
        worst = std::max(worst, std::abs(wide - std::clamp(level * 8388608.0, -8388608.0, 8388607.0)));
    }
    EXPECT_LE(worst, 1.0);

    // Opus takes float: the 11025 Hz wave of 1.4 beyond full scale decodes as it went in.
    const Result opus = Run({"-o", Path("loud.opus"), loud, deep});
    EXPECT_TRUE(opus.err.isEmpty()) << opus.err.toStdString();
    const QByteArray decoded = testmedia::RunTool("opusdec", {"--quiet", "--float", Path("loud.opus"), "-"});
    const auto* levels = reinterpret_cast<const float*>(decoded.constData());
    EXPECT_GT(*std::max_element(levels, levels + decoded.size() / 4), 1.3f);

    // Dithered to 16 bits for the encoder: the same file on every run, the clipped samples counted.
    for (const QString& mp3 : {Path("loud1.mp3"), Path("loud2.mp3")}) {
        const Result r = Run({"-o", mp3, loud, deep});
        EXPECT_EQ(r.err.toStdString(),
                  "wavestitch-join: note: 4000 samples beyond full scale were clipped to fit the encoder's "
                  "16 bits\n");
        EXPECT_EQ(testmedia::OpenAndReadAll(mp3, false).Frames(), 8000u + 22050);
    }
    EXPECT_EQ(testmedia::ReadFile(Path("loud1.mp3")), testmedia::ReadFile(Path("loud2.mp3")));
}

// Each part at its probed length, as FFmpeg's own decoder gives it: to the bit where nothing is
// dithered, within two steps where a floating-point source is (ffmpeg itself rounds or cuts without
// dither). A 24-bit FLAC makes the join 24-bit and is in it as flac decodes it; the 16-bit parts are
// widened exactly. The ffmpeg of Debian 12 ends some streams elsewhere than the file says: it keeps
// the padding after an MP4 edit list's end, and cuts an oggenc file's end short of its last granule.
TEST_F(CliTest, MediaInputsJoinAsFfmpegDecodesThemAtTheLengthProbed) {
    const QString tone = testmedia::Tone(48000, 2, 0.3);
    const QString wide = Path("wide.wav");
    testmedia::RunTool("sox", {tone, "-b", "24", wide});
    const auto ffmpeg = [](const QString& in, const QStringList& options) {
        return QStringList{"-v", "error", "-i", in} + options;
    };
    const struct {
        const char* name;
        const char* tool;
        QStringList args;   // the output's path follows
        int tolerance;      // in 16-bit steps; -1: 24 bits, as flac decodes them
        bool ffmpegLength;  // ffmpeg decodes the length the file states
    } cases[] = {
        {"a.flac", "flac", {"-s", tone, "-o"}, 0, true},
        {"wide.flac", "flac", {"-s", wide, "-o"}, -1, true},
        {"six.flac", "ffmpeg", ffmpeg(tone, {"-af", "pan=5.1|c0=c0|c1=c1|c2=c0|c3=c1|c4=c0|c5=c1"}), 0, true},
        {"a.opus", "opusenc", {"--quiet", tone}, 2, true},
        {"a.ogg", "oggenc", {"-Q", tone, "-o"}, 2, false},
        {"a.m4a", "ffmpeg", ffmpeg(tone, {"-c:a", "aac"}), 2, false},
        {"a.aiff", "sox", {tone}, 0, true},
    };
    QStringList parts;
    std::vector<qsizetype> frames;
    for (const auto& c : cases) {
        parts << Path(QLatin1String(c.name));
        testmedia::RunTool(QLatin1String(c.tool), c.args + QStringList{parts.last()});
        const audio::StreamHandle stream =
            audio::OpenMediaFileStream(false, parts.last(), 0, 0, audio::STREAM_DECODE);
        ASSERT_NE(stream, 0u) << c.name;
        audio::StreamInfoRecord info;
        audio::GetStreamInfo(stream, &info);
        frames.push_back(static_cast<qsizetype>(audio::GetStreamLength(stream, audio::POS_BYTE) /
                                                (info.chans * audio::SampleBits(info) / 8)));
        audio::FreeStream(stream);
    }
    // A lossy source has no depth of its own: alone, it joins as 16 bits.
    const QString floatAifc = Path("float.aifc");
    testmedia::RunTool("sox", {tone, "-e", "floating-point", "-b", "32", floatAifc});
    const QStringList lines = Run({"--info", parts[1], parts[3], floatAifc}).out.split('\n');
    ASSERT_EQ(lines.size(), 5);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(lines[row].section('\t', 9, 9), QStringList({"24", "16", "32f"})[row]);
    }
    EXPECT_EQ(lines[3], "target\t48000\t2\t32f");
    const QString opusWav = Path("opus.wav");
    ASSERT_EQ(Run({"-q", "-o", opusWav, parts[3]}).exitCode, 0);
    EXPECT_EQ(Le32(testmedia::ReadFile(opusWav), 32) >> 16, 16u);

    const QString out = Path("joined.wav");
    const Result r = Run(QStringList{"-q", "-o", out} + parts);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray file = testmedia::ReadFile(out);
    const QByteArray joined = file.mid(file.indexOf("data") + 8);
    // The FLAC output holds the very samples of the WAV.
    const QString flacOut = Path("joined.flac");
    ASSERT_EQ(Run(QStringList{"-q", "-o", flacOut} + parts).exitCode, 0);
    EXPECT_TRUE(testmedia::RunTool("flac", {"-d", "-s", "-c", "--force-raw-format", "--endian=little",
                                            "--sign=signed", flacOut}) == joined);
    qsizetype at = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const QString part = parts[static_cast<qsizetype>(i)];
        const QByteArray own = joined.mid(at, frames[i] * 6);
        at += frames[i] * 6;
        ASSERT_EQ(own.size(), frames[i] * 6);
        if (cases[i].tolerance < 0) {
            EXPECT_TRUE(testmedia::RunTool("flac", {"-d", "-s", "-c", "--force-raw-format", "--endian=little",
                                                    "--sign=signed", part}) == own);
            continue;
        }
        const QByteArray theirs = testmedia::RunTool(
            "ffmpeg", {"-v", "error", "-i", part, "-f", "s16le", "-ac", "2", "-ar", "48000", "-"});
        EXPECT_EQ(theirs.size() == frames[i] * 4, cases[i].ffmpegLength) << theirs.size() << " " << frames[i];
        const auto* b = reinterpret_cast<const std::int16_t*>(theirs.constData());
        int worst = 0;
        bool same = true;
        for (qsizetype k = 0; k < std::min(frames[i] * 2, theirs.size() / 2); ++k) {
            // A 16-bit sample widened to 24 bits: its low byte clear.
            ASSERT_EQ(own[3 * k], 0);
            const int sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(own[3 * k + 1]) |
                                                         (static_cast<std::uint8_t>(own[3 * k + 2]) << 8));
            worst = std::max(worst, std::abs(sample - b[k]));
            same = same && sample == b[k];
        }
        EXPECT_LE(worst, cases[i].tolerance);
        // Dither leaves its trace; a source cut to 16 bits would not.
        EXPECT_EQ(cases[i].tolerance == 0, same);
    }
    EXPECT_EQ(at, joined.size());
}

TEST_F(CliTest, MediaInputsBringTheirTagsCoverAndChapters) {
    const QString tone = testmedia::Tone(44100, 2, 0.6);
    const QString cover = Path("cover.png");
    testmedia::RunTool("ffmpeg",
                       {"-v", "error", "-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1", cover});
    const QString flac = Path("tagged.flac");
    testmedia::RunTool("flac",
                       {"-s", "--picture=" + cover, "-T", "TITLE=Flac", "-T", "ARTIST=Reader", "-T",
                        "ALBUMARTIST=Band", "-T", "DATE=2001", "-T", "TRACKNUMBER=3", tone, "-o", flac});
    // An audiobook's chapters, and chapters past its end.
    const QString chapters =
        testmedia::WriteFile("chapters.txt",
                             ";FFMETADATA1\ntitle=Book\nartist=Teller\ngenre=Talk\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=200\ntitle=Opening\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=200\nEND=600\ntitle=Middle\n");
    const QString late = testmedia::WriteFile("late.txt",
                                              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\n"
                                              "END=300\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=5000\nEND=6000\n");
    const QString book = Path("book.m4b");
    const QString cut = Path("cut.m4b");
    for (const auto& [path, meta] : {std::pair{book, chapters}, std::pair{cut, late}}) {
        testmedia::RunTool("ffmpeg", {"-v",
                                      "error",
                                      "-i",
                                      tone,
                                      "-i",
                                      cover,
                                      "-i",
                                      meta,
                                      "-map",
                                      "0",
                                      "-map",
                                      "1",
                                      "-map_metadata",
                                      "2",
                                      "-map_chapters",
                                      "2",
                                      "-c:a",
                                      "aac",
                                      "-c:v",
                                      "copy",
                                      "-disposition:v",
                                      "attached_pic",
                                      path});
    }
    const auto probe = [](const QString& path) {
        return QJsonDocument::fromJson(
                   testmedia::RunTool("ffprobe", {"-v", "error", "-of", "json", "-show_chapters",
                                                  "-show_format", "-show_streams", path}))
            .object();
    };

    const struct {
        QString input;
        QStringList tags;
    } cases[] = {
        {flac, {"title=Flac", "artist=Reader", "album_artist=Band", "date=2001", "track=3"}},
        {book, {"title=Book", "artist=Teller", "genre=Talk"}},
    };
    for (const auto& c : cases) {
        for (const QString& out : {Path("tagged.mp3"), Path("tagged.m4b"), Path("tagged.opus")}) {
            const Result r = Run({"-q", "--overwrite", "--tags=1", "-o", out, c.input, tone});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const QJsonObject json = probe(out);
            // Ogg keeps the tags on the stream, in the case they are written in.
            const QJsonObject given =
                (out.endsWith("opus") ? json["streams"].toArray().first() : json["format"])
                    .toObject()["tags"]
                    .toObject();
            QJsonObject tags;
            for (auto it = given.begin(); it != given.end(); ++it) {
                tags[it.key().toLower()] = it.value();
            }
            for (const QString& tag : c.tags) {
                EXPECT_EQ(tags[tag.section('=', 0, 0)].toString(), tag.section('=', 1)) << tag.toStdString();
            }
            EXPECT_EQ(json["streams"].toArray().last().toObject()["codec_name"].toString(), "png");
        }
    }

    const QString out = Path("book.mp3");
    const Result r = Run({"--chapters", "-o", out, flac, book, cut});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.endsWith(cut + ": its chapters do not fit in its audio; it has one chapter as a whole\n"))
        << r.err.toStdString();
    const QJsonArray found = probe(out)["chapters"].toArray();
    const QStringList titles{"Flac", "Opening", "Middle", "cut"};
    const std::vector<double> starts{0.0, 0.6, 0.8, 1.2};
    ASSERT_EQ(found.size(), titles.size());
    for (int i = 0; i < found.size(); ++i) {
        const QJsonObject chapter = found[i].toObject();
        EXPECT_EQ(chapter["tags"].toObject()["title"].toString(), titles[i]);
        EXPECT_NEAR(chapter["start_time"].toString().toDouble(), starts[static_cast<std::size_t>(i)], 0.002);
    }
}

TEST_F(CliTest, ExistingOutputIsRefusedUnlessOverwriteIsGiven) {
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QString out = Path(QStringLiteral("keep.wav"));
    {
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    const Result refused = Run({QStringLiteral("-o"), out, wav});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--overwrite")));
    EXPECT_EQ(testmedia::ReadFile(out), "precious");

    // A link is replaced, never written through; a link into /proc, as /dev/stdout is, is refused.
    const QString link = Path("link.wav");
    const QString procLink = Path("stdout.wav");
    ASSERT_TRUE(QFile::link(out, link) && QFile::link("/proc/self/fd/1", procLink));
    EXPECT_EQ(Run({"--overwrite", "-o", link, wav}).exitCode, 0);
    EXPECT_EQ(QFileInfo(link).size(), QFileInfo(wav).size());
    EXPECT_EQ(testmedia::ReadFile(out), "precious");
    EXPECT_EQ(Run({"--overwrite", "-o", procLink, wav}).exitCode, 2);
    EXPECT_TRUE(QFileInfo(procLink).isSymLink());

    const Result replaced = Run({QStringLiteral("--overwrite"), QStringLiteral("-o"), out, wav});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err.toStdString();
    EXPECT_EQ(QFileInfo(out).size(), QFileInfo(wav).size());
}

TEST_F(CliTest, StandardOutputGetsTheFinalSizesOnlyWhereItCanSeek) {
    const QString wav = testmedia::Tone(44100, 2, 0.5);
    const QStringList args{"-q", "-f", "wav", "-o", "-", wav};
    const qint64 dataBytes = 22050 * 4;
    // A pipe gets the streaming sizes, and sox still reads every sample.
    const Result piped = Run(args);
    ASSERT_EQ(piped.outBytes.size(), 44 + dataBytes) << piped.err.toStdString();
    EXPECT_EQ(Le32(piped.outBytes, 4) & Le32(piped.outBytes, 40), 0xFFFFFFFFu);
    const QString pipedFile = testmedia::WriteFile("piped.wav", piped.outBytes);
    EXPECT_EQ(testmedia::RunTool("sox", {pipedFile, "-t", "s16", "-"}).size(), dataBytes);

    // Redirected (>) the header is patched; appended (>>) the file keeps its start and gets a stream.
    for (const QIODevice::OpenMode mode : {QIODevice::Truncate, QIODevice::Append}) {
        const QString out = testmedia::WriteFile("redirected", "earlier");
        QProcess process;
        process.setStandardOutputFile(out, mode);
        Start(process, args);
        ASSERT_EQ(Finish(process).exitCode, 0);
        const QByteArray kept = mode == QIODevice::Append ? "earlier" : "";
        const QByteArray bytes = testmedia::ReadFile(out);
        ASSERT_EQ(bytes.size(), kept.size() + 44 + dataBytes);
        EXPECT_TRUE(bytes.startsWith(kept + "RIFF"));
        EXPECT_EQ(Le32(bytes, kept.size() + 40), kept.isEmpty() ? dataBytes : 0xFFFFFFFFu);
    }

    const Result wma = Run({"-f", "wma", "-o", "-", wav});
    EXPECT_EQ(wma.exitCode, 2);
    EXPECT_TRUE(wma.outBytes.isEmpty() && wma.err.contains("WMA output needs a file it can seek in"));
}

TEST_F(CliTest, FifoIsWrittenInPlace) {
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QByteArray fifo = QFile::encodeName(Path("fifo.wav"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    QProcess reader;
    reader.start("cat", {Path("fifo.wav")});
    EXPECT_EQ(Run({"-q", "-o", Path("fifo.wav"), wav}).exitCode, 0);
    // A joiner that never opened the FIFO must not leave the reader waiting.
    close(open(fifo.constData(), O_WRONLY | O_NONBLOCK));
    reader.waitForFinished(-1);
    EXPECT_EQ(reader.readAllStandardOutput().size(), QFileInfo(wav).size());
    struct stat info = {};
    EXPECT_TRUE(lstat(fifo.constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    EXPECT_EQ(Leftovers(), QStringList());
}

// Interrupted in the join or while encoding, a join leaves its output as it was, hidden files gone,
// and writes no cue sheet; standard output that is a file the shell emptied is left empty.
TEST_F(CliTest, InterruptLeavesTheOutputAsItWas) {
    // Long enough that encoding it takes a while: the signal arrives while the job runs.
    const QString wav = testmedia::Tone(44100, 2, 180);
    const QString out = Path("stopped.mp3");
    const QString cue = Path("stopped.cue");
    const struct {
        int signal;
        bool encoding;  // else in the join
        bool toStdout;
    } cases[] = {{SIGINT, false, true}, {SIGTERM, true, false}, {SIGTERM, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.signal << " encoding " << c.encoding << " stdout " << c.toStdout);
        QFile old(out);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QProcess process;
        if (c.toStdout) {
            process.setStandardOutputFile(out);
        }
        Start(process, c.toStdout
                           ? QStringList{"-f", "mp3", "-o", "-", wav}
                           : QStringList{"--overwrite", "--chapters", "--cue", cue, "-o", out, wav, wav});
        // The temporary PCM file exists while the rows are joined for standard output; the output
        // grows while encoding, which a file's output does as the rows are joined.
        const auto reached = [&] {
            const QStringList written =
                c.toStdout ? QStringList{out}
                           : QDir(dir_.path()).entryList({".stopped.mp3.*.part"}, QDir::Files | QDir::Hidden);
            return c.encoding
                       ? !written.isEmpty() && QFileInfo(QDir(dir_.path()), written.first()).size() > 0
                       : QDirIterator(TempDir(), {"AudioTemp.pcm"}, QDir::Files, QDirIterator::Subdirectories)
                             .hasNext();
        };
        while (!reached() && !process.waitForFinished(2)) {
        }
        ::kill(static_cast<pid_t>(process.processId()), c.signal);
        const Result r = Finish(process);
        EXPECT_EQ(r.exitCode, 130) << r.err.toStdString();
        EXPECT_EQ(testmedia::ReadFile(out), c.toStdout ? QByteArray() : QByteArray("old"));
        EXPECT_FALSE(QFile::exists(cue));
        EXPECT_EQ(Leftovers(), QStringList());
    }
}

// Ended by a signal, the window program takes its banner and its temporary folder with it, and ends
// as the signal would have ended it.
TEST_F(CliTest, TheWindowProgramEndedByASignalLeavesNoTemporaryFiles) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString folder = TempDir() + QStringLiteral("/wavestitch-%1").arg(geteuid());
    // Other tests may leave settings in the build folder that hide the banner; then the folder
    // itself is all there is to take.
    const bool banner =
        i18n::IniFile(QStringLiteral(WAVESTITCH_BUILD_DIR "/Wavestitch.ini"))
            .ReadString(QStringLiteral("General"), QStringLiteral("Ad"), QString()) != QLatin1String("0");
    const QString written = banner ? folder + QStringLiteral("/_WavestitchAd.swf") : folder;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QProcess program;
        Start(program, {}, QStringLiteral(WAVESTITCH_BUILD_DIR "/wavestitch"));
        while (!QFileInfo::exists(written) && program.state() == QProcess::Running) {
            QThread::msleep(2);
        }
        ::kill(static_cast<pid_t>(program.processId()), signal);
        program.waitForFinished(-1);
        EXPECT_EQ(program.exitStatus(), QProcess::CrashExit) << signal;
        EXPECT_EQ(program.exitCode(), signal);
        EXPECT_FALSE(QFileInfo::exists(folder)) << signal;
    }
}

// A cue sheet that would replace the output or an input, could not be written, or could not name
// the output or hold a track per part is refused before anything is written.
TEST_F(CliTest, CueSheetsThatCannotBeWrittenTrulyAreRefusedBeforeTheJoin) {
    const QString part = Path("part.wav");
    ASSERT_TRUE(QFile::copy(testmedia::Tone(44100, 2, 0.2), part));
    const QString out = Path("out.mp3");
    ASSERT_TRUE(QFile::link(part, Path("link.cue")));
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {{"--cue", out, "-o", out, part}, "would replace the output"},
        {{"--copy", "--cue", out, "-o", out, part}, "would replace the output"},
        {{"--overwrite", "--cue", part, "-o", out, part}, "would replace the input"},
        {{"--overwrite", "--cue", Path("link.cue"), "-o", out, part}, "would replace the input"},
        {{"--cue", Path("nodir/x.cue"), "-o", out, part}, "No such file or directory"},
        {{"--cue", Path("q.cue"), "-o", Path("a\"b.mp3"), part}, "cannot name the output a\"b.mp3"},
        {QStringList{"--cue", Path("many.cue"), "-o", out} + QStringList(100, part), "at most 99 tracks"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"link.cue", "part.wav"}));
    EXPECT_EQ(testmedia::ReadFile(part), testmedia::ReadFile(testmedia::Tone(44100, 2, 0.2)));
}

// The audio frames of an MP3 file that holds nothing else, less its leading tag frame.
QByteArray AudioFrames(const QByteArray& file) {
    const std::vector<encodetest::Mp3Frame> frames = encodetest::ParseMp3Frames(file);
    return frames.empty() ? QByteArray() : file.mid(frames[1].offset);
}

TEST_F(CliTest, CopyKeepsTheInputsFramesBehindOneTagFrame) {
    const QString a =
        testmedia::Lame("copy_a.mp3", testmedia::Tone(44100, 2, 0.5), {"-b", "64", "--resample", "44.1"});
    const QString bare = testmedia::Lame("copy_b.mp3", testmedia::Tone(44100, 2, 0.7), {"-b", "192"});
    // The second input between an ID3v2 tag and a cut-off frame with an ID3v1 tag.
    const QByteArray bFile = testmedia::ReadFile(bare);
    const QString b = testmedia::WriteFile("copy_b_tagged.mp3", QByteArray("ID3\x03\0\0\0\0\0\x05", 10) +
                                                                    "xxxxx" + bFile + bFile.left(200) +
                                                                    "TAG" + QByteArray(124, ' ') + '\xff');
    const QString out = Path("copied.mp3");
    const Result r = Run({"--copy", "-o", out, a, b});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray joined = testmedia::ReadFile(out);
    EXPECT_EQ(AudioFrames(joined), AudioFrames(testmedia::ReadFile(a)) + AudioFrames(bFile));

    const std::optional<encodetest::InfoTag> tag = encodetest::ReadInfoTag(joined);
    const std::optional<encodetest::InfoTag> aTag = encodetest::ReadInfoTag(testmedia::ReadFile(a));
    const std::optional<encodetest::InfoTag> bTag = encodetest::ReadInfoTag(bFile);
    ASSERT_TRUE(tag && aTag && bTag);
    EXPECT_EQ(tag->frames, encodetest::ParseMp3Frames(joined).size() - 1);
    EXPECT_EQ(tag->bytes, static_cast<std::uint32_t>(joined.size()));
    EXPECT_EQ(tag->delay, aTag->delay);
    EXPECT_EQ(tag->padding, bTag->padding);
    EXPECT_EQ(tag->musicCrc, tag->expectedMusicCrc);
    EXPECT_EQ(tag->tagCrc, tag->expectedTagCrc);
    // Two bitrates: a "Xing" frame as `lame -V` writes it, so readers count frames for the duration.
    EXPECT_EQ(std::tie(tag->word, tag->frameKbps, tag->method, tag->lameKbps),
              std::tuple("Xing", 128, 4, 32));
    // One bitrate keeps the first part's "Info" frame.
    ASSERT_EQ(Run({"--copy", "-q", "-o", Path("constant.mp3"), a, a}).exitCode, 0);
    const auto constantTag = encodetest::ReadInfoTag(testmedia::ReadFile(Path("constant.mp3")));
    ASSERT_TRUE(constantTag);
    EXPECT_EQ(std::tie(constantTag->word, constantTag->frameKbps, constantTag->method, constantTag->lameKbps),
              std::tie(aTag->word, aTag->frameKbps, aTag->method, aTag->lameKbps));

    // A gapless decode plays both parts and the delay and padding kept between them, as reported.
    const int kept = aTag->padding + bTag->delay;
    EXPECT_TRUE(r.err.contains(QStringLiteral("%1 samples").arg(kept))) << r.err.toStdString();
    EXPECT_EQ(testmedia::OpenAndReadAll(out, false).Frames(),
              testmedia::OpenAndReadAll(a, false).Frames() + testmedia::OpenAndReadAll(b, false).Frames() +
                  static_cast<std::uint64_t>(kept));

    // A stream gets the same bytes; -q leaves standard error empty.
    const Result piped = Run({"--copy", "-q", "-f", "mp3", "-o", "-", a, b});
    EXPECT_EQ(piped.outBytes, joined);
    EXPECT_TRUE(piped.err.isEmpty());
    EXPECT_EQ(Leftovers(), QStringList());

    // Chapters go in an ID3v2 tag before the same stream; the second starts where the first part's
    // frames end, less the encoder delay a gapless player trims.
    const QString chaptered = Path("chaptered.mp3");
    ASSERT_EQ(Run({"--copy", "--chapters", "-q", "-o", chaptered, a, b}).exitCode, 0);
    const QByteArray withTag = testmedia::ReadFile(chaptered);
    EXPECT_TRUE(withTag.startsWith("ID3") && withTag.endsWith(joined));
    EXPECT_EQ(testmedia::OpenAndReadAll(chaptered, false).Frames(),
              testmedia::OpenAndReadAll(out, false).Frames());
    const QJsonArray chapters =
        QJsonDocument::fromJson(
            testmedia::RunTool("ffprobe", {"-v", "error", "-of", "json", "-show_chapters", chaptered}))
            .object()[QStringLiteral("chapters")]
            .toArray();
    ASSERT_EQ(chapters.size(), 2);
    EXPECT_NEAR(chapters[1].toObject()[QStringLiteral("start_time")].toString().toDouble(),
                (testmedia::OpenAndReadAll(a, false).Frames() + aTag->padding) / 44100.0, 0.001);
}

TEST_F(CliTest, CopyRefusesAnInputOfAnotherKindAndWritesNothing) {
    const QString a = testmedia::Lame("copy_a.mp3", testmedia::Tone(44100, 2, 0.5), {"-b", "128"});
    const QString low = testmedia::Lame("copy_low.mp3", testmedia::Tone(22050, 2, 0.5), {"-b", "64"});
    const QString wav = testmedia::Tone(44100, 2, 0.2);
    const QString out = Path("refused.mp3");
    for (const QString& other : {low, wav}) {
        const Result r = Run({"--copy", "-o", out, a, other, low});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.startsWith("wavestitch-join: " + other + ": ")) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
        EXPECT_EQ(Leftovers(), QStringList());
    }
}

TEST_F(CliTest, EncoderThatCannotStartFailsWithoutOutput) {
    // A copy of the joiner without the modules beside it: the MP3 adapter cannot load its encoder.
    const QString lonely = Path(QStringLiteral("wavestitch-join"));
    ASSERT_TRUE(QFile::copy(kJoiner, lonely));
    const QString out = Path(QStringLiteral("nothing.mp3"));
    const Result r = Run({QStringLiteral("-o"), out, testmedia::Tone(44100, 2, 0.2)}, lonely);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("lame_enc.so"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(Leftovers(), QStringList());
}

TEST_F(CliTest, ChaptersTagsAndCueSheetFollowThePartsInNaturalOrder) {
    // Parts of 0.5 s, 1 s and 0.7 s; the last one at half the rate, so its frames come from the
    // conversion. Only the MP3 has tags.
    QDir().mkpath(Path(QStringLiteral("in")));
    const QString first = Path(QStringLiteral("in/b 1.wav"));
    const QString second = Path(QStringLiteral("in/B 2.mp3"));
    const QString third = Path(QStringLiteral("in/b10.wav"));
    ASSERT_TRUE(QFile::copy(testmedia::Tone(44100, 2, 0.5), first));
    testmedia::RunTool("lame", {"--quiet", "--tt", "Two", "--ta", "Reader", "--tl", "Book", "--ty", "1999",
                                testmedia::Tone(44100, 2, 1), second});
    ASSERT_TRUE(QFile::copy(testmedia::Tone(22050, 1, 0.7), third));
    const std::vector<double> starts{0.0, 0.5, 1.5};

    for (const char* format : {"mp3", "wav", "wma", "flac", "m4b", "opus"}) {
        SCOPED_TRACE(format);
        const QString out = Path(QStringLiteral("book.") + QLatin1String(format));
        const QString cue = Path(QStringLiteral("book.cue"));
        const Result r =
            Run({QStringLiteral("--sort=natural"), QStringLiteral("--chapters"), QStringLiteral("--cue"), cue,
                 QStringLiteral("--overwrite"), QStringLiteral("-o"), out, third, second, first});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

        const QJsonObject probe =
            QJsonDocument::fromJson(
                testmedia::RunTool("ffprobe", {"-v", "error", "-of", "json", "-show_chapters", "-show_format",
                                               "-show_streams", out}))
                .object();
        const QJsonArray chapters = probe[QStringLiteral("chapters")].toArray();
        ASSERT_EQ(chapters.size(), 3);
        const QStringList titles{QStringLiteral("b 1"), QStringLiteral("Two"), QStringLiteral("b10")};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject chapter = chapters[i].toObject();
            EXPECT_NEAR(chapter[QStringLiteral("start_time")].toString().toDouble(), starts[i], 0.001);
            EXPECT_EQ(chapter[QStringLiteral("tags")].toObject()[QStringLiteral("title")].toString(),
                      titles[i]);
        }
        // FLAC's Vorbis comments keep the case they are written in (TITLE); Ogg's are the stream's.
        QJsonObject tags;
        const QJsonObject given =
            (QLatin1String(format) == "opus" ? probe["streams"].toArray().first() : probe["format"])
                .toObject()["tags"]
                .toObject();
        for (auto it = given.begin(); it != given.end(); ++it) {
            tags[it.key() == QLatin1String("WM/Year") ? it.key() : it.key().toLower()] = it.value();
        }
        EXPECT_EQ(tags[QStringLiteral("title")].toString(), QStringLiteral("Two"));
        EXPECT_EQ(tags[QStringLiteral("artist")].toString(), QStringLiteral("Reader"));
        // A WMA year is the attribute WM/Year, which ffprobe shows by that name, and its header counts
        // the chapters' marker object among its objects.
        const bool wma = QLatin1String(format) == "wma";
        EXPECT_EQ(tags[wma ? "WM/Year" : "date"].toString(), "1999");
        EXPECT_TRUE(!wma || AsfHeaderAddsUp(testmedia::ReadFile(out)));

        const QString sheet = QString::fromUtf8(testmedia::ReadFile(cue));
        EXPECT_TRUE(sheet.contains(QStringLiteral("FILE \"book.") + QLatin1String(format)));
        EXPECT_TRUE(sheet.contains(
            QStringLiteral("    TITLE \"Two\"\n    PERFORMER \"Reader\"\n    INDEX 01 00:00:37\n")))
            << sheet.toStdString();
        EXPECT_TRUE(sheet.contains(QStringLiteral("    TITLE \"b10\"\n    INDEX 01 00:01:37\n")));
    }
    // The information tag sits after the ID3v2 tag: a decoder still trims the encoder's delay and padding.
    EXPECT_EQ(testmedia::RunTool("ffmpeg",
                                 {"-v", "error", "-i", Path(QStringLiteral("book.mp3")), "-f", "s16le", "-"})
                  .size(),
              static_cast<qsizetype>(2.2 * 44100) * 4);
}

}  // namespace
