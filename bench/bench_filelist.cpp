// SPDX-License-Identifier: GPL-3.0-or-later
// A list of 10,000 rows through the main window: adding them, the status bar totals, moving one
// row, removing every other row and clearing. Each figure is one user action on the full list.
// The tagged MP3 rows, as an album collection gives them, are timed inside the event loop: each
// figure also tells the longest the window went without handling its events, and the join of
// 10,000 one-second clips is set against the same seconds in two long files.
#include "BenchFiles.h"
#include "app/AudioFileRow.h"
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "encode/Formoutput.h"
#include "join/Formprocess.h"
#include "join/Jointhread.h"
#include "platform/ExeFolder.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

namespace {

using bench::Dir;
using bench::Run;

constexpr int kRows = 10000;

// 10,000 paths over ten short WAV files: probing reads only their headers.
QStringList Paths() {
    static QStringList paths;
    if (!paths.isEmpty()) {
        return paths;
    }
    QStringList files;
    for (int i = 0; i < 10; ++i) {
        const QString wav = Dir() + QStringLiteral("row%1.wav").arg(i);
        Run("sox",
            {"-n", "-r", "8000", "-c", "1", "-b", "16", wav, "synth", QString::number(i + 1), "sine", "440"});
        files << wav;
    }
    for (int i = 0; i < kRows; ++i) {
        paths << files[i % files.size()];
    }
    return paths;
}

void FillList() {
    MainForm->ButtonClearClick();
    QStringList paths = Paths();
    MainForm->AddFiles(paths);
    MainForm->UpdateStatusBar();
}

void BM_Add10000(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        MainForm->ButtonClearClick();
        QStringList paths = Paths();
        state.ResumeTiming();
        MainForm->AddFiles(paths);
        MainForm->UpdateStatusBar();
    }
    if (MainForm->RowCount() != kRows) {
        state.SkipWithError("not every file was added");
    }
}
BENCHMARK(BM_Add10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StatusBar10000(benchmark::State& state) {
    FillList();
    for (auto _ : state) {
        MainForm->UpdateStatusBar();
    }
}
BENCHMARK(BM_StatusBar10000)->Unit(benchmark::kMillisecond);

void BM_MoveRowUp10000(benchmark::State& state) {
    FillList();
    MainForm->ListView1->topLevelItem(kRows / 2)->setSelected(true);
    for (auto _ : state) {
        MainForm->ButtonUpClick();
    }
}
BENCHMARK(BM_MoveRowUp10000)->Unit(benchmark::kMillisecond);

void BM_RemoveEveryOtherOf10000(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        FillList();
        for (int i = 0; i < kRows; i += 2) {
            MainForm->ListView1->topLevelItem(i)->setSelected(true);
        }
        state.ResumeTiming();
        MainForm->ButtonRemoveClick();
    }
    if (MainForm->RowCount() != kRows / 2) {
        state.SkipWithError("wrong rows removed");
    }
}
BENCHMARK(BM_RemoveEveryOtherOf10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RemoveOneOf10000(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        FillList();
        MainForm->ListView1->topLevelItem(kRows / 2)->setSelected(true);
        state.ResumeTiming();
        MainForm->ButtonRemoveClick();
    }
}
BENCHMARK(BM_RemoveOneOf10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Clear10000(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        FillList();
        state.ResumeTiming();
        MainForm->ButtonClearClick();
    }
}
BENCHMARK(BM_Clear10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Ten tagged MP3 files of one to ten seconds, linked 1,000 times over as a thousand album folders
// of ten tracks each: every row has a path of its own, as in a real collection.
QStringList TaggedMp3Paths() {
    static QStringList paths;
    if (!paths.isEmpty()) {
        return paths;
    }
    QStringList files;
    for (int i = 0; i < 10; ++i) {
        const QString wav = Dir() + QStringLiteral("track%1.wav").arg(i);
        const QString mp3 = Dir() + QStringLiteral("track%1.mp3").arg(i);
        Run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", QString::number(i + 1), "sine",
                    QString::number(220 + 40 * i)});
        Run("lame", {"--quiet", "-b", "128", "--add-id3v2", "--tt", QStringLiteral("Track %1").arg(i + 1),
                     "--ta", "Some Artist", "--tl", "Some Album", "--tn", QString::number(i + 1), wav, mp3});
        files << mp3;
    }
    for (int album = 1; album <= kRows / 10; ++album) {
        const QString folder = Dir() + QStringLiteral("collection/Album %1/").arg(album);
        QDir().mkpath(folder);
        for (int track = 1; track <= 10; ++track) {
            const QString path = folder + QStringLiteral("%1 Track.mp3").arg(track, 2, 10, QLatin1Char('0'));
            std::error_code error;
            std::filesystem::create_hard_link(files[track - 1].toStdString(), path.toStdString(), error);
            paths << path;
        }
    }
    return paths;
}

