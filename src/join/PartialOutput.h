// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/SignalCleanup.h"

#include <QString>

#include <optional>

namespace join {

// A join writes into a hidden file beside its output, which takes the output's name only when the
// join has finished: a failed, cancelled or interrupted join leaves no half-written file, and an
// existing one byte for byte as it was.
class PartialOutput {
public:
    explicit PartialOutput(const QString& output) : output_(output) {}
    // Removes the hidden file unless it took the output's name.
    ~PartialOutput();
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    bool Create();
    QString Path() const { return path_; }
    QString ErrorText() const { return error_; }

    // Gives the finished file the output's name, with the permissions a new file gets (or the
    // replaced file had). Without overwrite an output that appeared meanwhile is kept.
    bool Commit(bool overwrite);

private:
    QString output_;
    QString path_;
    QString error_;
    bool committed_ = false;
    std::optional<platform::RemovedOnSignal> onSignal_;
};

}  // namespace join
