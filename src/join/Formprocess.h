// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/JoinHost.h"

#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The progress dialog of a join. The job runs nested inside its modal run and reports through a
// ProcessFormHost; Cancel ends the run with result 1 and is also the job's terminate request.
class TProcessForm : public QDialog {
    Q_OBJECT
public:
    // Modal results: Cancel pressed, and the job's own Close at its end.
    static constexpr int kCancelResult = 1;
    static constexpr int kCloseResult = 2;

    explicit TProcessForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label3 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* ButtonCancel = nullptr;
    // Set by the job when it met a failure; cleared by the main window before every join.
    bool JoinFailed = false;

    // True once Cancel (or the close box) was used in the current modal run. Cleared when the
    // dialog is shown, so a request made after the job has ended touches nothing and is gone by
    // the next join.
    bool TerminateRequested() const { return terminateRequested_; }
    void RequestTerminate() { terminateRequested_ = true; }

    // A job's work runs nested inside the modal run from JobStarted until JobEnded. Cancel during
    // that time only asks it to stop: the dialog stays up, keeping the main window blocked, until
    // the job has returned, and then ends with the Cancel result.
    void JobStarted();
    void JobEnded();
    bool JobRunning() const { return runningJobs_ > 0; }

    // Sizes the bar titles to their current texts; called whenever the texts or the font change.
    void SizeLabelsToText();

    // Moves ProgressBar1 or ProgressBar2 to percent. A bar repaints itself at once at every change it
    // can show, and a join of thousands of short files painted it more than it joined: a bar moves at
    // most every 25 ms, to the last value asked for once that time is up.
    void SetProgress(QProgressBar* bar, int percent);
    // Shows the values still waiting at once, as the job ends.
    void ShowPendingProgress();

    void ButtonCancelClick();
    // The window's close box and Escape behave like Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool terminateRequested_ = false;
    int runningJobs_ = 0;
    QTimer* barStep_ = nullptr;
    // -1: nothing waiting.
    int pendingJoin_ = -1;
    int pendingOutput_ = -1;
};

extern TProcessForm* ProcessForm;

namespace join {

// The join job's view of the progress dialog. The dialog may already be gone when a late job
// reports; then everything is ignored and the job is told to stop.
class ProcessFormHost : public JoinHost {
public:
    explicit ProcessFormHost(TProcessForm* form) : form_(form) {}

    void SetStatusText(const QString& text) override;
    void SetJoinProgress(int percent) override;
    void SetOutputProgress(int percent) override;
    void ProcessMessages() override;
    bool Terminated() const override;
    void SetJoinFailed() override;
    // Ends the modal run with result 2, unless Cancel asked the job to stop: then the dialog ends
    // with result 1 once the job has returned.
    void Close() override;

private:
    QPointer<TProcessForm> form_;
};

}  // namespace join