// Runs action inside the event loop, as a click would, and lets the window lay out and paint what
// it changed. Gives the time until then and the longest time between two turns of the event loop.
struct LoopTimes {
    double seconds = 0;
    double longestGapMs = 0;
};
LoopTimes InEventLoop(const std::function<void()>& action) {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 done = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        clock.start();
        turn.start();
        action();
        // The delayed layout and the paint of the list.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        done = clock.nsecsElapsed();
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
    });
    loop.exec();
    return {static_cast<double>(done) / 1e9, static_cast<double>(longest) / 1e6};
}

// The program's resident memory now and at its peak, in MB. The benchmarks share one process: the
// figures are those of the list alone when one benchmark runs by itself (--benchmark_filter).
double StatusMb(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(key)) {
            return line.mid(static_cast<qsizetype>(std::strlen(key)))
                       .trimmed()
                       .split(' ')
                       .value(0)
                       .toDouble() /
                   1024;
        }
    }
    return 0;
}

void ClickAdd(const QStringList& paths) {
    MainForm->ExecuteOpenDialog = [paths](QStringList& chosen) {
        chosen = paths;
        return true;
    };
    MainForm->ButtonAddClick();
}

void FillWithTaggedMp3() {
    MainForm->ButtonClearClick();
    ClickAdd(TaggedMp3Paths());
    QCoreApplication::processEvents();
}

// Each repetition a new figure of one action; the medians are reported.
void Report(benchmark::State& state, const LoopTimes& times) {
    state.SetIterationTime(times.seconds);
    state.counters["gap_ms"] = times.longestGapMs;
}

