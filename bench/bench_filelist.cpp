// SPDX-License-Identifier: GPL-3.0-or-later
// A list of 10,000 rows through the main window: adding them, the status bar totals, moving one
// row, removing every other row and clearing. Each figure is one user action on the full list.
#include "BenchFiles.h"
#include "app/ErrorReport.h"
#include "app/Formmain.h"
#include "app/Startup.h"
#include "platform/ExeFolder.h"

#include <QTreeWidget>

#include <benchmark/benchmark.h>

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
