// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/JoinHost.h"
#include "platform/MessageBox.h"

#include <QString>

namespace cli {

// The join's surroundings in the command-line joiner: one progress line on standard error,
// redrawn in place, messages on standard error, the terminate request from SIGINT and SIGTERM.
class TerminalHost : public join::JoinHost {
public:
    // The language's words before the file being joined and before the output being written.
    struct Words {
        QString joining;
        QString encoding;
    };

    // The job writes the output to outputStagePath; its messages and the progress line name
    // shownOutput instead. Without showProgress nothing is drawn.
    TerminalHost(bool showProgress, Words words, QString outputStagePath, QString shownOutput);
    // Clears the progress line.
    ~TerminalHost() override;
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    void SetStatusText(const QString& text) override;
    void SetJoinProgress(int percent) override;
    void SetOutputProgress(int percent) override;
    void ProcessMessages() override {}
    bool Terminated() const override;
    void SetJoinFailed() override { failed_ = true; }
    void Close() override { closed_ = true; }
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override;

    bool Failed() const { return failed_; }
    // False when the job ended without finishing: an encoder or the output file could not be set up.
    bool Closed() const { return closed_; }

    // The progress line for a stage, a name and a percentage, fitted to columns.
    static QString ProgressLine(const QString& word, const QString& name, int percent, int columns);

private:
    void Draw();
    void ClearLine();

    bool showProgress_;
    Words words_;
    QString outputStagePath_;
    QString shownOutput_;
    bool outputStage_ = false;
    QString name_;
    int joinPercent_ = 0;
    int outputPercent_ = 0;
    QString drawn_;
    bool failed_ = false;
    bool closed_ = false;
    platform::MessageBoxHandler previous_;
};

}  // namespace cli
