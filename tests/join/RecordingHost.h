// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/JoinHost.h"

#include <functional>
#include <vector>

// A join host that records what the engine reports and can ask it to stop after a chosen number
// of blocks.
class RecordingHost : public join::JoinHost {
public:
    struct Message {
        QString text;
        QString caption;
        unsigned flags;
    };

    void SetStatusText(const QString& text) override { statusText = text; }
    void SetJoinProgress(int percent) override { joinProgress.push_back(percent); }
    void SetOutputProgress(int percent) override { outputProgress.push_back(percent); }
    void ProcessMessages() override { ++processed; }
    bool Terminated() const override { return terminateAfter >= 0 && processed >= terminateAfter; }
    void SetJoinFailed() override { joinFailed = true; }
    void Close() override { closed = true; }
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
        messages.push_back({text, caption, flags});
        return 1;
    }

    QString statusText;
    std::vector<int> joinProgress;
    std::vector<int> outputProgress;
    int processed = 0;
    int terminateAfter = -1;  // blocks after which Terminated() turns true; -1 never
    bool joinFailed = false;
    bool closed = false;
    std::vector<Message> messages;
};
