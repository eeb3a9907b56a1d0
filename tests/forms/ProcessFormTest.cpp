// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Formprocess.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using join::ProcessFormHost;

class ProcessFormTest : public testing::Test {
protected:
    // Shows the dialog modally and runs job inside that modal run, as the join does.
    int RunModal(const std::function<void()>& job) {
        QTimer::singleShot(0, form.get(), job);
        return form->exec();
    }

    // A job of the given number of blocks that stops at its first check after a terminate request.
    // Returns the number of blocks done.
    static int RunBlocks(join::JoinHost& host, int blocks, const std::function<void(int)>& afterBlock) {
        int done = 0;
        for (int b = 0; b < blocks; ++b) {
            host.SetJoinProgress((b + 1) * 100 / blocks);
            ++done;
            afterBlock(b);
            host.ProcessMessages();
            if (host.Terminated()) {
                break;
            }
        }
        host.Close();
        return done;
    }

    std::unique_ptr<TProcessForm> form = std::make_unique<TProcessForm>();
};

TEST_F(ProcessFormTest, JobThatFinishesClosesWithResultTwoAndReportsThroughTheHost) {
    ProcessFormHost host(form.get());
    QStringList shownAtStart;
    const auto job = [&] {
        shownAtStart << form->Label1->text();
        host.SetStatusText(QStringLiteral("/music/<b>live</b>.wav"));
        host.SetJoinProgress(40);
        host.SetOutputProgress(70);
        host.SetJoinFailed();
        host.Close();
    };
    const int result = RunModal(job);
    EXPECT_EQ(result, TProcessForm::kCloseResult);
    // A file name is shown as it is named, never read as markup.
    EXPECT_EQ(form->Label1->text(), QStringLiteral("/music/<b>live</b>.wav"));
    EXPECT_EQ(form->Label1->textFormat(), Qt::PlainText);
    EXPECT_EQ(form->ProgressBar1->value(), 40);
    EXPECT_EQ(form->ProgressBar2->value(), 70);
    EXPECT_TRUE(form->JoinFailed);
    EXPECT_FALSE(form->isVisible());
    // Neither a placeholder nor the last join's path shows before the job names its first file.
    RunModal(job);
    EXPECT_EQ(shownAtStart, (QStringList{QString(), QString()}));
}

TEST_F(ProcessFormTest, CancelStopsTheJobAtTheNextCheckAndKeepsTheDialogUpUntilItHasReturned) {
    ProcessFormHost host(form.get());
    int blocks = 0;
    bool upAfterStop = false;
    form->JobStarted();
    const int result = RunModal([&] {
        blocks = RunBlocks(host, 50, [&](int b) {
            if (b == 4) {
                // A click that arrives while the job is between two blocks.
                QTimer::singleShot(0, form->ButtonCancel, &QPushButton::click);
            }
        });
        // The main window stays blocked while the stopped job unwinds.
        upAfterStop = form->isVisible() && !form->ButtonCancel->isEnabled();
        form->JobEnded();
    });
    EXPECT_EQ(result, TProcessForm::kCancelResult);
    EXPECT_EQ(blocks, 5);
    EXPECT_TRUE(upAfterStop);
    EXPECT_TRUE(form->TerminateRequested());
}

TEST_F(ProcessFormTest, CloseBoxActsAsCancel) {
    ProcessFormHost host(form.get());
    int blocks = 0;
    const int result = RunModal([&] {
        blocks = RunBlocks(host, 50, [&](int b) {
            if (b == 1) {
                QTimer::singleShot(0, form.get(), &QDialog::close);
            }
        });
    });
    EXPECT_EQ(result, TProcessForm::kCancelResult);
    EXPECT_EQ(blocks, 2);
}

TEST_F(ProcessFormTest, DialogLeftOpenByAFailedJobIsEndedByCancel) {
    ProcessFormHost host(form.get());
    const int result = RunModal([&] {
        host.SetStatusText(QStringLiteral("/out/x.mp3"));
        // The job returns without Close, as after an encoder that could not start.
        QTimer::singleShot(0, form->ButtonCancel, &QPushButton::click);
    });
    EXPECT_EQ(result, TProcessForm::kCancelResult);
    EXPECT_FALSE(form->JoinFailed);
}

TEST_F(ProcessFormTest, LateTerminateRequestDoesNotReachTheNextJoin) {
    {
        ProcessFormHost host(form.get());
        EXPECT_EQ(RunModal([&] { RunBlocks(host, 3, [](int) {}); }), TProcessForm::kCloseResult);
    }
    // The main window's request after the first job has gone.
    form->RequestTerminate();

    ProcessFormHost next(form.get());
    int blocks = 0;
    EXPECT_EQ(RunModal([&] { blocks = RunBlocks(next, 3, [](int) {}); }), TProcessForm::kCloseResult);
    EXPECT_EQ(blocks, 3);
}

TEST_F(ProcessFormTest, HostOutlivingTheDialogTouchesNothingAndStopsTheJob) {
    ProcessFormHost host(form.get());
    form.reset();
    host.SetStatusText(QStringLiteral("x"));
    host.SetJoinProgress(10);
    host.SetOutputProgress(10);
    host.SetJoinFailed();
    host.Close();
    EXPECT_TRUE(host.Terminated());
}

}  // namespace
