// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/JoinHost.h"
#include "join/JoinJob.h"

#include <QThread>

#include <atomic>
#include <memory>

// One join as a thread object. Its thread does no work of its own: it hands the job to the
// user-interface thread, waits until the job has returned, and the object then frees itself.
class TJoinThread : public QThread {
    Q_OBJECT
public:
    TJoinThread(std::unique_ptr<join::JoinHost> host, std::unique_ptr<join::JoinRows> rows,
                std::function<join::JoinOutput()> output);
    ~TJoinThread() override;

    QString TempPcmFile;
    int TargetSampleRate = 0;
    int TargetChannels = 1;
    int TargetBits = 8;
    bool OutputFixed = false;  // as the job's

    // Asks the job to stop; it sees the request at its next check between blocks, together with
    // its host's own (the progress dialog's Cancel).
    void Terminate();

    void DoJoin();

    // Jobs alive in this process: each frees itself once its thread has ended.
    static int LiveJobs() { return liveJobs_; }

protected:
    void run() override;

private:
    // The host as the job sees it: the terminate request of this object joins the host's own.
    class Host : public join::ForwardingHost {
    public:
        Host(std::unique_ptr<join::JoinHost> inner, const std::atomic<bool>& terminate)
            : ForwardingHost(*inner), inner_(std::move(inner)), terminate_(terminate) {}
        bool Terminated() const override { return terminate_ || ForwardingHost::Terminated(); }

    private:
        std::unique_ptr<join::JoinHost> inner_;
        const std::atomic<bool>& terminate_;
    };

    static inline std::atomic<int> liveJobs_{0};
    std::atomic<bool> terminateRequested_{false};
    Host host_;
    std::unique_ptr<join::JoinRows> rows_;
    std::function<join::JoinOutput()> output_;
};
