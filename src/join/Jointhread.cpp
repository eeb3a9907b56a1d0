// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Jointhread.h"

#include <QCoreApplication>

TJoinThread::TJoinThread(std::unique_ptr<join::JoinHost> host, std::unique_ptr<join::JoinRows> rows,
                         std::function<join::JoinOutput()> output)
    : host_(std::move(host), terminateRequested_), rows_(std::move(rows)), output_(std::move(output)) {
    ++liveJobs_;
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TJoinThread::~TJoinThread() {
    wait();
    --liveJobs_;
}

void TJoinThread::Terminate() {
    terminateRequested_ = true;
}

void TJoinThread::run() {
    // The work touches the list, the dialogs and the encoders, which belong to the user-interface
    // thread; it runs there, inside the progress dialog's modal loop, while this thread waits.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { DoJoin(); }, Qt::BlockingQueuedConnection);
}

void TJoinThread::DoJoin() {
    join::JoinJob job(host_, *rows_, output_);
    job.TempPcmFile = TempPcmFile;
    job.TargetSampleRate = TargetSampleRate;
    job.TargetChannels = TargetChannels;
    job.TargetBits = TargetBits;
    job.OutputFixed = OutputFixed;
    job.DoJoin();
}
