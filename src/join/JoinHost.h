// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MessageBox.h"

#include <QString>

namespace join {

// What the join engine needs from its surroundings: the progress dialog in the program, the
// terminal in the command-line joiner, a recorder in tests. The engine has no widgets.
class JoinHost {
public:
    virtual ~JoinHost() = default;

    // The path being joined, or during the output stage the output path.
    virtual void SetStatusText(const QString& text) = 0;
    // Percentage (0 to 100) of the current input file.
    virtual void SetJoinProgress(int percent) = 0;
    // Percentage (0 to 100) of the output stage: writing or encoding.
    virtual void SetOutputProgress(int percent) = 0;
    // Lets the user interface handle its pending events; called after every block.
    virtual void ProcessMessages() = 0;
    // True once the user asked the join to stop; tested after every block.
    virtual bool Terminated() const = 0;
    // Marks the join as failed, so no completion message follows.
    virtual void SetJoinFailed() = 0;
    // The job has finished: the dialog closes by itself.
    virtual void Close() = 0;

    virtual int MessageBox(const QString& text, const QString& caption, unsigned flags) {
        return platform::MessageBox(text, caption, flags);
    }
};

// Passes every call on to another host; a wrapper overrides only what it changes.
class ForwardingHost : public JoinHost {
public:
    explicit ForwardingHost(JoinHost& inner) : inner_(inner) {}

    void SetStatusText(const QString& text) override { inner_.SetStatusText(text); }
    void SetJoinProgress(int percent) override { inner_.SetJoinProgress(percent); }
    void SetOutputProgress(int percent) override { inner_.SetOutputProgress(percent); }
    void ProcessMessages() override { inner_.ProcessMessages(); }
    bool Terminated() const override { return inner_.Terminated(); }
    void SetJoinFailed() override { inner_.SetJoinFailed(); }
    void Close() override { inner_.Close(); }
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
        return inner_.MessageBox(text, caption, flags);
    }

private:
    JoinHost& inner_;
};

}  // namespace join