void BM_AddTaggedMp3_10000(benchmark::State& state) {
    const QStringList paths = TaggedMp3Paths();
    for (auto _ : state) {
        MainForm->ButtonClearClick();
        QCoreApplication::processEvents();
        Report(state, InEventLoop([&] { ClickAdd(paths); }));
    }
    if (MainForm->RowCount() != kRows) {
        state.SkipWithError("not every file was added");
    }
    state.counters["rss_mb"] = StatusMb("VmRSS:");
    state.counters["peak_rss_mb"] = StatusMb("VmHWM:");
}
BENCHMARK(BM_AddTaggedMp3_10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

void BM_SelectAllRemove10000(benchmark::State& state) {
    for (auto _ : state) {
        FillWithTaggedMp3();
        Report(state, InEventLoop([] {
                   MainForm->ListView1->selectAll();
                   MainForm->ButtonRemoveClick();
               }));
    }
    if (MainForm->RowCount() != 0) {
        state.SkipWithError("rows left");
    }
}
BENCHMARK(BM_SelectAllRemove10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

void BM_SortByName10000(benchmark::State& state) {
    FillWithTaggedMp3();
    for (auto _ : state) {
        // "Album 10" comes before "Album 2" as Add sorts, after it by name.
        Report(state, InEventLoop([] { MainForm->SortByName(); }));
        if (!MainForm->Row(kRows - 1)->Folder().endsWith(QLatin1String("Album 1000/"))) {
            state.SkipWithError("not sorted by name");
        }
        MainForm->UndoListChange();
    }
}
BENCHMARK(BM_SortByName10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

qint64 joinedBytes = 0;

// A folder of a thousand albums dropped on the window: walked, sorted by name and added.
void BM_DropCollection10000(benchmark::State& state) {
    TaggedMp3Paths();
    const QString collection = Dir() + QStringLiteral("collection");
    for (auto _ : state) {
        MainForm->ButtonClearClick();
        QCoreApplication::processEvents();
        Report(state, InEventLoop([&] { MainForm->WMDropFiles({collection}); }));
    }
    if (MainForm->RowCount() != kRows) {
        state.SkipWithError("not every file was added");
    }
}
BENCHMARK(BM_DropCollection10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

// The window applies its language again whenever it is activated, every row's words included.
void BM_Activate10000(benchmark::State& state) {
    FillWithTaggedMp3();
    for (auto _ : state) {
        Report(state, InEventLoop([] { MainForm->FormActivate(); }));
    }
}
BENCHMARK(BM_Activate10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

// Fifty sorts, Undos and moves of single rows: Undo keeps the last fifty lists, here of 10,000 rows each.
void BM_UndoHistory10000(benchmark::State& state) {
    FillWithTaggedMp3();
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) {
            MainForm->SortByName();
            MainForm->UndoListChange();
            MainForm->ListView1->clearSelection();
            MainForm->Row(i + 1)->setSelected(true);
            MainForm->ButtonUpClick();
        }
    }
    state.counters["rss_mb"] = StatusMb("VmRSS:");
    state.counters["peak_rss_mb"] = StatusMb("VmHWM:");
}
BENCHMARK(BM_UndoHistory10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Joins the rows to a WAV file through the Join button, the wizard and the progress dialog.
double JoinListToWav() {
    const QString output = Dir() + QStringLiteral("joined.wav");
    QTimer::singleShot(0, OutputForm, [output] {
        OutputForm->RadioWAV->click();
        while (OutputForm->PageControl1->currentIndex() != TOutputForm::kFilePage) {
            OutputForm->ButtonNext->click();
        }
        OutputForm->EditOutputFile->setText(output);
        OutputForm->ButtonNext->click();
    });
    QElapsedTimer clock;
    clock.start();
    MainForm->ButtonJoinClick();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    joinedBytes = QFileInfo(output).size();
    // A finished job frees itself from the event loop.
    while (TJoinThread::LiveJobs() > 0) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    QFile::remove(output);
    return seconds;
}

// A second of tone as 8000 Hz mono MP3 with its tags, and two 5,000-second files of the same: lame
// makes 10,000 seconds at this rate in half a minute, at CD quality in four. What a row costs does
// not depend on its rate.
QString ClipMp3(const QString& name, int seconds) {
    const QString path = Dir() + name;
    if (!QFileInfo::exists(path)) {
        Run("sh", {"-c", QStringLiteral("sox -n -t wav -r 8000 -c 1 -b 16 - synth %1 sine 440 gain -6 | "
                                        "lame --quiet -b 32 --add-id3v2 --tt Clip --ta Artist - '%2'")
                             .arg(seconds)
                             .arg(path)});
    }
    return path;
}

// Arg 0: 10,000 one-second rows; 1: the same 10,000 seconds as two rows.
void BM_JoinMp3Rows(benchmark::State& state) {
    QStringList paths;
    if (state.range(0) == 0) {
        const QString clip = ClipMp3(QStringLiteral("clip.mp3"), 1);
        for (int i = 0; i < kRows; ++i) {
            paths << clip;
        }
    } else {
        const QString half = ClipMp3(QStringLiteral("half.mp3"), kRows / 2);
        paths << half << half;
    }
    MainForm->ButtonClearClick();
    MainForm->AddFiles(paths);
    const auto quiet =
        platform::SetMessageBoxHandler([](const QString&, const QString&, unsigned) { return 1; });
    for (auto _ : state) {
        state.SetIterationTime(JoinListToWav());
    }
    platform::SetMessageBoxHandler(quiet);
    // 10,000 seconds of 16-bit mono at 8000 Hz after the header.
    if (ProcessForm->JoinFailed || joinedBytes != 44 + 2LL * 8000 * kRows) {
        state.SkipWithError("the join failed");
    }
}
// The CPU time counts the decoders working ahead on their own threads too: on a machine that is busy
// with other work, it tells the join's own cost better than the time it took.
BENCHMARK(BM_JoinMp3Rows)
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    platform::SetExeFolderForTesting(Dir());
    CreateForms();
    // Shown, as the user sees it: a visible list repaints and relays out on every change.
    MainForm->show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    DestroyForms();
    benchmark::Shutdown();
    return 0;
}
